#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <set>
#include <utility>

#include "commission/Clock.h"
#include "commission/Commission.h"
#include "commission/DeviceCommission.h"
#include "commission/DeviceSightings.h"
#include "commission/PortLease.h"
#include "commission/SearchSchedule.h"
#include "commission/Segment.h"

// The commissioning engine: every task's machine (DeviceCommission), the
// searches while devices are awaited and, for a station, a watch's searches
// between them (SearchSchedule), the port (PortLease), and how many setups
// are in their first seconds at once. It reads no clock and owns no socket:
// it is told the time and what came in, and acts through SegmentActions.
class Commissioner : public SegmentClient, private SearchHost {
public:
    // `start`: when the run begins (a station's time-out counts from it).
    // `portHeld`: the port is open already (a station's may be closed).
    Commissioner(const CommissionOptions& options, SegmentActions& segment,
                 CommissionObserver* observer, Instant start, bool portHeld = true);
    Commissioner(const Commissioner&) = delete;
    Commissioner& operator=(const Commissioner&) = delete;

    // Adds a task, named by a MAC that no task has yet; it starts at the next
    // Advance (a setup as soon as fewer than setupsAtOnce are in their first
    // seconds). Returns its number.
    size_t Add(const CommissionTask& task);

    void Advance(Instant now) override;
    Instant NextWake() const override;
    void Answer(Instant now, const uint8_t* record, size_t length,
                unsigned interfaceIndex) override;
    void Confirmation(Instant now, const uint8_t* mac) override;
    void IdWritten(Instant now, const IdWriteDone& done) override;
    void End(Instant now) override { searches_.End(now); }

    // Every task without an outcome ends Interrupted, at once.
    void Stop(Instant now) override;
    // A station takes no device more: its watch's searches stop.
    void EndWatch() { watchEnded_ = true; }
    // The caller heard the segment change (a device it did not know): the
    // station's watch keeps its searches frequent.
    void SegmentChanged() { changed_ = true; }

    // Every task has its outcome.
    bool AllDone() const { return remaining_ == 0; }
    // A station's searches for further devices are over at `now`: its
    // time-out has passed, or EndWatch.
    bool WatchOver(Instant now) const { return watchEnded_ || TimedOut(now); }
    // The station's time-out has passed at `now`.
    bool TimedOut(Instant now) const { return now >= watchEndsAt_; }

    size_t Tasks() const { return devices_.size(); }
    const CommissionTask& Task(size_t task) const { return devices_.at(task).Task(); }
    const CommissionResult& Result(size_t task) const { return devices_.at(task).Result(); }

private:
    // SearchHost
    void SendRequest() override { segment_.SendSearch(); }
    bool TakePort(Instant now, Instant* retryAt) override;
    bool SearchEnded(Instant) override { return std::exchange(changed_, false); }

    bool Watching() const { return options_.watch && !WatchOver(now_); }
    void StartNew(Instant now);
    void ServeDue(Instant now);
    bool TakePortForSetup(Instant now);
    void ReportWaiting(Instant now);
    // Runs `call` on task `i`, then brings the run's counts and clocks up to
    // date with what it did.
    template <typename Call>
    void Touch(size_t i, Call call);
    const size_t* TaskOf(const uint8_t* mac) const;

    CommissionOptions options_;
    SegmentActions& segment_;
    CommissionObserver* observer_;
    DeviceCommission::Context context_;
    // A deque: adding a task leaves references to the others valid.
    std::deque<DeviceCommission> devices_;
    std::map<MacAddress, size_t> byMac_;
    std::deque<size_t> fresh_;
    std::deque<size_t> queued_;
    // Each started task's next wake, at most one entry each.
    std::set<std::pair<Instant, size_t>> wakes_;
    size_t remaining_ = 0;
    size_t awaited_ = 0;
    size_t inBurst_ = 0;

    SearchSchedule searches_{*this};
    PortLease port_;
    Instant now_;
    Instant nextWaitingReport_;
    Instant watchEndsAt_ = kNever;
    bool watchEnded_ = false;
    bool changed_ = false;
};
