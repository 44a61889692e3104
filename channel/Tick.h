#pragma once

#include <cstdint>

// The channel's millisecond tick: a monotonic clock. It is kept at 64 bits so
// that it never wraps during a run (a 32-bit tick wraps after 49.7 days of
// uptime, and a wait that spanned the wrap would end at once).
uint64_t TickMs();

// The channel's time-out rule: the elapsed time is the absolute difference of
// the two readings, and the limit is passed only when it is strictly greater.
inline bool TimeoutPassed(uint64_t referenceTick, uint64_t nowTick, uint32_t limitMs) {
    const uint64_t elapsed =
        nowTick >= referenceTick ? nowTick - referenceTick : referenceTick - nowTick;
    return elapsed > limitMs;
}
