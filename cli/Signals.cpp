#include "cli/Signals.h"

#include "cli/Cli.h"
#include "platform/Signals.h"

const StopSignal& StopSignal::Watch() {
    static const StopSignal signals = [] {
        WatchStopRequests();
        return StopSignal();
    }();
    return signals;
}

bool StopSignal::Asked() const {
    return StopRequestStatus() != 0;
}

int StopSignal::Status() const {
    const int status = StopRequestStatus();
    return status != 0 ? status : kExitInterrupted;
}
