#include "platform/Signals.h"

#include <signal.h>

#include <csignal>

namespace {

constexpr int kSignalStatusBase = 128;

volatile std::sig_atomic_t stoppedBy = 0;

extern "C" void OnStopSignal(int signal) {
    stoppedBy = signal;
}

}  // namespace

void WatchStopRequests() {
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        // No SA_RESTART: a wait that the signal breaks returns at once and the
        // loop around it sees the request. The second signal finds the default.
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        return true;
    }();
    static_cast<void>(installed);
}

int StopRequestStatus() {
    return stoppedBy != 0 ? kSignalStatusBase + stoppedBy : 0;
}
