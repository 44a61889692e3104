#pragma once

#include <chrono>
#include <cstdint>

// The time of a commissioning run, in milliseconds on a clock that only goes
// forward. The engine never reads a clock: it is told the time with each
// thing that happens. The driver tells it the channel's tick; tests tell it
// any time they like, and so run minutes of a segment in a moment.
struct RunClock {
    using duration = std::chrono::milliseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<RunClock>;
    static constexpr bool is_steady = true;
    // The channel's monotonic tick.
    static time_point now();
};

using Instant = RunClock::time_point;
using Milliseconds = std::chrono::milliseconds;

// A moment that never comes: nothing is due.
constexpr Instant kNever = Instant::max();

// `now` plus `milliseconds`.
constexpr Instant After(Instant now, int64_t milliseconds) {
    return now + Milliseconds(milliseconds);
}

// Whole milliseconds from `earlier` to `later`.
inline int64_t MillisecondsBetween(Instant earlier, Instant later) {
    return (later - earlier).count();
}

// How long a wait from `now` may last to wake at `moment`, as poll() takes
// it: -1 for kNever, 0 once the moment has come.
int WaitMilliseconds(Instant now, Instant moment);
