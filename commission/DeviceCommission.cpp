#include "commission/DeviceCommission.h"

#include <algorithm>
#include <iterator>

#include "channel/ChannelResult.h"
#include "idassign/DeviceId.h"

namespace {

// A device that refuses or drops the connection is starting its service, or
// still restarting: worth another try. Anything it answered is final.
bool WorthAnotherWrite(int result) {
    return result == kTcpConnectTimeout || result == kTcpConnectFailed || result == kPeerClosed ||
           result == kSocketError;
}

}  // namespace

void DeviceCommission::Start(Instant now) {
    startedAt_ = now;
    deadline_ = After(now, context_->settleTimeoutMs);
    if (!task_.setupNeeded) {
        if (task_.id && context_->awaitReturn) {
            WriteId(now);
        } else {
            Finish(CommissionOutcome::Verified, now);
        }
        return;
    }
    phase_ = Phase::SettingUp;
    inBurst_ = true;
    nextSetupAt_ = After(now, kSetupResendAfterMs[0]);
    SendSetup(now);
}

void DeviceCommission::Serve(Instant now) {
    if (phase_ == Phase::SettingUp && inBurst_ && now >= nextSetupAt_) {
        SendSetup(now);
        if (phase_ != Phase::SettingUp) {
            return;
        }
        ++timedResends_;
        if (timedResends_ < static_cast<int>(std::size(kSetupResendAfterMs))) {
            nextSetupAt_ = After(startedAt_, kSetupResendAfterMs[timedResends_]);
        } else {
            LeaveBurst();
        }
    }
    if (phase_ == Phase::IdRetryWait && now >= idRetryAt_) {
        WriteId(now);
    }
    // A write under way ends by its own limits, bounded by the deadline when
    // it began.
    if (now >= deadline_ && phase_ != Phase::WritingId && phase_ != Phase::Done &&
        phase_ != Phase::Queued) {
        Finish(OutcomeAtDeadline(), now);
    }
}

bool DeviceCommission::Answer(Instant now, const uint8_t* record, size_t length,
                              Instant lastRequest) {
    result_.lastRecord.assign(record, record + length);
    if (RecordShows(record, length, task_.target)) {
        if (Awaited()) {
            Back(now);
            return true;
        }
        return false;
    }
    // Answered with other values, to a search sent after the device's last
    // setup datagram or its confirmation.
    switch (phase_) {
        case Phase::SettingUp:
            // It is up and did not take the setup: send it again.
            if (!inBurst_ && lastRequest > lastSetupAt_ && setupAttempts_ < kMostSetupDatagrams) {
                SendSetup(now);
            }
            break;
        case Phase::Returning:
            seenOtherSinceConfirmed_ = seenOtherSinceConfirmed_ || lastRequest > confirmedAt_;
            break;
        case Phase::Done:
            // Verified earlier, and now reports something else.
            if (result_.outcome == CommissionOutcome::Verified && lastRequest > seenTargetAt_) {
                result_.outcome = CommissionOutcome::OtherValues;
            }
            break;
        default:
            break;
    }
    return false;
}

bool DeviceCommission::Confirmation(Instant now) {
    result_.confirmed = true;
    if (phase_ != Phase::SettingUp) {
        return false;
    }
    LeaveBurst();
    Tell(CommissionStep::Confirmed);
    if (!context_->awaitReturn) {
        Finish(CommissionOutcome::Confirmed, now);
        return false;
    }
    phase_ = Phase::Returning;
    confirmedAt_ = now;
    return true;
}

void DeviceCommission::IdWritten(Instant now, const IdWriteDone& done) {
    if (phase_ != Phase::WritingId) {
        return;
    }
    ++result_.idAttempts;
    result_.idResult = done.result;
    result_.idDetail = done.detail;
    result_.idReadBack = done.readBack;
    if (done.result >= 0) {
        Finish(done.readBack == task_.id ? CommissionOutcome::Verified
                                         : CommissionOutcome::IdNotWritten,
               now);
    } else if (WorthAnotherWrite(done.result) && After(now, kIdRetryAfterMs) < deadline_) {
        phase_ = Phase::IdRetryWait;
        idRetryAt_ = After(now, kIdRetryAfterMs);
        Tell(CommissionStep::IdFailed);
    } else {
        Finish(CommissionOutcome::IdNotWritten, now);
    }
}

void DeviceCommission::Stop(Instant now) {
    if (phase_ == Phase::Queued) {
        startedAt_ = now;
    }
    if (phase_ != Phase::Done) {
        Finish(CommissionOutcome::Interrupted, now);
    }
}

Instant DeviceCommission::NextWake() const {
    switch (phase_) {
        case Phase::SettingUp:
            return std::min(inBurst_ ? nextSetupAt_ : kNever, deadline_);
        case Phase::IdRetryWait:
            return std::min(idRetryAt_, deadline_);
        case Phase::Returning:
            return deadline_;
        default:
            return kNever;
    }
}

void DeviceCommission::SendSetup(Instant now) {
    uint8_t datagram[kSetupDatagramLength];
    if (BuildSetupDatagram(task_.target, datagram) != kSetupDatagramBuilt) {
        result_.sendFailed = true;
        Finish(CommissionOutcome::NotConfirmed, now);
        return;
    }
    // Each datagram by the next interface the device answered on: if one
    // way to it fails, the next may not. Every attempt counts, the failed
    // ones too, so a failing way is not tried again before the others.
    const unsigned interfaceIndex =
        task_.interfaces.empty()
            ? 0
            : task_.interfaces[static_cast<size_t>(setupAttempts_) % task_.interfaces.size()];
    ++setupAttempts_;
    if (context_->segment.SendSetup(datagram, interfaceIndex, task_.directTo)) {
        ++result_.setupDatagrams;
    } else {
        result_.sendFailed = true;
    }
    lastSetupAt_ = now;
    Tell(CommissionStep::SetupSent);
}

void DeviceCommission::Back(Instant now) {
    LeaveBurst();
    result_.seenWithTarget = true;
    seenTargetAt_ = now;
    Tell(CommissionStep::Back);
    if (task_.id && context_->awaitReturn) {
        WriteId(now);
    } else {
        Finish(CommissionOutcome::Verified, now);
    }
}

void DeviceCommission::WriteId(Instant now) {
    phase_ = Phase::WritingId;
    IdWriteJob job;
    job.task = number_;
    job.ip = task_.target.ip;
    job.port = task_.target.port;
    job.id = *task_.id;
    job.connectLimitMs = static_cast<uint32_t>(std::clamp<int64_t>(
        MillisecondsBetween(now, deadline_), kLeastConnectLimitMs, kDeviceIdConnectLimitMs));
    context_->segment.WriteId(job);
}

void DeviceCommission::LeaveBurst() {
    inBurst_ = false;
    nextSetupAt_ = kNever;
}

void DeviceCommission::Finish(CommissionOutcome outcome, Instant now) {
    LeaveBurst();
    phase_ = Phase::Done;
    deadline_ = kNever;
    result_.outcome = outcome;
    result_.elapsedMs = static_cast<int>(MillisecondsBetween(startedAt_, now));
    Tell(CommissionStep::Finished);
}

CommissionOutcome DeviceCommission::OutcomeAtDeadline() const {
    switch (phase_) {
        case Phase::Returning:
            return seenOtherSinceConfirmed_ ? CommissionOutcome::OtherValues
                                            : CommissionOutcome::NotBack;
        case Phase::IdRetryWait:
            return CommissionOutcome::IdNotWritten;
        default:
            return CommissionOutcome::NotConfirmed;
    }
}

void DeviceCommission::Tell(CommissionStep step) const {
    if (context_->observer != nullptr) {
        context_->observer->OnStep(number_, step, result_);
    }
}
