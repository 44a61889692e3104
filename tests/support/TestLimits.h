#pragma once

#include <cstdint>

// What many tests share of their setting.

// 127.0.0.1, host byte order: the only address tests outside the lab use.
constexpr uint32_t kLoopbackIp = 0x7F000001;

// Only there to stop a broken test from hanging the suite: no wait of a
// passing test comes near it.
constexpr int kHangBoundMs = 5000;

// The same for a search or a setup in the lab, which waits out the tool's
// own time-outs.
constexpr double kLabHangSeconds = 20.0;
