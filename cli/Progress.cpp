#include "cli/Progress.h"

#include "cli/Cli.h"
#include "cli/Outcome.h"
#include "cli/ReportEvent.h"
#include "cli/Reporter.h"

namespace {

// "applied and verified (ID 5 read back)": the outcome's text, and the ID
// where it was read back as written.
std::string FinishedText(const std::optional<uint8_t>& id, const CommissionResult& result) {
    const RowOutcome outcome{KindOf(result.outcome), ""};
    if (id && result.outcome == CommissionOutcome::Verified) {
        return std::string(outcome.Text()) + " (ID " + std::to_string(*id) + " read back)";
    }
    return outcome.Text();
}

}  // namespace

void Progress::Name(size_t task, const std::string& mac, std::optional<uint8_t> id, size_t line) {
    if (names_.size() <= task) {
        names_.resize(task + 1);
    }
    names_[task] = Named{mac, id, line};
}

std::string Progress::Count() const {
    return "[" + std::to_string(finished_) + "/" + std::to_string(total_) + "] ";
}

void Progress::OnStep(size_t task, CommissionStep step, const CommissionResult& result) {
    const Named& named = names_.at(task);
    ReportEvent event;
    event.subject = named.mac;
    if (named.line != 0) {
        event.values["row"] = named.line;
    }
    std::string what;
    switch (step) {
        case CommissionStep::SetupSent:
            event.event = result.setupDatagrams <= 1 ? "setup-sent" : "setup-sent-again";
            what = result.setupDatagrams <= 1 ? "setup sent"
                                              : "setup sent again (datagram " +
                                                    std::to_string(result.setupDatagrams) + ")";
            event.values["datagrams"] = result.setupDatagrams;
            break;
        case CommissionStep::Confirmed:
            event.event = "setup-confirmed";
            what = "setup confirmed";
            break;
        case CommissionStep::Back:
            event.event = "back";
            what = result.confirmed ? "back with the asked values"
                                    : "seen with the asked values (no confirmation came)";
            break;
        case CommissionStep::IdFailed:
            event.event = "id-retry";
            what = "ID not written yet, trying again";
            break;
        case CommissionStep::Finished:
            ++finished_;
            event.event = RowOutcome{KindOf(result.outcome), ""}.Token();
            what = FinishedText(named.id, result);
            event.values["elapsedMs"] = result.elapsedMs;
            break;
    }
    event.text = Count() + named.mac + " " + what;
    // A device's first datagram is no news in a log, only on a terminal.
    event.minor = step == CommissionStep::SetupSent && result.setupDatagrams <= 1;
    reporter_.Event(event);
}

void Progress::OnWaiting(size_t devices, int waitedMs) {
    ReportEvent status;
    // The seconds count on a terminal; a log hears of a change of the number.
    status.minor = devices == lastWaiting_;
    lastWaiting_ = devices;
    status.event = "waiting";
    status.text = Count() + "waiting for " + std::to_string(devices) + " device" +
                  (devices == 1 ? "" : "s") + " to come back, " +
                  std::to_string(waitedMs / kMillisecondsPerSecond) + " s";
    status.values["devices"] = devices;
    status.values["waitedMs"] = waitedMs;
    reporter_.Event(status);
}
