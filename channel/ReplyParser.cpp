#include "channel/ReplyParser.h"

#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "channel/Crc16Arc.h"
#include "common/ByteOrder.h"

namespace {
constexpr uint8_t kAddressSize = 4;

ReplyExpectation ExpectationOf(const COM_Class& channel) {
    return ReplyExpectation{channel.SentAddress, channel.SentSequence,
                            MarkersFor(channel.MarkerSet)};
}

ReplySink SinkOf(COM_Class& channel) {
    return ReplySink{channel.ReplyData, &channel.ReplyLength, &channel.ReplyResult};
}
}  // namespace

ReplyFrameParser::ReplyFrameParser(const ReplyExpectation& expectation, const ReplySink& sink)
    : expect_(expectation), sink_(sink) {}

bool ReplyFrameParser::InsideFrame() const {
    return state_ != State::WaitStart;
}

int ReplyFrameParser::Finish(int result) {
    state_ = State::Finished;
    result_ = result;
    return result;
}

int ReplyFrameParser::Feed(uint8_t byte) {
    switch (state_) {
        case State::WaitStart:
            if (byte == expect_.markers.replyStart) {
                crc_ = Crc16ArcUpdate(0, byte);
                state_ = State::AnyByte;
            }
            return 0;
        case State::AnyByte:
            crc_ = Crc16ArcUpdate(crc_, byte);
            address_ = 0;
            addressBytes_ = 0;
            state_ = State::Address;
            return 0;
        case State::Address:
            crc_ = Crc16ArcUpdate(crc_, byte);
            address_ |= static_cast<uint32_t>(byte) << (kByteBits * addressBytes_);
            if (++addressBytes_ < kAddressSize) {
                return 0;
            }
            if (address_ != expect_.address) {
                return Finish(kReplyWrongAddress);
            }
            state_ = State::Sequence;
            return 0;
        case State::Sequence:
            crc_ = Crc16ArcUpdate(crc_, byte);
            if (byte != expect_.sequence) {
                return Finish(kReplyWrongSequence);
            }
            state_ = State::Result;
            return 0;
        case State::Result:
            crc_ = Crc16ArcUpdate(crc_, byte);
            *sink_.result = byte;
            state_ = State::CheckByte;
            return 0;
        case State::CheckByte:
            crc_ = Crc16ArcUpdate(crc_, byte);
            countCheck_ = byte;
            state_ = State::ShortCount;
            return 0;
        case State::ShortCount:
            crc_ = Crc16ArcUpdate(crc_, byte);
            if (byte == kLongFormMark) {
                state_ = State::LongCountLow;
                return 0;
            }
            if (countCheck_ != CountCheck(byte)) {
                return Finish(kReplyBadCount);
            }
            count_ = byte;
            *sink_.length = count_;
            frameLength_ =
                static_cast<uint32_t>(kReplyShortHeaderSize + count_ + kFrameTrailerSize);
            dataCount_ = 0;
            state_ = State::Data;
            return 0;
        case State::LongCountLow:
            crc_ = Crc16ArcUpdate(crc_, byte);
            countLow_ = byte;
            state_ = State::LongCountHigh;
            return 0;
        case State::LongCountHigh: {
            crc_ = Crc16ArcUpdate(crc_, byte);
            count_ = countLow_ | (static_cast<uint32_t>(byte) << kByteBits);
            if (countCheck_ != CountCheck(count_) || count_ == 0) {
                return Finish(kReplyBadCount);
            }
            // The declared count is checked against the buffer before a single
            // data byte is stored.
            if (count_ > kMaxReplyData) {
                return Finish(kReplyCountTooLarge);
            }
            *sink_.length = count_;
            frameLength_ = static_cast<uint32_t>(kReplyLongHeaderSize + count_ + kFrameTrailerSize);
            dataCount_ = 0;
            state_ = State::Data;
            return 0;
        }
        case State::Data:
            crc_ = Crc16ArcUpdate(crc_, byte);
            sink_.data[dataCount_++] = byte;
            if (dataCount_ == count_) {
                state_ = State::CrcLow;
            }
            return 0;
        case State::CrcLow:
            crcLow_ = byte;
            state_ = State::CrcHigh;
            return 0;
        case State::CrcHigh: {
            const uint16_t received =
                static_cast<uint16_t>(crcLow_ | (static_cast<uint16_t>(byte) << kByteBits));
            if (received != crc_) {
                return Finish(kReplyBadCrc);
            }
            state_ = State::End;
            return 0;
        }
        case State::End:
            if (byte != expect_.markers.end) {
                return Finish(kReplyBadEnd);
            }
            return Finish(static_cast<int>(count_));
        case State::Finished:
            return result_;
    }
    return result_;
}

ReplyParser::ReplyParser(COM_Class& channel) : core_(ExpectationOf(channel), SinkOf(channel)) {}
