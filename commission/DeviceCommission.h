#pragma once

#include <cstddef>
#include <cstdint>

#include "commission/Clock.h"
#include "commission/Commission.h"
#include "commission/Segment.h"

// One device's way through a commissioning run: its setup datagrams until
// the setup is confirmed or the device is seen with its new values, the wait
// for its return, the writes of its ID, and its outcome by its deadline.
//
// An unconfirmed setup goes again kSetupResendAfterMs after the first
// datagram: a device whose datagram was lost restarts at most a second or two
// later than the others. Later datagrams would risk reaching a device that
// took an earlier one, has just come back, and would restart again; so after
// that a setup is sent again only when the device answers a search, with its
// old values, after the last datagram went out: then it is up, and did not
// take it.
constexpr int kSetupResendAfterMs[] = {500, 1000, 2000};
// Setup datagrams a task sends at the most, those that went out nowhere
// counted too.
constexpr int kMostSetupDatagrams = 8;
// A refused or reset connection (a device still starting its service) is
// tried again this much later, within the device's deadline.
constexpr int kIdRetryAfterMs = 500;
// A write of the ID gets at least this long to connect, even close to the
// device's deadline.
constexpr uint32_t kLeastConnectLimitMs = 1000;

class DeviceCommission {
public:
    // What every task of a run shares.
    struct Context {
        SegmentActions& segment;
        CommissionObserver* observer;
        int settleTimeoutMs;
        bool awaitReturn;
    };

    DeviceCommission(size_t number, const CommissionTask& task, const Context& context)
        : number_(number), task_(task), context_(&context) {}

    // Starts the task: its first setup datagram, or for a device that has
    // every value already, its ID.
    void Start(Instant now);
    // What the clock brings: a setup sent again, an ID tried again, the
    // deadline.
    void Serve(Instant now);
    // The device answered a search whose last request went out at
    // `lastRequest`. True when that showed it back with every value.
    bool Answer(Instant now, const uint8_t* record, size_t length, Instant lastRequest);
    // The device confirmed. True when the task now waits for its return.
    bool Confirmation(Instant now);
    void IdWritten(Instant now, const IdWriteDone& done);
    // The run was stopped.
    void Stop(Instant now);

    bool Started() const { return phase_ != Phase::Queued; }
    bool Done() const { return phase_ == Phase::Done; }
    // In its first seconds, sent again by the clock.
    bool InBurst() const { return inBurst_; }
    // Searched for: setting up or on its way back.
    bool Awaited() const { return phase_ == Phase::SettingUp || phase_ == Phase::Returning; }
    Instant StartedAt() const { return startedAt_; }
    Instant NextWake() const;

    const CommissionTask& Task() const { return task_; }
    const CommissionResult& Result() const { return result_; }

private:
    enum class Phase { Queued, SettingUp, Returning, WritingId, IdRetryWait, Done };

    void SendSetup(Instant now);
    void Back(Instant now);
    void WriteId(Instant now);
    void LeaveBurst();
    void Finish(CommissionOutcome outcome, Instant now);
    CommissionOutcome OutcomeAtDeadline() const;
    void Tell(CommissionStep step) const;

    size_t number_;
    CommissionTask task_;
    const Context* context_;
    CommissionResult result_;

    Phase phase_ = Phase::Queued;
    Instant startedAt_{};
    Instant deadline_ = kNever;
    bool inBurst_ = false;
    int timedResends_ = 0;
    int setupAttempts_ = 0;  // sent or failed
    Instant nextSetupAt_ = kNever;
    Instant lastSetupAt_{};
    Instant confirmedAt_{};
    Instant seenTargetAt_{};
    bool seenOtherSinceConfirmed_ = false;
    Instant idRetryAt_ = kNever;
};
