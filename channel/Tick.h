#pragma once

#include <cstdint>

// The channel's millisecond tick, TickMs: a monotonic clock. It is kept at 64
// bits so that it never wraps during a run (a 32-bit tick wraps after 49.7
// days of uptime, and a wait that spanned the wrap would end at once).
#include "platform/Tick.h"

// Where a receive loop reads the time: TickMs, or a clock a test drives.
using TickSource = uint64_t (*)();

// The channel's time-out rule: the elapsed time is the absolute difference of
// the two readings, and the limit is passed only when it is strictly greater.
inline uint64_t ElapsedMs(uint64_t referenceTick, uint64_t nowTick) {
    return nowTick >= referenceTick ? nowTick - referenceTick : referenceTick - nowTick;
}

// Limits are 64-bit: a reply frame's own bound (ReceiveReply) adds the time
// of a whole frame on a slow line to the time-out.
inline bool TimeoutPassed(uint64_t referenceTick, uint64_t nowTick, uint64_t limitMs) {
    return ElapsedMs(referenceTick, nowTick) > limitMs;
}

// How long a wait may last before TimeoutPassed can turn true: one
// millisecond beyond the limit, since the limit itself is not yet passed;
// 0 once it has passed.
inline uint32_t MsUntilTimeout(uint64_t referenceTick, uint64_t nowTick, uint64_t limitMs) {
    const uint64_t elapsed = ElapsedMs(referenceTick, nowTick);
    const uint64_t left = elapsed > limitMs ? 0 : limitMs - elapsed + 1;
    return left > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(left);
}
