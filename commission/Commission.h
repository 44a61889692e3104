#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "commission/SegmentPort.h"
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

// Times of the schedule, chosen in the lab against devices that restart
// after a setup and datagrams that are lost:
//
// An unconfirmed setup goes again 0.5 s, 1 s and 2 s after the first
// datagram: a device whose datagram was lost restarts at most a second or
// two later than the others. Later datagrams would risk reaching a device
// that took an earlier one, has just come back, and would restart again; so
// after that a setup is sent again only when the device answers a search,
// with its old values, after the last datagram went out: then it is up, and
// did not take it.
constexpr int kSetupResendAfterMs[] = {500, 1000, 2000};
constexpr int kMostSetupDatagrams = 8;
// While devices are awaited, a search goes out every second, and every 250 ms
// while devices are coming back (the interval doubles again with each search
// that brings none back): a reply lost at the moment a device returns costs
// a quarter of a second, and a segment waiting for devices to restart hears
// one request a second. The first search after a confirmation goes out 50 ms
// after it.
constexpr int kReturnSearchSlowMs = 1000;
constexpr int kReturnSearchFastMs = 250;
constexpr int kReturnSearchPromptMs = 50;
// IDs written at once. Each write is one short TCP connection to a different
// device, so a handful at once cuts the time of a large plan to a fraction;
// more would only load the workstation and the segment with connections.
constexpr size_t kIdWritesAtOnce = 16;
// A refused or reset connection (a device still starting its service) is
// tried again this much later, within the device's deadline.
constexpr int kIdRetryAfterMs = 500;
// Default deadline of a device: enough for one that restarts for 10 s after
// a setup whose first two datagrams were lost, with its ID written twice.
constexpr int kDefaultSettleTimeoutMs = 20000;
// A watch searches about once a second, with two requests 100 ms apart (a
// device missed by both is rare even on a lossy segment), and listens until
// 300 ms pass without news. While nothing changes it grows quieter: each
// search that brings no change doubles the interval, up to 4 s. Between its
// searches it holds no socket on port 3195.
constexpr int kWatchSearchMs = 1000;
constexpr int kWatchQuietestMs = 4000;
constexpr int kWatchPasses = 2;
constexpr int kWatchListenMs = 300;
// A search of a watch that finds port 3195 taken (the window or another
// velquint searching) is tried again this much later.
constexpr int kWatchPortRetryMs = 1000;

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

// Whether the outcome is a success.
inline bool Succeeded(CommissionOutcome outcome) {
    return outcome == CommissionOutcome::Verified || outcome == CommissionOutcome::Confirmed;
}

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

class CommissionObserver {
public:
    virtual ~CommissionObserver() = default;
    virtual void OnStep(size_t task, CommissionStep step, const CommissionResult& result) = 0;
    // About once a second while devices are awaited after their setup:
    // how many, and how long the first of them has been awaited.
    virtual void OnWaiting(size_t devices, int waitedMs) = 0;
    // Every discovery answer the run hears: its record and the interface it
    // came in on. The observer may add tasks here (a watch's new device).
    virtual void OnReply(const uint8_t* /*record*/, size_t /*length*/, unsigned /*interface*/) {}
    // A search has ended: every answer it brought came before. True when the
    // segment changed (a new device, a device gone, new settings), which
    // keeps a watch's searches frequent.
    virtual bool OnSearchEnded() { return false; }
    // A watch's search found port 3195 taken and was skipped.
    virtual void OnPortBusy() {}
    // Watch: true once the run may end (every device it waits for is done).
    virtual bool Finished() { return false; }
};

struct CommissionOptions {
    // Setups in their first seconds (still sent again by the clock) at once.
    size_t setupsAtOnce = 64;
    int settleTimeoutMs = kDefaultSettleTimeoutMs;
    // False: a setup ends at its confirmation (or at a search that shows the
    // device with its values); nothing waits for it to come back, and no ID
    // is written.
    bool awaitReturn = true;
    // Interface of the searches (0: as the window's).
    unsigned searchInterface = 0;
    // When given and true, the run ends: every task without an outcome ends
    // Interrupted, at once (a write of an ID under way is left to end on
    // its own).
    bool (*stop)() = nullptr;
    // Watch: the run does not end when its tasks do. It searches on its own
    // schedule (kWatchSearchMs), telling the observer of every answer, until
    // the observer is Finished, `watchTimeoutMs` passes (0: never) or stop.
    // Between its searches it holds the port only while a task needs it.
    // After the time-out it takes no task more, and ends when its tasks do.
    bool watch = false;
    int watchTimeoutMs = 0;
};

// A run of commissioning on `port`: tasks can be added while it runs (a
// watch's devices as they come). The port may be closed at the start of a
// watch; the run opens it when it needs it.
class Commissioner {
public:
    Commissioner(SegmentPort& port, const CommissionOptions& options, CommissionObserver* observer);
    ~Commissioner();
    Commissioner(const Commissioner&) = delete;
    Commissioner& operator=(const Commissioner&) = delete;

    // Adds a task, named by a MAC that no task has yet; it starts at once
    // (a setup as soon as fewer than setupsAtOnce are in their first
    // seconds). Returns its number.
    size_t Add(const CommissionTask& task);

    // Runs until every task has its outcome (a watch: until it ends).
    void Run();

    size_t Tasks() const;
    const CommissionTask& Task(size_t task) const;
    const CommissionResult& Result(size_t task) const;
    // Whether the watch's time-out has passed (no task is taken after it).
    bool TimedOut() const;

private:
    class Run_;
    std::unique_ptr<Run_> run_;
};

// Runs every task on `port` (open) and fills `results`, one per task, in
// order. Returns when every task has its outcome.
void Commission(SegmentPort& port, const std::vector<CommissionTask>& tasks,
                const CommissionOptions& options, CommissionObserver* observer,
                std::vector<CommissionResult>* results);

// True when `record` holds every value of `target`.
bool RecordShows(const uint8_t* record, size_t length, const SetupValues& target);
