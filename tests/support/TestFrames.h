#pragma once

// Frames of the device channel as a device sends them, for the unit tests,
// the fuzz targets and the soak: built straight from the wire layout, with a
// CRC computed bit by bit from the polynomial, never with the channel's own
// builder or CRC table, so that a mistake there is not mirrored here.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace test_frames {

using Bytes = std::vector<uint8_t>;

// Set ID with ID 5 as the first request of a run, the worked example of the
// frame tables: address 1, function 2, command 0x5A, count 2, check 0xFD,
// CRC 0x0635.
inline const Bytes kWorkedSetIdRequest = {0x19, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02,
                                          0xFD, 0x02, 0x5A, 0x05, 0x35, 0x06, 0x03};

// CRC-16/ARC, bit by bit: reflected polynomial 0xA001, initial value 0, no
// final XOR; "123456789" gives 0xBB3D.
uint16_t BitwiseCrc16Arc(const uint8_t* bytes, size_t length);
uint16_t BitwiseCrc16Arc(const Bytes& bytes);

// Appends the CRC of the frame so far (low byte first) and the end marker.
void AppendCrcAndEnd(Bytes& frame, uint8_t end = 0x03);

// A reply: start marker, any byte, address (LE), sequence, result, count
// check, count (short form: one byte; long form: 00 and two bytes LE), data,
// CRC low and high, end marker.
struct Reply {
    uint32_t address = 1;
    uint8_t sequence = 1;
    uint8_t result = 0;
    Bytes data{0x05};
    bool longForm = false;  // forced long form even for a count up to 255
    uint8_t start = 0x91;
    uint8_t end = 0x03;

    Reply& WithAddress(uint32_t value) {
        address = value;
        return *this;
    }
    Reply& WithSequence(uint8_t value) {
        sequence = value;
        return *this;
    }
    Reply& WithResult(uint8_t value) {
        result = value;
        return *this;
    }
    Reply& WithData(Bytes value) {
        data = std::move(value);
        return *this;
    }
    Reply& InLongForm() {
        longForm = true;
        return *this;
    }
    Reply& WithMarkers(uint8_t startMarker, uint8_t endMarker) {
        start = startMarker;
        end = endMarker;
        return *this;
    }
};

Bytes ReplyFrame(const Reply& reply);
// The plain case: short count form, marker row 0.
Bytes ReplyFrame(uint32_t address, uint8_t sequence, uint8_t result, const Bytes& data);

// The Set ID request for ID 5 as the first request of a run: address 1,
// function 2, command 0x5A, data 05, CRC 0x0635. Inline, so that tables of
// cases built before main() in other files find it made.
inline const Bytes kSetIdFrame = {0x19, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02,
                                  0xFD, 0x02, 0x5A, 0x05, 0x35, 0x06, 0x03};
// The device's success reply to kSetIdFrame.
Bytes SetIdReply(const Bytes& data = {0x05});

// The length of a request frame for `dataLength` data bytes.
size_t RequestLength(size_t dataLength);

Bytes Concat(Bytes first, const Bytes& second);

}  // namespace test_frames
