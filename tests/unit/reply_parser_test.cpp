#include "channel/ReplyParser.h"

#include <gtest/gtest.h>

#include <random>

#include "ChannelTestSupport.h"
#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"

using channeltest::Bytes;
using channeltest::Concat;
using channeltest::Reply;
using channeltest::ReplyFrame;

namespace {

struct FeedOutcome {
    int result = 0;
    long finishedAt = -1;  // index of the byte that finished the parse
};

// Prepares `channel` as a transaction with address 1 and sequence 1 would.
void ExpectSetIdReply(COM_Class& channel) {
    channel.SentAddress = 1;
    channel.SentSequence = 1;
}

FeedOutcome FeedAll(ReplyParser& parser, const Bytes& bytes) {
    FeedOutcome outcome;
    for (size_t n = 0; n < bytes.size(); ++n) {
        const int result = parser.Feed(bytes[n]);
        if (result != 0) {
            outcome.result = result;
            outcome.finishedAt = static_cast<long>(n);
            break;
        }
    }
    return outcome;
}

FeedOutcome Parse(const Bytes& bytes) {
    COM_Class channel;
    ExpectSetIdReply(channel);
    ReplyParser parser(channel);
    return FeedAll(parser, bytes);
}

}  // namespace

TEST(ReplyParser, WorkedSetIdReplyByteByByte) {
    const Bytes reply = ReplyFrame(Reply{});
    ASSERT_EQ((Bytes{0x91, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0xFE, 0x01, 0x05}),
              Bytes(reply.begin(), reply.begin() + 11));
    COM_Class channel;
    ExpectSetIdReply(channel);
    ReplyParser parser(channel);
    EXPECT_FALSE(parser.InsideFrame());
    for (size_t n = 0; n + 1 < reply.size(); ++n) {
        ASSERT_EQ(0, parser.Feed(reply[n])) << "byte " << n;
        EXPECT_TRUE(parser.InsideFrame());
    }
    EXPECT_EQ(1, parser.Feed(reply.back()));
    EXPECT_EQ(1u, channel.ReplyLength);
    EXPECT_EQ(0x05, channel.ReplyData[0]);
    EXPECT_EQ(0u, channel.ReplyResult);
}

TEST(ReplyParser, NoiseBeforeTheStartMarkerIsSkipped) {
    COM_Class channel;
    ExpectSetIdReply(channel);
    ReplyParser parser(channel);
    for (uint8_t noise : {0x00, 0x03, 0x19, 0x9A, 0xFF}) {
        EXPECT_EQ(0, parser.Feed(noise));
        EXPECT_FALSE(parser.InsideFrame());
    }
    const FeedOutcome outcome = FeedAll(parser, ReplyFrame(Reply{}));
    EXPECT_EQ(1, outcome.result);
}

TEST(ReplyParser, BytesAfterAFinishedFrameAreIgnored) {
    COM_Class channel;
    ExpectSetIdReply(channel);
    ReplyParser parser(channel);
    const Bytes reply = ReplyFrame(Reply{});
    const FeedOutcome outcome =
        FeedAll(parser, Concat(reply, ReplyFrame(Reply().WithData({9, 9}))));
    EXPECT_EQ(1, outcome.result);
    EXPECT_EQ(static_cast<long>(reply.size() - 1), outcome.finishedAt);
    EXPECT_EQ(1, parser.Feed(0x91));
    EXPECT_EQ(1u, channel.ReplyLength);
    EXPECT_EQ(0x05, channel.ReplyData[0]);
}

TEST(ReplyParser, ResultByteIsStoredRaw) {
    COM_Class channel;
    ExpectSetIdReply(channel);
    ReplyParser parser(channel);
    EXPECT_EQ(2, FeedAll(parser, ReplyFrame(Reply().WithResult(0x81).WithData({7, 2}))).result);
    EXPECT_EQ(0x81u, channel.ReplyResult);
}

struct AcceptCase {
    const char* name;
    Reply reply;
};

class ReplyParserAccepts : public testing::TestWithParam<AcceptCase> {};

TEST_P(ReplyParserAccepts, FinishesWithTheCountAndStoresTheData) {
    const Reply& reply = GetParam().reply;
    COM_Class channel;
    ExpectSetIdReply(channel);
    ReplyParser parser(channel);
    const Bytes frame = ReplyFrame(reply);
    const FeedOutcome outcome = FeedAll(parser, frame);
    EXPECT_EQ(static_cast<int>(reply.data.size()), outcome.result);
    EXPECT_EQ(static_cast<long>(frame.size() - 1), outcome.finishedAt);
    EXPECT_EQ(reply.data.size(), channel.ReplyLength);
    EXPECT_EQ(reply.data, Bytes(channel.ReplyData, channel.ReplyData + reply.data.size()));
}

Bytes Counting(size_t count) {
    Bytes data(count);
    for (size_t n = 0; n < count; ++n) {
        data[n] = static_cast<uint8_t>(n * 13 + 5);
    }
    return data;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ReplyParserAccepts,
    testing::Values(AcceptCase{"ShortOneByte", Reply{}},
                    AcceptCase{"ShortLargest", Reply().WithData(Counting(255))},
                    // A zero in the short count's place announces the long form,
                    // which a reply may use for a small count too.
                    AcceptCase{"LongOneByte", Reply().WithData({0x42}).InLongForm()},
                    AcceptCase{"LongThreeHundred", Reply().WithData(Counting(300))},
                    AcceptCase{"LongLargest", Reply().WithData(Counting(12000))},
                    AcceptCase{"ResultBit7", Reply().WithResult(0x80)}),
    [](const testing::TestParamInfo<AcceptCase>& info) { return info.param.name; });

// The address case needs the channel to expect the same address.
TEST(ReplyParser, ComparesTheWholeLittleEndianAddress) {
    COM_Class channel;
    channel.SentAddress = 0xA1B2C3D4;
    channel.SentSequence = 1;
    ReplyParser parser(channel);
    EXPECT_EQ(1, FeedAll(parser, ReplyFrame(Reply().WithAddress(0xA1B2C3D4))).result);

    COM_Class swapped;
    swapped.SentAddress = 0xD4C3B2A1;
    swapped.SentSequence = 1;
    ReplyParser wrong(swapped);
    EXPECT_EQ(kReplyWrongAddress,
              FeedAll(wrong, ReplyFrame(Reply().WithAddress(0xA1B2C3D4))).result);
}

struct FailCase {
    const char* name;
    Bytes bytes;
    int code;
    long finishedAt;
};

class ReplyParserFails : public testing::TestWithParam<FailCase> {};

TEST_P(ReplyParserFails, FinishesWithItsCodeAtTheOffendingByte) {
    const FeedOutcome outcome = Parse(GetParam().bytes);
    EXPECT_EQ(GetParam().code, outcome.result);
    EXPECT_EQ(GetParam().finishedAt, outcome.finishedAt);
}

Bytes WithByte(Bytes frame, size_t offset, uint8_t value) {
    frame[offset] = value;
    return frame;
}

// A long-form header with a chosen count and check byte, then nothing more.
Bytes LongHeader(uint8_t check, uint8_t low, uint8_t high) {
    return Bytes{0x91, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, check, 0x00, low, high};
}

Bytes WithEnd(uint8_t end) {
    Reply reply;
    reply.end = end;
    return ReplyFrame(reply);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ReplyParserFails,
    testing::Values(
        // A wrong address ends the parse even when a good reply follows.
        FailCase{"WrongAddress", Concat(ReplyFrame(Reply().WithAddress(2)), ReplyFrame(Reply{})),
                 kReplyWrongAddress, 5},
        FailCase{"WrongSequence", ReplyFrame(Reply().WithSequence(2)), kReplyWrongSequence, 6},
        FailCase{"ShortCountCheck", WithByte(ReplyFrame(Reply{}), 8, 0xFD), kReplyBadCount, 9},
        FailCase{"LongCountCheck", LongHeader(0x00, 0x2C, 0x01), kReplyBadCount, 11},
        FailCase{"LongCountZero", LongHeader(0xFF, 0x00, 0x00), kReplyBadCount, 11},
        // 12001 = 0x2EE1, with a correct check byte: refused before any data.
        FailCase{"LongCountAboveTheBuffer", LongHeader(0x30, 0xE1, 0x2E), kReplyCountTooLarge, 11},
        FailCase{"LongCountLargest", LongHeader(0xFF, 0xFF, 0xFF), kReplyCountTooLarge, 11},
        FailCase{"CrcLowByte", WithByte(ReplyFrame(Reply{}), 11, 0x00), kReplyBadCrc, 12},
        FailCase{"CrcHighByte", WithByte(ReplyFrame(Reply{}), 12, 0x00), kReplyBadCrc, 12},
        FailCase{"DataChanged", WithByte(ReplyFrame(Reply{}), 10, 0x06), kReplyBadCrc, 12},
        // The CRC does not cover the end byte, so it is right here.
        FailCase{"EndMarker", WithEnd(0x04), kReplyBadEnd, 13},
        FailCase{"OtherRowsEndMarker", WithEnd(0x06), kReplyBadEnd, 13},
        // The other row's start marker is noise: the parse never starts.
        FailCase{"OtherRowsStart", ReplyFrame(Reply().WithMarkers(0x9A, 0x06)), 0, -1}),
    [](const testing::TestParamInfo<FailCase>& info) { return info.param.name; });

TEST(ReplyParser, SecondMarkerRow) {
    COM_Class channel;
    ExpectSetIdReply(channel);
    channel.MarkerSet = 1;
    ReplyParser parser(channel);
    EXPECT_EQ(0, FeedAll(parser, ReplyFrame(Reply{})).result);
    EXPECT_EQ(1, FeedAll(parser, ReplyFrame(Reply().WithMarkers(0x9A, 0x06))).result);
}

TEST(ReplyParser, FailedParseKeepsWhatItGot) {
    COM_Class channel;
    ExpectSetIdReply(channel);
    ReplyParser parser(channel);
    const Bytes frame =
        WithByte(ReplyFrame(Reply().WithResult(0x83).WithData({1, 2, 3})), 14, 0x00);
    EXPECT_EQ(kReplyBadCrc, FeedAll(parser, frame).result);
    EXPECT_EQ(0x83u, channel.ReplyResult);
    EXPECT_EQ(3u, channel.ReplyLength);
    EXPECT_EQ((Bytes{1, 2, 3}), Bytes(channel.ReplyData, channel.ReplyData + 3));
}

TEST(ReplyParser, FinishedParseRepeatsItsResult) {
    COM_Class channel;
    ExpectSetIdReply(channel);
    ReplyParser parser(channel);
    EXPECT_EQ(kReplyWrongSequence, FeedAll(parser, ReplyFrame(Reply().WithSequence(9))).result);
    EXPECT_TRUE(parser.InsideFrame());
    EXPECT_EQ(kReplyWrongSequence, parser.Feed(0x91));
}

TEST(ReplyFrameParser, WorksWithoutAChannel) {
    uint8_t data[kMaxReplyData];
    uint32_t length = 0;
    uint32_t result = 0;
    ReplyFrameParser parser(ReplyExpectation{1, 1, MarkersFor(0)},
                            ReplySink{data, &length, &result});
    int outcome = 0;
    for (uint8_t byte : ReplyFrame(Reply().WithResult(4).WithData({8, 9}))) {
        outcome = parser.Feed(byte);
    }
    EXPECT_EQ(2, outcome);
    EXPECT_EQ(2u, length);
    EXPECT_EQ(4u, result);
}

// Random streams, most of them starting with a plausible header, must end in
// a count that fits the buffer or one of the parser's codes, never anything
// else.
TEST(ReplyParser, AnyStreamEndsInACountOrAParserCode) {
    std::mt19937 random(20240607);
    for (int round = 0; round < 2000; ++round) {
        Bytes stream = Bytes{0x91, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01};
        stream.resize(7 + random() % 400);
        for (size_t n = (round % 2 ? 0 : 7); n < stream.size(); ++n) {
            stream[n] = static_cast<uint8_t>(random());
        }
        const FeedOutcome outcome = Parse(stream);
        const bool count = outcome.result > 0 && outcome.result <= 12000;
        const bool code = outcome.result >= kReplyBadEnd && outcome.result <= kReplyWrongAddress;
        EXPECT_TRUE(outcome.result == 0 || count || code) << outcome.result;
    }
}
