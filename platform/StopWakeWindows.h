#pragma once

#include "platform/WakeUp.h"

// Windows only, within platform/: the wake-up that a request to stop
// signals (SignalsWindows.cpp) and every WaitReadableOrWoken watches
// (WakeUpWindows.cpp). Null until WatchStopRequests installed the handler.
WakeUp* StopRequestWake();
