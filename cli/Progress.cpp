#include "cli/Progress.h"

#include <iostream>

#include "cli/Cli.h"

namespace {

std::string FinishedText(const CommissionTask& task, const CommissionResult& result) {
    switch (result.outcome) {
        case CommissionOutcome::Verified:
            return task.id ? "ID " + std::to_string(*task.id) + " written and read back, verified"
                           : "verified";
        case CommissionOutcome::Confirmed:
            return "setup confirmed";
        case CommissionOutcome::NotConfirmed:
            return "setup not confirmed";
        case CommissionOutcome::NotBack:
            return "not back after the setup";
        case CommissionOutcome::OtherValues:
            return "back with other values than asked";
        case CommissionOutcome::IdNotWritten:
            return "ID not written";
    }
    return "";
}

}  // namespace

Progress::Progress(const std::vector<CommissionTask>& tasks, std::vector<std::string> labels)
    : tasks_(tasks), labels_(std::move(labels)), terminal_(StderrIsTerminal()) {}

Progress::~Progress() {
    if (terminal_ && drawn_) {
        std::cerr << "\r\033[K" << std::flush;
    }
}

void Progress::Show(const std::string& line) {
    const std::string counted =
        "[" + std::to_string(finished_) + "/" + std::to_string(tasks_.size()) + "] " + line;
    if (terminal_) {
        std::cerr << "\r\033[K" << counted << std::flush;
        drawn_ = true;
    } else {
        std::cerr << "velquint: " << counted << '\n';
    }
}

void Progress::OnStep(size_t task, CommissionStep step, const CommissionResult& result) {
    std::string what;
    switch (step) {
        case CommissionStep::SetupSent:
            // The first datagram of each device is no news in a log.
            if (result.setupDatagrams <= 1 && !terminal_) {
                return;
            }
            what = result.setupDatagrams <= 1 ? "setup sent"
                                              : "setup sent again (datagram " +
                                                    std::to_string(result.setupDatagrams) + ")";
            break;
        case CommissionStep::Confirmed:
            what = "setup confirmed";
            break;
        case CommissionStep::Back:
            what = result.confirmed ? "back with the asked values"
                                    : "seen with the asked values (no confirmation came)";
            break;
        case CommissionStep::IdFailed:
            what = "ID not written yet, trying again";
            break;
        case CommissionStep::Finished:
            ++finished_;
            what = FinishedText(tasks_[task], result);
            break;
    }
    Show(labels_[task] + " " + what);
}

void Progress::OnWaiting(size_t devices, int waitedMs) {
    if (!terminal_ && devices == lastWaiting_) {
        return;
    }
    lastWaiting_ = devices;
    Show("waiting for " + std::to_string(devices) + " device" + (devices == 1 ? "" : "s") +
         " to come back, " + std::to_string(waitedMs / kMillisecondsPerSecond) + " s");
}
