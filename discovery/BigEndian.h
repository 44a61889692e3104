#pragma once

#include <cstdint>

// Multi-byte numbers on the UDP wire are big-endian (most significant byte
// first), whatever the host's order.
inline uint16_t ReadBigEndian16(const uint8_t* bytes) {
    return static_cast<uint16_t>((static_cast<uint16_t>(bytes[0]) << 8) | bytes[1]);
}

inline void WriteBigEndian16(uint8_t* bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value >> 8);
    bytes[1] = static_cast<uint8_t>(value & 0xFFu);
}
