#pragma once

#include <cstdint>

// The channel's millisecond tick: a monotonic clock, at 64 bits so that it
// never wraps during a run. clock_gettime(CLOCK_MONOTONIC) on Linux; on
// Windows the performance counter, since GetTickCount64 moves in steps of
// about 16 ms, coarser than the channel's time-outs are read.
uint64_t TickMs();

// Time-outs are given in seconds to people, and counted in milliseconds.
constexpr int kMillisecondsPerSecond = 1000;
