#pragma once

#include <cstdint>

// Numbers inside device frames are little-endian. These read and write them
// byte by byte, whatever the host's own order.

constexpr int kByteBits = 8;
constexpr uint32_t kByteMask = 0xFF;

inline void WriteLe16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value & kByteMask);
    at[1] = static_cast<uint8_t>((value >> kByteBits) & kByteMask);
}

inline void WriteLe32(uint8_t* at, uint32_t value) {
    for (int n = 0; n < 4; ++n) {
        at[n] = static_cast<uint8_t>((value >> (kByteBits * n)) & kByteMask);
    }
}

inline uint16_t ReadLe16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | (at[1] << kByteBits));
}

inline uint32_t ReadLe32(const uint8_t* at) {
    uint32_t value = 0;
    for (int n = 0; n < 4; ++n) {
        value |= static_cast<uint32_t>(at[n]) << (kByteBits * n);
    }
    return value;
}
