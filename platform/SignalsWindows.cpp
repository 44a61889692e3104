#include "platform/Signals.h"

#include <windows.h>

#include <atomic>

#include "platform/StopWakeWindows.h"

namespace {

// Shells count Ctrl-C as SIGINT (2): 128 + 2. Ctrl-Break asks the same.
constexpr int kInterruptedStatus = 130;

std::atomic<int> stopStatus{0};
std::atomic<WakeUp*> stopWake{nullptr};

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    int none = 0;
    if (!stopStatus.compare_exchange_strong(none, kInterruptedStatus)) {
        // The second request: the console's own handler ends the program.
        return FALSE;
    }
    if (WakeUp* wake = stopWake.load()) {
        wake->Signal();
    }
    return TRUE;
}

}  // namespace

WakeUp* StopRequestWake() {
    return stopWake.load();
}

void WatchStopRequests() {
    static const bool installed = [] {
        // Made once and never freed: the handler may run until the process
        // ends.
        stopWake.store(new WakeUp());
        // A program started with Ctrl-C turned off (a new process group, or
        // in the background) takes it again, as sigaction does on Linux.
        SetConsoleCtrlHandler(nullptr, FALSE);
        SetConsoleCtrlHandler(OnConsoleControl, TRUE);
        return true;
    }();
    static_cast<void>(installed);
}

int StopRequestStatus() {
    return stopStatus.load();
}
