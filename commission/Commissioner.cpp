#include "commission/Commissioner.h"

#include <algorithm>
#include <vector>

#include "discovery/DeviceRecord.h"

namespace {

// How often OnWaiting is called.
constexpr int kWaitingReportEveryMs = 1000;

}  // namespace

Commissioner::Commissioner(const CommissionOptions& options, SegmentActions& segment,
                           CommissionObserver* observer, Instant start, bool portHeld)
    : options_(options),
      segment_(segment),
      observer_(observer),
      context_{segment, observer, options.settleTimeoutMs, options.awaitReturn},
      port_(portHeld),
      now_(start),
      nextWaitingReport_(After(start, kWaitingReportEveryMs)) {
    if (options_.watch && options_.watchTimeoutMs > 0) {
        watchEndsAt_ = After(start, options_.watchTimeoutMs);
    }
}

size_t Commissioner::Add(const CommissionTask& task) {
    const size_t i = devices_.size();
    devices_.emplace_back(i, task, context_);
    byMac_[RecordMac(task.target.mac, kMacLength)] = i;
    fresh_.push_back(i);
    ++remaining_;
    return i;
}

void Commissioner::Advance(Instant now) {
    now_ = now;
    StartNew(now);
    ServeDue(now);
    if (now >= nextWaitingReport_) {
        ReportWaiting(now);
    }
    searches_.Advance(now, awaited_ > 0, Watching());
    if (options_.watch && port_.Held() && !searches_.Listening() && remaining_ == 0) {
        port_.GiveBack(segment_);
    }
}

Instant Commissioner::NextWake() const {
    // Tasks added, or setups waiting for room that has come.
    if (!fresh_.empty() || (!queued_.empty() && port_.Held() &&
                            inBurst_ < std::max<size_t>(1, options_.setupsAtOnce))) {
        return now_;
    }
    // The watch's searches wait while someone is awaited (Advance): their
    // times are no wake then.
    Instant next = std::min(searches_.NextWake(Watching() && awaited_ == 0), nextWaitingReport_);
    // The station's time-out, until it has come: a time-out that has passed
    // would wake the driver at once, again and again, while devices are
    // still under way.
    if (options_.watch && !TimedOut(now_)) {
        next = std::min(next, watchEndsAt_);
    }
    if (!queued_.empty() && !port_.Held()) {
        next = std::min(next, port_.RetryAt());
    }
    if (!wakes_.empty()) {
        next = std::min(next, wakes_.begin()->first);
    }
    return next;
}

void Commissioner::Answer(Instant now, const uint8_t* record, size_t length, unsigned) {
    now_ = now;
    searches_.Heard(now);
    const size_t* task = length < kMacLength ? nullptr : TaskOf(record);
    if (task == nullptr) {
        return;
    }
    bool back = false;
    Touch(*task, [&](DeviceCommission& device) {
        back = device.Answer(now, record, length, searches_.LastRequest());
    });
    if (back) {
        searches_.BroughtBack();
    }
}

void Commissioner::Confirmation(Instant now, const uint8_t* mac) {
    now_ = now;
    const size_t* task = TaskOf(mac);
    if (task == nullptr) {
        return;
    }
    bool returning = false;
    Touch(*task, [&](DeviceCommission& device) { returning = device.Confirmation(now); });
    if (returning) {
        searches_.Confirmed(now);
    }
}

void Commissioner::IdWritten(Instant now, const IdWriteDone& done) {
    now_ = now;
    if (done.task < devices_.size()) {
        Touch(done.task, [&](DeviceCommission& device) { device.IdWritten(now, done); });
    }
}

void Commissioner::Stop(Instant now) {
    now_ = now;
    fresh_.clear();
    queued_.clear();
    for (size_t i = 0; i < devices_.size(); ++i) {
        Touch(i, [&](DeviceCommission& device) { device.Stop(now); });
    }
}

// Tasks added since the last look: an ID alone starts at once, a setup as
// soon as fewer than setupsAtOnce are in their first seconds.
void Commissioner::StartNew(Instant now) {
    while (!fresh_.empty()) {
        const size_t i = fresh_.front();
        fresh_.pop_front();
        if (devices_[i].Task().setupNeeded) {
            queued_.push_back(i);
        } else {
            Touch(i, [&](DeviceCommission& device) { device.Start(now); });
        }
    }
    while (!queued_.empty() && inBurst_ < std::max<size_t>(1, options_.setupsAtOnce) &&
           TakePortForSetup(now)) {
        const size_t i = queued_.front();
        queued_.pop_front();
        searches_.Awaiting(now);
        Touch(i, [&](DeviceCommission& device) { device.Start(now); });
    }
}

// Each task whose time has come, once: one whose next time has passed as
// well (a run that woke late) is served again at the next turn, after what
// came in meanwhile.
void Commissioner::ServeDue(Instant now) {
    std::vector<size_t> due;
    for (auto wake = wakes_.begin(); wake != wakes_.end() && wake->first <= now; ++wake) {
        due.push_back(wake->second);
    }
    for (const size_t i : due) {
        Touch(i, [&](DeviceCommission& device) { device.Serve(now); });
    }
}

void Commissioner::ReportWaiting(Instant now) {
    nextWaitingReport_ = After(now, kWaitingReportEveryMs);
    if (awaited_ == 0 || observer_ == nullptr) {
        return;
    }
    Instant earliest = now;
    for (const DeviceCommission& device : devices_) {
        if (device.Awaited()) {
            earliest = std::min(earliest, device.StartedAt());
        }
    }
    observer_->OnWaiting(awaited_, static_cast<int>(MillisecondsBetween(earliest, now)));
}

bool Commissioner::TakePortForSetup(Instant now) {
    Instant retryAt = kNever;
    return TakePort(now, &retryAt);
}

bool Commissioner::TakePort(Instant now, Instant* retryAt) {
    switch (port_.Take(now, segment_)) {
        case PortLease::Taking::Held:
            return true;
        case PortLease::Taking::Busy:
            if (observer_ != nullptr) {
                observer_->OnPortBusy();
            }
            break;
        case PortLease::Taking::Later:
            break;
    }
    *retryAt = port_.RetryAt();
    return false;
}

template <typename Call>
void Commissioner::Touch(size_t i, Call call) {
    DeviceCommission& device = devices_[i];
    const bool wasInBurst = device.InBurst();
    const bool wasAwaited = device.Awaited();
    const bool wasDone = device.Done();
    const Instant wake = device.NextWake();
    call(device);
    if (device.InBurst() != wasInBurst) {
        device.InBurst() ? ++inBurst_ : --inBurst_;
    }
    if (device.Awaited() != wasAwaited) {
        device.Awaited() ? ++awaited_ : --awaited_;
    }
    if (device.Done() && !wasDone) {
        --remaining_;
    }
    const Instant next = device.NextWake();
    if (next != wake) {
        wakes_.erase({wake, i});
        if (next != kNever) {
            wakes_.insert({next, i});
        }
    }
}

const size_t* Commissioner::TaskOf(const uint8_t* mac) const {
    const auto found = byMac_.find(RecordMac(mac, kMacLength));
    return found == byMac_.end() ? nullptr : &found->second;
}
