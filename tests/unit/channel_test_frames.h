#pragma once

// Device-side reply frames for the transport tests, built straight from the
// wire layout (short count form, marker row 0) rather than with the
// channel's own code, so that a mistake there is not mirrored here.

#include <cstdint>
#include <vector>

namespace test_frames {

// The Set ID request for ID 5 as the first request of a run: address 1,
// function 2, command 0x5A, data 05, CRC 0x0635.
inline const std::vector<uint8_t> kSetIdFrame = {0x19, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02,
                                                 0xFD, 0x02, 0x5A, 0x05, 0x35, 0x06, 0x03};

// CRC-16/ARC, bit by bit: reflected polynomial 0xA001, initial value 0, no
// final XOR; "123456789" gives 0xBB3D.
inline uint16_t Crc16Arc(const std::vector<uint8_t>& bytes) {
    uint16_t crc = 0;
    for (uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001u)
                             : static_cast<uint16_t>(crc >> 1);
        }
    }
    return crc;
}

// A reply: 91, any byte, address (LE), sequence, result, count check, count,
// data, CRC low and high, end marker 03.
inline std::vector<uint8_t> Reply(uint32_t address, uint8_t sequence, uint8_t result,
                                  const std::vector<uint8_t>& data) {
    const uint8_t count = static_cast<uint8_t>(data.size());
    std::vector<uint8_t> frame = {0x91,
                                  0x00,
                                  static_cast<uint8_t>(address),
                                  static_cast<uint8_t>(address >> 8),
                                  static_cast<uint8_t>(address >> 16),
                                  static_cast<uint8_t>(address >> 24),
                                  sequence,
                                  result,
                                  static_cast<uint8_t>(count ^ 0xFF),
                                  count};
    for (uint8_t byte : data) {
        frame.push_back(byte);
    }
    const uint16_t crc = Crc16Arc(frame);
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(0x03);
    return frame;
}

// The device's success reply to kSetIdFrame.
inline std::vector<uint8_t> SetIdReply(const std::vector<uint8_t>& data = {0x05}) {
    return Reply(1, 1, 0x00, data);
}

}  // namespace test_frames
