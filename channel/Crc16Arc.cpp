#include "channel/Crc16Arc.h"

#include <array>

namespace {

constexpr uint16_t kReflectedPolynomial = 0xA001;
constexpr int kBitsPerByte = 8;
constexpr std::size_t kTableSize = 256;
constexpr uint16_t kLowByteMask = 0x00FF;

constexpr std::array<uint16_t, kTableSize> MakeTable() {
    std::array<uint16_t, kTableSize> table{};
    for (std::size_t index = 0; index < kTableSize; ++index) {
        uint16_t value = static_cast<uint16_t>(index);
        for (int bit = 0; bit < kBitsPerByte; ++bit) {
            value = (value & 1u) ? static_cast<uint16_t>((value >> 1) ^ kReflectedPolynomial)
                                 : static_cast<uint16_t>(value >> 1);
        }
        table[index] = value;
    }
    return table;
}

constexpr std::array<uint16_t, kTableSize> kTable = MakeTable();

// The first entries of the standard table, so a slip in the generator fails
// the build rather than every frame.
static_assert(kTable[1] == 0xC0C1 && kTable[2] == 0xC181 && kTable[255] == 0x4040,
              "CRC-16/ARC table");

}  // namespace

uint16_t Crc16ArcUpdate(uint16_t crc, uint8_t byte) {
    return static_cast<uint16_t>(kTable[(crc ^ byte) & kLowByteMask] ^ (crc >> kBitsPerByte));
}

uint16_t Crc16Arc(const uint8_t* bytes, std::size_t length, uint16_t crc) {
    for (std::size_t i = 0; i < length; ++i) {
        crc = Crc16ArcUpdate(crc, bytes[i]);
    }
    return crc;
}
