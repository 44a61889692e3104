#include "commission/Clock.h"

#include <algorithm>

#include "channel/Tick.h"

RunClock::time_point RunClock::now() {
    return time_point(duration(static_cast<rep>(TickMs())));
}

int WaitMilliseconds(Instant now, Instant moment) {
    if (moment == kNever) {
        return -1;
    }
    return static_cast<int>(std::clamp<int64_t>(MillisecondsBetween(now, moment), 0, INT32_MAX));
}
