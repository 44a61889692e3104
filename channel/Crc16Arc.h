#pragma once

#include <cstddef>
#include <cstdint>

// The frame check of device frames: CRC-16/ARC.
//   width 16, polynomial 0x8005 (0xA001 reflected), initial value 0x0000,
//   input and output reflected, no final XOR, check value 0xBB3D over the
//   nine ASCII characters "123456789".
// It goes on the wire low byte first.

// Continues `crc` over one byte.
uint16_t Crc16ArcUpdate(uint16_t crc, uint8_t byte);

// Continues `crc` over `length` bytes; start with 0 for a whole frame.
uint16_t Crc16Arc(const uint8_t* bytes, std::size_t length, uint16_t crc = 0);
