#include "tests/support/TestFrames.h"

namespace test_frames {

namespace {

constexpr uint16_t kReflectedPolynomial = 0xA001;
constexpr uint8_t kCountCheckMask = 0xFF;
constexpr size_t kShortFormLargestCount = 255;
// Start, any byte, address (4), sequence, result, count check, one count
// byte, CRC (2), end; the long form has two count bytes more.
constexpr size_t kShortFormOverhead = 13;
constexpr size_t kLongFormOverhead = 15;
// The request's data carries the command byte before the caller's data.
constexpr size_t kCommandBytes = 1;

}  // namespace

uint16_t BitwiseCrc16Arc(const uint8_t* bytes, size_t length) {
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) ? static_cast<uint16_t>((crc >> 1) ^ kReflectedPolynomial)
                             : static_cast<uint16_t>(crc >> 1);
        }
    }
    return crc;
}

uint16_t BitwiseCrc16Arc(const Bytes& bytes) {
    return BitwiseCrc16Arc(bytes.data(), bytes.size());
}

void AppendCrcAndEnd(Bytes& frame, uint8_t end) {
    const uint16_t crc = BitwiseCrc16Arc(frame);
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(end);
}

Bytes ReplyFrame(const Reply& reply) {
    const uint32_t count = static_cast<uint32_t>(reply.data.size());
    Bytes frame{reply.start, 0x00};
    for (int n = 0; n < 4; ++n) {
        frame.push_back(static_cast<uint8_t>(reply.address >> (8 * n)));
    }
    frame.push_back(reply.sequence);
    frame.push_back(reply.result);
    const uint8_t low = static_cast<uint8_t>(count & 0xFF);
    const uint8_t high = static_cast<uint8_t>(count >> 8);
    if (count <= kShortFormLargestCount && !reply.longForm) {
        frame.push_back(static_cast<uint8_t>(low ^ kCountCheckMask));
        frame.push_back(low);
    } else {
        frame.push_back(static_cast<uint8_t>((low ^ high) ^ kCountCheckMask));
        frame.push_back(0x00);
        frame.push_back(low);
        frame.push_back(high);
    }
    frame.insert(frame.end(), reply.data.begin(), reply.data.end());
    AppendCrcAndEnd(frame, reply.end);
    return frame;
}

Bytes ReplyFrame(uint32_t address, uint8_t sequence, uint8_t result, const Bytes& data) {
    return ReplyFrame(
        Reply().WithAddress(address).WithSequence(sequence).WithResult(result).WithData(data));
}

Bytes SetIdReply(const Bytes& data) {
    return ReplyFrame(1, 1, 0x00, data);
}

size_t RequestLength(size_t dataLength) {
    return dataLength + kCommandBytes <= kShortFormLargestCount ? kShortFormOverhead + dataLength
                                                                : kLongFormOverhead + dataLength;
}

Bytes Concat(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

}  // namespace test_frames
