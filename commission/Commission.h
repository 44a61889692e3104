#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "setup/SetupDatagram.h"

// Commissioning devices on a real segment: new network settings, the device's
// way back at its new address, its ID, and a reading that proves each.
//
// Devices do not behave as on a bench. Many confirm a setup and then restart
// for seconds before they answer at the new address; a datagram, the setup's
// or its confirmation, can be lost. So a setup is sent again until it is
// confirmed or the device is seen with its new values; after a confirmation
// the device is searched for (only while someone is missing) until it
// answers with every value asked; its ID is written once it is back, and
// compared with the ID the device's reply carries. Each device has its own
// deadline for all of that, counted from its first setup datagram.
//
// The decisions are made without I/O (Commissioner.h, DeviceCommission.h,
// SearchSchedule.h, PortLease.h); the driver (SegmentDriver.h) gives them a
// socket, writers and a clock.

// IDs written at once. Each write is one short TCP connection to a different
// device, so a handful at once cuts the time of a large plan to a fraction;
// more would only load the workstation and the segment with connections.
constexpr size_t kIdWritesAtOnce = 16;
// Default deadline of a device: enough for one that restarts for 10 s after
// a setup whose first two datagrams were lost, with its ID written twice.
constexpr int kDefaultSettleTimeoutMs = 20000;

// One device to commission, named by its MAC (unique among the tasks).
struct CommissionTask {
    SetupValues target;  // the MAC and every value the device is to have
    // False: the device reports every target value already; only the ID (if
    // any) is written.
    bool setupNeeded = true;
    std::optional<uint8_t> id;
    // Where the device answered the search; setups leave by these, in turn.
    // Empty (or 0): as the window broadcasts.
    std::vector<unsigned> interfaces;
    // Not 0: setups go straight to this present address (host byte order)
    // instead of by broadcast.
    uint32_t directTo = 0;
};

enum class CommissionOutcome : uint8_t {
    Verified,      // seen with every target value; the ID, if asked, read back as asked
    Confirmed,     // confirmed, without waiting for the device to come back (awaitReturn off)
    NotConfirmed,  // no confirmation, and never seen with the target values
    NotBack,       // confirmed, then not seen again before the deadline
    OtherValues,   // confirmed, but seen with other values until the deadline
    IdNotWritten,  // seen with the target values; the ID failed or read back otherwise
    Interrupted,   // the run was stopped before the task had its outcome
};

struct CommissionResult {
    CommissionOutcome outcome = CommissionOutcome::NotConfirmed;
    int setupDatagrams = 0;   // setup datagrams that went out
    bool sendFailed = false;  // a setup datagram went out nowhere
    bool confirmed = false;
    bool seenWithTarget = false;
    // The record the device last answered a search with during the run
    // (empty: none).
    std::vector<uint8_t> lastRecord;
    int idAttempts = 0;
    int idResult = 0;  // the last write's channel code (or the data count)
    int32_t idDetail = 0;
    std::optional<uint8_t> idReadBack;
    int elapsedMs = 0;  // from the task's start to its outcome
};

// Steps of a task, for progress.
enum class CommissionStep : uint8_t {
    SetupSent,  // a setup datagram went out (result.setupDatagrams counts them)
    Confirmed,  // the device confirmed
    Back,       // the device answered with every target value
    IdFailed,   // a write of the ID failed and will be tried again
    Finished,   // the task has its outcome
};

// What a run tells of its tasks as they go. It tells; it decides nothing.
class CommissionObserver {
public:
    virtual ~CommissionObserver() = default;
    virtual void OnStep(size_t task, CommissionStep step, const CommissionResult& result) = 0;
    // About once a second while devices are awaited after their setup:
    // how many, and how long the first of them has been awaited.
    virtual void OnWaiting(size_t devices, int waitedMs) = 0;
    // The port was wanted (a setup, a watch's search) and another program
    // holds it; it is tried again a second later.
    virtual void OnPortBusy() {}
};

struct CommissionOptions {
    // Setups in their first seconds (still sent again by the clock) at once.
    size_t setupsAtOnce = 64;
    int settleTimeoutMs = kDefaultSettleTimeoutMs;
    // False: a setup ends at its confirmation (or at a search that shows the
    // device with its values); nothing waits for it to come back, and no ID
    // is written.
    bool awaitReturn = true;
    // A commissioning station: between the tasks' own searches, the run
    // searches on a watch's schedule (SearchSchedule.h), for devices that
    // come, until `watchTimeoutMs` passes (0: never) or EndWatch; it holds
    // the port only while a search or a task needs it.
    bool watch = false;
    int watchTimeoutMs = 0;
};

// True when `record` holds every value of `target`.
bool RecordShows(const uint8_t* record, size_t length, const SetupValues& target);
