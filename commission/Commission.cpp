#include "commission/Commission.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>
#include <iterator>
#include <map>
#include <memory>

#include "channel/ChannelResult.h"
#include "commission/DeviceSightings.h"
#include "commission/IdWriters.h"
#include "commission/RepeatedSearch.h"
#include "common/ByteOrder.h"
#include "discovery/DeviceRecord.h"
#include "idassign/DeviceId.h"

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

constexpr Clock::time_point kNever = Clock::time_point::max();
// Two searches never go out closer together than this.
constexpr Milliseconds kLeastSearchGap{100};
// How often OnWaiting is called.
constexpr Milliseconds kWaitingReportEvery{1000};
// A write of the ID gets at least this long to connect, even close to the
// device's deadline.
constexpr uint32_t kLeastConnectLimitMs = 1000;

int MillisecondsUntil(Clock::time_point moment) {
    if (moment == kNever) {
        return -1;
    }
    const auto left = std::chrono::ceil<Milliseconds>(moment - Clock::now());
    return static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT32_MAX));
}

// A device that refuses or drops the connection is starting its service, or
// still restarting: worth another try. Anything it answered is final.
bool WorthAnotherWrite(int result) {
    return result == kTcpConnectTimeout || result == kTcpConnectFailed || result == kPeerClosed ||
           result == kSocketError;
}

enum class Phase { Queued, SettingUp, Returning, WritingId, IdRetryWait, Done };

struct Work {
    Phase phase = Phase::Queued;
    Clock::time_point started{};
    Clock::time_point deadline = kNever;
    // The first seconds of a setup, when it is sent again by the clock.
    bool inBurst = false;
    int timedResends = 0;
    Clock::time_point nextSetupAt = kNever;
    Clock::time_point lastSetupAt{};
    Clock::time_point confirmedAt{};
    Clock::time_point seenTargetAt{};
    bool seenOtherSinceConfirmed = false;
    Clock::time_point idRetryAt = kNever;
};

}  // namespace

class Commissioner::Run_ {
public:
    Run_(SegmentPort& port, const CommissionOptions& options, CommissionObserver* observer)
        : port_(port), options_(options), observer_(observer) {
        if (options_.watch && options_.watchTimeoutMs > 0) {
            watchEndsAt_ = Clock::now() + Milliseconds(options_.watchTimeoutMs);
        }
    }

    ~Run_() {
        if (stopped_) {
            writers_.Abandon();
        }
    }

    size_t Add(const CommissionTask& task) {
        const size_t i = tasks_.size();
        tasks_.push_back(task);
        results_.emplace_back();
        work_.emplace_back();
        byMac_[RecordMac(task.target.mac, kMacLength)] = i;
        fresh_.push_back(i);
        ++remaining_;
        return i;
    }

    size_t Tasks() const { return tasks_.size(); }
    const CommissionTask& Task(size_t i) const { return tasks_.at(i); }
    const CommissionResult& Result(size_t i) const { return results_.at(i); }
    bool TimedOut() const { return Clock::now() >= watchEndsAt_; }

    void Run() {
        for (;;) {
            const Clock::time_point now = Clock::now();
            if (options_.stop != nullptr && options_.stop()) {
                Stop(now);
                return;
            }
            StartNew(now);
            ServeClocks(now);
            if (Ended()) {
                break;
            }
            Search(now);
            ReleasePortWhenIdle();
            Wait();
            TakeDatagrams();
            TakeWrites();
        }
        if (searchOpen_) {
            EndSearch(Clock::now());
        }
    }

private:
    bool Ended() {
        if (remaining_ > 0) {
            return false;
        }
        return !options_.watch || TimedOut() || (observer_ != nullptr && observer_->Finished());
    }

    void Stop(Clock::time_point now) {
        stopped_ = true;
        for (size_t i = 0; i < tasks_.size(); ++i) {
            if (work_[i].phase != Phase::Done) {
                Finish(i, CommissionOutcome::Interrupted, now);
            }
        }
    }

    void Begin(size_t i, Clock::time_point now) {
        work_[i].started = now;
        work_[i].deadline = now + Milliseconds(options_.settleTimeoutMs);
    }

    void Step(size_t i, CommissionStep step) {
        if (observer_ != nullptr) {
            observer_->OnStep(i, step, results_[i]);
        }
    }

    // The port, for a task or a search: a watch gives it back between its
    // searches. False while another program holds it.
    bool EnsurePort(Clock::time_point now) {
        if (port_.IsOpen()) {
            return true;
        }
        if (now < portRetryAt_) {
            return false;
        }
        if (port_.Open() != 0) {
            portRetryAt_ = now + Milliseconds(kWatchPortRetryMs);
            if (observer_ != nullptr) {
                observer_->OnPortBusy();
            }
            return false;
        }
        return true;
    }

    void ReleasePortWhenIdle() {
        if (options_.watch && port_.IsOpen() && !searchOpen_ && remaining_ == 0) {
            port_.Close();
        }
    }

    // Tasks added since the last look: an ID alone starts at once, a setup
    // as soon as fewer than setupsAtOnce are in their first seconds.
    void StartNew(Clock::time_point now) {
        while (!fresh_.empty()) {
            const size_t i = fresh_.front();
            fresh_.pop_front();
            if (tasks_[i].setupNeeded) {
                queued_.push_back(i);
                continue;
            }
            Begin(i, now);
            if (tasks_[i].id && options_.awaitReturn) {
                WriteId(i, now);
            } else {
                Finish(i, CommissionOutcome::Verified, now);
            }
        }
        while (!queued_.empty() && inBurst_ < std::max<size_t>(1, options_.setupsAtOnce) &&
               EnsurePort(now)) {
            const size_t i = queued_.front();
            queued_.pop_front();
            Begin(i, now);
            work_[i].phase = Phase::SettingUp;
            work_[i].inBurst = true;
            ++inBurst_;
            work_[i].nextSetupAt = now + Milliseconds(kSetupResendAfterMs[0]);
            if (nextSearchAt_ == kNever) {
                nextSearchAt_ = now + Milliseconds(kReturnSearchSlowMs);
            }
            SendSetup(i, now);
        }
    }

    void SendSetup(size_t i, Clock::time_point now) {
        const CommissionTask& task = tasks_[i];
        CommissionResult& result = results_[i];
        uint8_t datagram[kSetupDatagramLength];
        if (BuildSetupDatagram(task.target, datagram) != kSetupDatagramBuilt) {
            result.sendFailed = true;
            Finish(i, CommissionOutcome::NotConfirmed, now);
            return;
        }
        // Each datagram by the next interface the device answered on: if one
        // way to it fails, the next may not.
        const unsigned interface =
            task.interfaces.empty()
                ? 0
                : task.interfaces[static_cast<size_t>(result.setupDatagrams + result.sendFailed) %
                                  task.interfaces.size()];
        if (port_.SendSetup(datagram, interface, task.directTo)) {
            ++result.setupDatagrams;
        } else {
            result.sendFailed = true;
        }
        work_[i].lastSetupAt = now;
        Step(i, CommissionStep::SetupSent);
    }

    void LeaveBurst(size_t i) {
        if (work_[i].inBurst) {
            work_[i].inBurst = false;
            work_[i].nextSetupAt = kNever;
            --inBurst_;
        }
    }

    void ServeClocks(Clock::time_point now) {
        for (size_t i = 0; i < tasks_.size(); ++i) {
            Work& work = work_[i];
            if (work.phase == Phase::SettingUp && work.inBurst && now >= work.nextSetupAt) {
                SendSetup(i, now);
                if (work.phase != Phase::SettingUp) {
                    continue;
                }
                ++work.timedResends;
                if (work.timedResends < static_cast<int>(std::size(kSetupResendAfterMs))) {
                    work.nextSetupAt =
                        work.started + Milliseconds(kSetupResendAfterMs[work.timedResends]);
                } else {
                    LeaveBurst(i);
                }
            }
            if (work.phase == Phase::IdRetryWait && now >= work.idRetryAt) {
                WriteId(i, now);
            }
            // A write under way ends by its own limits, bounded by the
            // deadline when it began.
            if (now >= work.deadline && work.phase != Phase::WritingId &&
                work.phase != Phase::Done && work.phase != Phase::Queued) {
                Finish(i, OutcomeAtDeadline(work), now);
            }
        }
        if (searchOpen_ && now >= SearchEndsAt()) {
            EndSearch(now);
        }
        if (now >= nextWaitingReport_) {
            ReportWaiting(now);
        }
    }

    static CommissionOutcome OutcomeAtDeadline(const Work& work) {
        switch (work.phase) {
            case Phase::Returning:
                return work.seenOtherSinceConfirmed ? CommissionOutcome::OtherValues
                                                    : CommissionOutcome::NotBack;
            case Phase::IdRetryWait:
                return CommissionOutcome::IdNotWritten;
            default:
                return CommissionOutcome::NotConfirmed;
        }
    }

    static bool Awaited(const Work& work) {
        return work.phase == Phase::SettingUp || work.phase == Phase::Returning;
    }

    void ReportWaiting(Clock::time_point now) {
        size_t awaited = 0;
        Clock::time_point earliest = now;
        for (const Work& work : work_) {
            if (Awaited(work)) {
                ++awaited;
                earliest = std::min(earliest, work.started);
            }
        }
        if (awaited > 0 && observer_ != nullptr) {
            observer_->OnWaiting(
                awaited,
                static_cast<int>(std::chrono::duration_cast<Milliseconds>(now - earliest).count()));
        }
        nextWaitingReport_ = now + kWaitingReportEvery;
    }

    // A search lasts until its answers have stopped coming: kWatchListenMs
    // after its last request or its last answer.
    Clock::time_point SearchEndsAt() const {
        return std::max(lastSearchAt_, lastAnswerAt_) + Milliseconds(kWatchListenMs);
    }

    void EndSearch(Clock::time_point now) {
        searchOpen_ = false;
        const bool changed = observer_ != nullptr && observer_->OnSearchEnded();
        if (watchSearch_) {
            watchSearch_ = false;
            watchGap_ = changed ? Milliseconds(kWatchSearchMs)
                                : std::min(watchGap_ * 2, Milliseconds(kWatchQuietestMs));
            nextWatchSearchAt_ = std::max(now, watchSearchStartedAt_ + watchGap_);
        }
    }

    void SendRequest(Clock::time_point now) {
        if (searchOpen_ && !watchSearch_) {
            EndSearch(now);
        }
        port_.SendSearch(options_.searchInterface);
        lastSearchAt_ = now;
        searchOpen_ = true;
    }

    // Searches go out while a device is awaited; a watch searches on its own
    // schedule besides, while nothing is awaited.
    void Search(Clock::time_point now) {
        if (std::any_of(work_.begin(), work_.end(), Awaited)) {
            SearchForAwaited(now);
            return;
        }
        nextSearchAt_ = kNever;
        if (!options_.watch || TimedOut()) {
            return;
        }
        if (watchSearch_) {
            // The second request of the search.
            if (watchPasses_ < kWatchPasses &&
                now >= watchSearchStartedAt_ + Milliseconds(kSearchPassIntervalMs)) {
                ++watchPasses_;
                SendRequest(now);
            }
            return;
        }
        if (now < nextWatchSearchAt_ || searchOpen_) {
            return;
        }
        if (!EnsurePort(now)) {
            nextWatchSearchAt_ = portRetryAt_;
            return;
        }
        watchSearch_ = true;
        watchPasses_ = 1;
        watchSearchStartedAt_ = now;
        SendRequest(now);
    }

    void SearchForAwaited(Clock::time_point now) {
        if (nextSearchAt_ == kNever) {
            nextSearchAt_ = now + Milliseconds(kReturnSearchSlowMs);
        }
        if (now < nextSearchAt_) {
            return;
        }
        if (!lastSearchBroughtBack_) {
            searchGap_ = std::min(searchGap_ * 2, Milliseconds(kReturnSearchSlowMs));
        }
        lastSearchBroughtBack_ = false;
        watchSearch_ = false;
        SendRequest(now);
        nextSearchAt_ = now + searchGap_;
    }

    // Brings the next search forward to `moment`, keeping searches apart.
    void SearchBy(Clock::time_point moment) {
        nextSearchAt_ = std::min(nextSearchAt_, std::max(moment, lastSearchAt_ + kLeastSearchGap));
    }

    Clock::time_point NextClock() const {
        Clock::time_point next = std::min(nextSearchAt_, nextWaitingReport_);
        if (searchOpen_) {
            next = std::min(next, SearchEndsAt());
        }
        if (options_.watch) {
            next = std::min(next, watchEndsAt_);
            // A watch's search waits while another search listens or a
            // device is awaited.
            if (!watchSearch_ && !searchOpen_ && nextSearchAt_ == kNever) {
                next = std::min(next, nextWatchSearchAt_);
            } else if (watchSearch_ && watchPasses_ < kWatchPasses) {
                next = std::min(next, watchSearchStartedAt_ + Milliseconds(kSearchPassIntervalMs));
            }
        }
        if (!queued_.empty() && !port_.IsOpen()) {
            next = std::min(next, portRetryAt_);
        }
        for (const Work& work : work_) {
            if (work.phase == Phase::SettingUp) {
                next = std::min(next, work.nextSetupAt);
            }
            if (work.phase == Phase::IdRetryWait) {
                next = std::min(next, work.idRetryAt);
            }
            if (work.phase != Phase::WritingId && work.phase != Phase::Done) {
                next = std::min(next, work.deadline);
            }
        }
        return next;
    }

    void Wait() {
        pollfd entries[] = {{port_.Descriptor(), POLLIN, 0},
                            {writers_.WakeDescriptor(), POLLIN, 0}};
        // A closed port's entry (-1) is one poll() leaves out.
        if (poll(entries, std::size(entries), MillisecondsUntil(NextClock())) < 0 &&
            errno != EINTR) {
            // Nothing a wait can fail on here is worth ending the run for;
            // the clock still bounds every task.
        }
    }

    void TakeDatagrams() {
        if (!port_.IsOpen()) {
            return;
        }
        SegmentDatagram datagram;
        for (size_t taken = 0; taken < kMostDatagramsAtOnce && port_.Receive(&datagram); ++taken) {
            if (IsDiscoveryReply(datagram.bytes, datagram.length)) {
                if (options_.searchInterface == 0 ||
                    datagram.interfaceIndex == options_.searchInterface) {
                    lastAnswerAt_ = Clock::now();
                    const uint8_t* record = datagram.bytes + kReplyRecordOffset;
                    const size_t length = static_cast<size_t>(datagram.length) - kReplyRecordOffset;
                    if (observer_ != nullptr) {
                        observer_->OnReply(record, length, datagram.interfaceIndex);
                    }
                    TakeReply(record, length);
                }
                continue;
            }
            uint8_t mac[kSetupMacLength] = {};
            std::copy_n(datagram.bytes + kSetupReplyMacOffset, kSetupMacLength, mac);
            if (ClassifySetupReply(datagram.bytes, static_cast<long>(datagram.length), mac) ==
                SetupReplyVerdict::Confirms) {
                TakeConfirmation(mac);
            }
        }
    }

    const size_t* TaskOf(const uint8_t* mac) const {
        const auto found = byMac_.find(RecordMac(mac, kMacLength));
        return found == byMac_.end() ? nullptr : &found->second;
    }

    void TakeReply(const uint8_t* record, size_t length) {
        const size_t* task = TaskOf(record);
        if (task == nullptr || length < kMacLength) {
            return;
        }
        const size_t i = *task;
        const Clock::time_point now = Clock::now();
        Work& work = work_[i];
        CommissionResult& result = results_[i];
        result.lastRecord.assign(record, record + length);
        if (RecordShows(record, length, tasks_[i].target)) {
            if (work.phase == Phase::SettingUp || work.phase == Phase::Returning) {
                Back(i, now);
            }
            return;
        }
        // Answered with other values, to a search sent after the device's last
        // setup datagram or its confirmation.
        switch (work.phase) {
            case Phase::SettingUp:
                // It is up and did not take the setup: send it again.
                if (!work.inBurst && lastSearchAt_ > work.lastSetupAt &&
                    result.setupDatagrams + result.sendFailed < kMostSetupDatagrams) {
                    SendSetup(i, now);
                }
                break;
            case Phase::Returning:
                work.seenOtherSinceConfirmed =
                    work.seenOtherSinceConfirmed || lastSearchAt_ > work.confirmedAt;
                break;
            case Phase::Done:
                // Verified earlier, and now reports something else.
                if (result.outcome == CommissionOutcome::Verified &&
                    lastSearchAt_ > work.seenTargetAt) {
                    result.outcome = CommissionOutcome::OtherValues;
                }
                break;
            default:
                break;
        }
    }

    void TakeConfirmation(const uint8_t* mac) {
        const size_t* task = TaskOf(mac);
        if (task == nullptr) {
            return;
        }
        const size_t i = *task;
        const Clock::time_point now = Clock::now();
        results_[i].confirmed = true;
        if (work_[i].phase != Phase::SettingUp) {
            return;
        }
        LeaveBurst(i);
        Step(i, CommissionStep::Confirmed);
        if (!options_.awaitReturn) {
            Finish(i, CommissionOutcome::Confirmed, now);
            return;
        }
        work_[i].phase = Phase::Returning;
        work_[i].confirmedAt = now;
        SearchBy(now + Milliseconds(kReturnSearchPromptMs));
    }

    void Back(size_t i, Clock::time_point now) {
        LeaveBurst(i);
        results_[i].seenWithTarget = true;
        work_[i].seenTargetAt = now;
        lastSearchBroughtBack_ = true;
        searchGap_ = Milliseconds(kReturnSearchFastMs);
        SearchBy(lastSearchAt_ + searchGap_);
        Step(i, CommissionStep::Back);
        if (tasks_[i].id && options_.awaitReturn) {
            WriteId(i, now);
        } else {
            Finish(i, CommissionOutcome::Verified, now);
        }
    }

    void WriteId(size_t i, Clock::time_point now) {
        const CommissionTask& task = tasks_[i];
        const auto left = std::chrono::duration_cast<Milliseconds>(work_[i].deadline - now).count();
        work_[i].phase = Phase::WritingId;
        IdWriteJob job;
        job.task = i;
        job.ip = task.target.ip;
        job.port = task.target.port;
        job.id = *task.id;
        job.connectLimitMs = static_cast<uint32_t>(
            std::clamp<int64_t>(left, kLeastConnectLimitMs, kDeviceIdConnectLimitMs));
        writers_.Submit(job);
    }

    void TakeWrites() {
        for (const IdWriteDone& done : writers_.Collect()) {
            const size_t i = done.task;
            if (work_[i].phase != Phase::WritingId) {
                continue;
            }
            const Clock::time_point now = Clock::now();
            CommissionResult& result = results_[i];
            ++result.idAttempts;
            result.idResult = done.result;
            result.idDetail = done.detail;
            result.idReadBack = done.readBack;
            if (done.result >= 0) {
                Finish(i,
                       done.readBack == tasks_[i].id ? CommissionOutcome::Verified
                                                     : CommissionOutcome::IdNotWritten,
                       now);
            } else if (WorthAnotherWrite(done.result) &&
                       now + Milliseconds(kIdRetryAfterMs) < work_[i].deadline) {
                work_[i].phase = Phase::IdRetryWait;
                work_[i].idRetryAt = now + Milliseconds(kIdRetryAfterMs);
                Step(i, CommissionStep::IdFailed);
            } else {
                Finish(i, CommissionOutcome::IdNotWritten, now);
            }
        }
    }

    void Finish(size_t i, CommissionOutcome outcome, Clock::time_point now) {
        LeaveBurst(i);
        Work& work = work_[i];
        CommissionResult& result = results_[i];
        if (work.phase == Phase::Queued) {
            work.started = now;
            queued_.erase(std::remove(queued_.begin(), queued_.end(), i), queued_.end());
            fresh_.erase(std::remove(fresh_.begin(), fresh_.end(), i), fresh_.end());
        }
        work.phase = Phase::Done;
        work.deadline = kNever;
        result.outcome = outcome;
        result.elapsedMs =
            static_cast<int>(std::chrono::duration_cast<Milliseconds>(now - work.started).count());
        --remaining_;
        Step(i, CommissionStep::Finished);
    }

    SegmentPort& port_;
    CommissionOptions options_;
    CommissionObserver* observer_;
    // Deques: adding a task leaves references to the others valid, also
    // while an observer that adds one holds a result.
    std::deque<CommissionTask> tasks_;
    std::deque<CommissionResult> results_;
    std::deque<Work> work_;
    size_t remaining_ = 0;
    std::map<MacAddress, size_t> byMac_;
    std::deque<size_t> fresh_;
    std::deque<size_t> queued_;
    size_t inBurst_ = 0;
    IdWriters writers_{kIdWritesAtOnce};
    bool stopped_ = false;
    Clock::time_point portRetryAt_{};

    Clock::time_point nextSearchAt_ = kNever;
    Clock::time_point lastSearchAt_{};
    Clock::time_point lastAnswerAt_{};
    bool searchOpen_ = false;
    Milliseconds searchGap_{kReturnSearchSlowMs};
    bool lastSearchBroughtBack_ = false;
    Clock::time_point nextWaitingReport_ = Clock::now() + kWaitingReportEvery;

    bool watchSearch_ = false;
    int watchPasses_ = 0;
    Clock::time_point watchSearchStartedAt_{};
    Clock::time_point nextWatchSearchAt_{};
    Milliseconds watchGap_{kWatchSearchMs};
    Clock::time_point watchEndsAt_ = kNever;
};

Commissioner::Commissioner(SegmentPort& port, const CommissionOptions& options,
                           CommissionObserver* observer)
    : run_(std::make_unique<Run_>(port, options, observer)) {}

Commissioner::~Commissioner() = default;

size_t Commissioner::Add(const CommissionTask& task) {
    return run_->Add(task);
}

void Commissioner::Run() {
    run_->Run();
}

size_t Commissioner::Tasks() const {
    return run_->Tasks();
}

const CommissionTask& Commissioner::Task(size_t task) const {
    return run_->Task(task);
}

const CommissionResult& Commissioner::Result(size_t task) const {
    return run_->Result(task);
}

bool Commissioner::TimedOut() const {
    return run_->TimedOut();
}

bool RecordShows(const uint8_t* record, size_t length, const SetupValues& target) {
    const DeviceRecordView view{record, length};
    if (!RecordHolds(view, 0, kRecordFieldsLength)) {
        return false;
    }
    uint16_t port = 0;
    RecordPort(view, &port);
    return ReadBigEndian32(record + kRecordIpOffset) == target.ip &&
           ReadBigEndian32(record + kRecordMaskOffset) == target.mask &&
           ReadBigEndian32(record + kRecordGatewayOffset) == target.gateway &&
           port == target.port && record[kRecordBaudCodeOffset] == target.baudCode;
}

void Commission(SegmentPort& port, const std::vector<CommissionTask>& tasks,
                const CommissionOptions& options, CommissionObserver* observer,
                std::vector<CommissionResult>* results) {
    Commissioner run(port, options, observer);
    for (const CommissionTask& task : tasks) {
        run.Add(task);
    }
    run.Run();
    results->clear();
    for (size_t i = 0; i < run.Tasks(); ++i) {
        results->push_back(run.Result(i));
    }
}
