#pragma once

#include <cstdint>

// Multi-byte numbers on the UDP wire are big-endian (most significant byte
// first); those inside device frames are little-endian. These read and write
// them byte by byte, whatever the host's own order.

constexpr int kByteBits = 8;
constexpr uint32_t kByteMask = 0xFF;

inline uint16_t ReadBigEndian16(const uint8_t* bytes) {
    return static_cast<uint16_t>((static_cast<uint16_t>(bytes[0]) << kByteBits) | bytes[1]);
}

inline void WriteBigEndian16(uint8_t* bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value >> kByteBits);
    bytes[1] = static_cast<uint8_t>(value & kByteMask);
}

inline uint32_t ReadBigEndian32(const uint8_t* bytes) {
    uint32_t value = 0;
    for (int n = 0; n < 4; ++n) {
        value = (value << kByteBits) | bytes[n];
    }
    return value;
}

inline void WriteBigEndian32(uint8_t* bytes, uint32_t value) {
    for (int n = 0; n < 4; ++n) {
        bytes[n] = static_cast<uint8_t>((value >> (kByteBits * (3 - n))) & kByteMask);
    }
}

inline void WriteLe16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value & kByteMask);
    at[1] = static_cast<uint8_t>((value >> kByteBits) & kByteMask);
}

inline void WriteLe32(uint8_t* at, uint32_t value) {
    for (int n = 0; n < 4; ++n) {
        at[n] = static_cast<uint8_t>((value >> (kByteBits * n)) & kByteMask);
    }
}
