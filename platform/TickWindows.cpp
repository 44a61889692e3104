#include "platform/Tick.h"

#include <windows.h>

namespace {

constexpr uint64_t kMsPerSecond = 1000;

// Fixed at boot; read once.
uint64_t CounterFrequency() {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<uint64_t>(frequency.QuadPart);
}

}  // namespace

uint64_t TickMs() {
    static const uint64_t frequency = CounterFrequency();
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    const uint64_t counts = static_cast<uint64_t>(now.QuadPart);
    // Whole seconds and the rest apart, so that the product cannot overflow.
    return counts / frequency * kMsPerSecond + counts % frequency * kMsPerSecond / frequency;
}
