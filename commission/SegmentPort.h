#pragma once

#include <cstddef>
#include <cstdint>

#include "discovery/DiscoveryDatagram.h"
#include "platform/Sockets.h"
#include "setup/SetupDatagram.h"

// UDP port 3195 held for a whole run of searches and setups. The port is
// bound without address reuse, as the window binds it, so a second socket of
// our own would fail to bind while the first is open: a run that searches,
// sets up and searches again sends everything from this one socket and reads
// every reply from it.

// Datagrams a caller takes between two looks at its clock: a flood must not
// keep it from its deadlines.
constexpr size_t kMostDatagramsAtOnce = 512;

// One datagram as it arrived.
struct SegmentDatagram {
    uint8_t bytes[kLargestReplyRead] = {};
    ssize_t length = -1;          // -1: a failed receive, or longer than the buffer
    unsigned interfaceIndex = 0;  // where it came in
};

class SegmentPort {
public:
    SegmentPort() = default;
    ~SegmentPort();
    SegmentPort(const SegmentPort&) = delete;
    SegmentPort& operator=(const SegmentPort&) = delete;

    // Binds the port as a search does (OpenDiscoverySocket), asking where
    // each datagram comes in. 0, or the DiscoverDevices code of the step that
    // failed (kDiscoverSocketFailed to kDiscoverBindFailed).
    int Open();
    // Gives the port back, so that another program (the window, another
    // velquint) can search; Open takes it again.
    void Close();
    bool IsOpen() const { return socket_ != kNoSocket; }
    // What a wait watches (WaitReadableOrWoken); kNoSocket while closed.
    SocketHandle Descriptor() const { return socket_; }

    // One discovery request, out of interface `interfaceIndex` only, or as
    // the window sends it when that is 0 (by the default route, or out of
    // every broadcast-capable interface when there is none). False when it
    // went out nowhere.
    bool SendSearch(unsigned interfaceIndex);

    // One setup datagram, with MSG_DONTROUTE as the window sends it: straight
    // to `directTo` (host byte order) when that is not 0, otherwise by
    // broadcast out of `interfaceIndex` (0: as the window broadcasts). False
    // when it went out nowhere.
    bool SendSetup(const uint8_t (&datagram)[kSetupDatagramLength], unsigned interfaceIndex,
                   uint32_t directTo);

    // The next datagram waiting, without waiting for one: false when none is.
    bool Receive(SegmentDatagram* datagram);

private:
    SocketHandle socket_ = kNoSocket;
};
