#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/SimDevice.h"

// The device's end of the framed request/reply protocol, written from the
// wire tables on its own (its own CRC, reader and reply builder), so that a
// mistake in the tool's frame code shows up as a failed exchange instead of
// being mirrored here. Marker row 0 only: the devices use no other.
//
// Request: 19 seq addr(4, LE) function check count command data CRC(2, LE) 03,
//          or, for a count above 255: ... check 00 count(2, LE) command ...
// Reply:   91 any addr(4, LE) seq result check count data CRC(2, LE) 03,
//          or, long form: ... check 00 count(2, LE) data ...
// The count of a request covers the command code and the data, that of a
// reply the data; the check byte is the count (its two bytes XORed) XOR FF.

namespace simframe {
constexpr uint8_t kRequestStart = 0x19;
constexpr uint8_t kReplyStart = 0x91;
constexpr uint8_t kEnd = 0x03;
constexpr uint8_t kSetIdFunction = 2;
constexpr uint8_t kSetIdCommand = 90;
// The result a device gives a request it does not know (a plain failure).
constexpr uint8_t kUnknownRequestResult = 2;
}  // namespace simframe

// CRC-16/ARC (reflected polynomial 0xA001, initial 0, no final XOR), bit by
// bit; its check value over "123456789" is 0xBB3D.
uint16_t SimCrc16Arc(const uint8_t* bytes, size_t length);

struct SimRequest {
    uint8_t sequence = 0;
    uint32_t address = 0;
    uint8_t function = 0;
    uint8_t command = 0;
    std::vector<uint8_t> data;
};

// One frame the reader took from the stream: its bytes as they came, and
// whether it held together (check byte, CRC, end marker).
struct SimFrameSeen {
    std::vector<uint8_t> bytes;
    bool valid = false;
    SimRequest request;
};

// Cuts request frames out of a TCP byte stream. Bytes before a start marker
// are skipped; a frame that does not hold together is reported as invalid and
// skipped whole, and the search for the next start marker goes on after it.
class SimRequestReader {
public:
    // Takes `length` more bytes and appends every frame they complete.
    void Feed(const uint8_t* bytes, size_t length, std::vector<SimFrameSeen>* frames);

private:
    // The frame in `pending_` once it is whole, judged; false while more
    // bytes are needed.
    bool TakeFrame(SimFrameSeen* frame);

    std::vector<uint8_t> pending_;  // from a start marker on
};

// The reply a device with `behaviour` sends to `request`, carrying `result`
// and `data`, with the behaviour's frame faults applied. Noise ahead of the
// frame is not part of it.
std::vector<uint8_t> BuildSimReply(const SimRequest& request, const SimTcpBehaviour& behaviour,
                                   uint8_t result, const std::vector<uint8_t>& data);

// The data of a reply of `size` bytes: the device's ID, then 1, 2, 3, ...
// (wrapping at 256); size 0 gives the ID alone.
std::vector<uint8_t> SimReplyData(uint8_t id, uint32_t size);

// Byte number `n` of a stream that holds no reply start marker.
uint8_t SimNoiseByte(size_t n);
