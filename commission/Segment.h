#pragma once

#include <cstddef>
#include <cstdint>

#include "commission/Clock.h"
#include "commission/IdWriters.h"
#include "setup/SetupDatagram.h"

// The two sides of a run on a segment. The decisions (the commissioning
// engine, a watch, a repeated search) are SegmentClients: told the time and
// what came in, they act through SegmentActions. The driver gives the actions
// a socket and ID writers on threads, and feeds the client from a wait; the
// tests give them a segment in memory and feed the client in virtual time.

class SegmentActions {
public:
    virtual ~SegmentActions() = default;

    // Takes UDP port 3195: false while another program holds it.
    virtual bool OpenPort() = 0;
    // Gives the port back, so that the window or another velquint can search.
    virtual void ClosePort() = 0;

    // One discovery request, out of the run's search interface (or as the
    // window sends it). False when it went out nowhere.
    virtual bool SendSearch() = 0;

    // One setup datagram, by broadcast out of `interfaceIndex` (0: as the
    // window broadcasts), or straight to `directTo` (host byte order) when
    // that is not 0. False when it went out nowhere.
    virtual bool SendSetup(const uint8_t (&datagram)[kSetupDatagramLength], unsigned interfaceIndex,
                           uint32_t directTo) = 0;

    // Starts a write of a device's ID; its result comes back through
    // SegmentClient::IdWritten.
    virtual void WriteId(const IdWriteJob& job) = 0;
};

class SegmentClient {
public:
    virtual ~SegmentClient() = default;

    // Does what is due at `now`.
    virtual void Advance(Instant now) = 0;
    // When something is due next (kNever: only what comes in).
    virtual Instant NextWake() const = 0;

    // A discovery answer (the reply from byte 8 on) that came in on
    // `interfaceIndex`.
    virtual void Answer(Instant now, const uint8_t* record, size_t length,
                        unsigned interfaceIndex) = 0;
    // A setup reply that confirms the setup of device `mac`.
    virtual void Confirmation(Instant /*now*/, const uint8_t* /*mac*/) {}
    // A write of an ID has ended.
    virtual void IdWritten(Instant /*now*/, const IdWriteDone& /*done*/) {}

    // The run is over: a search still listening ends.
    virtual void End(Instant /*now*/) {}
    // The run was stopped (Ctrl-C): whatever is under way ends at once.
    virtual void Stop(Instant /*now*/) {}
};
