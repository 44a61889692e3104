#include "cli/Signals.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t stoppedBy = 0;

extern "C" void OnStopSignal(int signal) {
    stoppedBy = signal;
}

}  // namespace

const StopSignal& StopSignal::Watch() {
    static const StopSignal signals = [] {
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        // No SA_RESTART: a wait that the signal breaks returns at once and the
        // loop around it sees the flag. The second signal finds the default.
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        return StopSignal();
    }();
    return signals;
}

bool StopSignal::Asked() const {
    return stoppedBy != 0;
}

int StopSignal::Status() const {
    constexpr int kSignalStatusBase = 128;
    return kSignalStatusBase + (stoppedBy != 0 ? stoppedBy : SIGINT);
}
