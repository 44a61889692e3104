#pragma once

#include <cstddef>
#include <cstdint>

#include "channel/FrameFormat.h"

class COM_Class;

// Reply frame layout, c = count of data bytes (1 to kMaxReplyData):
//   0      reply start marker
//   1      any value, not examined
//   2..5   address (LE), must equal the request's target address
//   6      sequence number, must equal the request's
//   7      result byte
//   8      count check
//   9      short form: the count c; long form: 0x00
//   10..11 long form only: the count c (LE)
//   then c data bytes, CRC-16/ARC of every byte before it (LE), end marker.
// A reply may use the short form for any count up to 255 and must use the
// long form above that.
constexpr std::size_t kReplyShortHeaderSize = 10;
constexpr std::size_t kReplyLongHeaderSize = 12;

// What a reply must match, taken from the request that was sent.
struct ReplyExpectation {
    uint32_t address;
    uint8_t sequence;
    FrameMarkers markers;
};

// Where a reply goes as it arrives. The parser writes the result byte, the
// count and the data as soon as it has them, so a failed reply leaves behind
// as much as was parsed.
struct ReplySink {
    uint8_t* data;     // room for kMaxReplyData bytes
    uint32_t* length;  // the count, once its check has passed
    uint32_t* result;  // the raw result byte
};

// The reply state machine over single bytes, without a channel. Only the
// wait for a start marker skips bytes: once a start marker is taken, any
// mismatch ends the parse with its code, with no search for a later marker.
class ReplyFrameParser {
public:
    ReplyFrameParser(const ReplyExpectation& expectation, const ReplySink& sink);

    // 0: continue; > 0: a valid frame ended with this byte, the value is its
    // count; < 0: the parse failed with that code. Once finished, every
    // further byte is ignored and the same result is returned again.
    int Feed(uint8_t byte);

    // A start marker has been taken (also once the parse has finished).
    bool InsideFrame() const;

    // The whole frame's length in bytes, start marker to end marker, as its
    // count declares it; 0 until the count has passed its checks.
    uint32_t FrameLength() const { return frameLength_; }

private:
    enum class State : uint8_t {
        WaitStart,
        AnyByte,
        Address,
        Sequence,
        Result,
        CheckByte,
        ShortCount,
        LongCountLow,
        LongCountHigh,
        Data,
        CrcLow,
        CrcHigh,
        End,
        Finished,
    };

    int Finish(int result);

    ReplyExpectation expect_;
    ReplySink sink_;
    State state_ = State::WaitStart;
    int result_ = 0;
    uint16_t crc_ = 0;  // over every byte from the start marker up to the last data byte
    uint32_t address_ = 0;
    uint8_t addressBytes_ = 0;
    uint8_t countCheck_ = 0;
    uint8_t countLow_ = 0;
    uint32_t count_ = 0;
    uint32_t dataCount_ = 0;
    uint8_t crcLow_ = 0;
    uint32_t frameLength_ = 0;
};

// The parser that every receive loop starts for one transaction: it expects
// the channel's SentAddress, SentSequence and MarkerSet row, and fills the
// channel's ReplyData, ReplyLength and ReplyResult.
class ReplyParser {
public:
    explicit ReplyParser(COM_Class& channel);

    // 0 = continue, > 0 = finished with the data count, < 0 = a negative code.
    int Feed(uint8_t byte) { return core_.Feed(byte); }
    // A start marker has been taken (the parser is past its waiting state).
    bool InsideFrame() const { return core_.InsideFrame(); }
    // The frame's declared length in bytes; 0 until its count is known.
    uint32_t FrameLength() const { return core_.FrameLength(); }

private:
    ReplyFrameParser core_;
};
