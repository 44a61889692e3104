#pragma once

// A second reading of reply frames for the fuzz targets: the whole stream at
// once, at the fixed offsets of the frame layout, with the tests' own CRC
// (test_frames, computed bit by bit and outside the fuzzer's coverage). It
// shares nothing with the channel's byte-wise parser, so the two can only
// agree when both read the layout right.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/fuzz/FuzzInput.h"
#include "tests/support/TestFrames.h"

namespace reply_model {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kLargestCount = 12000;

struct Expectation {
    uint32_t address;
    uint8_t sequence;
    uint8_t start;  // the reply start marker of the row
    uint8_t end;    // the end marker of the row
};

struct Outcome {
    int result = 0;        // 0: the stream ended first; > 0: the count; < 0: the code
    long finishedAt = -1;  // index of the byte that decided
    bool resultByteSeen = false;
    uint8_t resultByte = 0;
    bool countSeen = false;  // the count passed its checks
    uint32_t count = 0;
    Bytes data;  // the data bytes that arrived (all of them once the frame is whole)
};

FUZZ_MODEL inline Outcome Parse(ByteSpan stream, const Expectation& expect) {
    Outcome out;
    size_t start = 0;
    while (start < stream.size && stream.data[start] != expect.start) {
        ++start;
    }
    const uint8_t* frame = stream.data + start;
    const size_t have = stream.size - start;  // 0 when no start marker came
    auto finish = [&out, start](int result, size_t offset) {
        out.result = result;
        out.finishedAt = static_cast<long>(start + offset);
        return out;
    };

    if (have < 6) {
        return out;
    }
    const uint32_t address =
        frame[2] | (frame[3] << 8) | (frame[4] << 16) | (static_cast<uint32_t>(frame[5]) << 24);
    if (address != expect.address) {
        return finish(-11, 5);
    }
    if (have < 7) {
        return out;
    }
    if (frame[6] != expect.sequence) {
        return finish(-12, 6);
    }
    if (have < 8) {
        return out;
    }
    out.resultByteSeen = true;
    out.resultByte = frame[7];
    if (have < 10) {
        return out;
    }
    const uint8_t check = frame[8];
    size_t dataOffset = 0;
    uint32_t count = 0;
    if (frame[9] != 0) {
        count = frame[9];
        if (check != (count ^ 0xFF)) {
            return finish(-13, 9);
        }
        dataOffset = 10;
    } else {
        if (have < 12) {
            return out;
        }
        count = frame[10] | (frame[11] << 8);
        if (check != ((frame[10] ^ frame[11]) ^ 0xFF) || count == 0) {
            return finish(-13, 11);
        }
        if (count > kLargestCount) {
            return finish(-14, 11);
        }
        dataOffset = 12;
    }
    out.countSeen = true;
    out.count = count;
    const size_t dataArrived = have - dataOffset < count ? have - dataOffset : count;
    out.data.assign(frame + dataOffset, frame + dataOffset + dataArrived);
    const size_t crcOffset = dataOffset + count;
    if (have < crcOffset + 2) {
        return out;
    }
    const uint16_t crc = static_cast<uint16_t>(frame[crcOffset] | (frame[crcOffset + 1] << 8));
    if (crc != test_frames::BitwiseCrc16Arc(frame, crcOffset)) {
        return finish(-15, crcOffset + 1);
    }
    if (have < crcOffset + 3) {
        return out;
    }
    if (frame[crcOffset + 2] != expect.end) {
        return finish(-16, crcOffset + 2);
    }
    return finish(static_cast<int>(count), crcOffset + 2);
}

FUZZ_MODEL inline Outcome Parse(const Bytes& stream, const Expectation& expect) {
    return Parse(ByteSpan{stream.data(), stream.size()}, expect);
}

// What a transaction answers for a whole, valid reply: the count, or the
// code of the device's result; `detail` for result 1.
FUZZ_MODEL inline int TransactResult(const Outcome& reply, int32_t* detail) {
    switch (reply.resultByte & 0x7F) {
        case 0:
            return static_cast<int>(reply.count);
        case 1:
            *detail =
                (reply.count > 0 ? reply.data[0] : 0) + 100 * (reply.count > 1 ? reply.data[1] : 0);
            return -20;
        case 2:
            return -21;
        case 3:
            return -22;
        case 4:
            return -23;
        default:
            return -24;
    }
}

}  // namespace reply_model
