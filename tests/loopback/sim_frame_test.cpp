// The simulated device's own frame code, pinned byte for byte to frames worked
// out by hand from the wire tables (never by the tool's builder or parser).
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "sim/SimDevice.h"
#include "sim/SimFrame.h"
#include "sim/SimOptions.h"
#include "tests/support/TestFrames.h"

namespace {

using test_frames::Bytes;

const Bytes& kWorkedRequest = test_frames::kWorkedSetIdRequest;

SimRequest WorkedRequest() {
    SimRequest request;
    request.sequence = 1;
    request.address = 1;
    request.function = 2;
    request.command = 0x5A;
    request.data = {0x05};
    return request;
}

SimTcpBehaviour Behaviour(const std::string& settings) {
    SimDevice device = DefaultSimDevice(0, {127, 0, 0, 1});
    std::string error;
    EXPECT_TRUE(ApplyDeviceSettings(settings, &device, &error)) << error;
    return device.tcp;
}

std::vector<SimFrameSeen> Read(const Bytes& stream, bool byteByByte) {
    SimRequestReader reader;
    std::vector<SimFrameSeen> frames;
    if (byteByByte) {
        for (uint8_t byte : stream) {
            reader.Feed(&byte, 1, &frames);
        }
    } else {
        reader.Feed(stream.data(), stream.size(), &frames);
    }
    return frames;
}

Bytes Joined(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(SimCrc16Arc, StandardCheckValue) {
    const std::string digits = "123456789";
    EXPECT_EQ(SimCrc16Arc(reinterpret_cast<const uint8_t*>(digits.data()), digits.size()), 0xBB3D);
}

class SimRequestReaderInPieces : public testing::TestWithParam<bool> {};

TEST_P(SimRequestReaderInPieces, TakesTheWorkedRequest) {
    const std::vector<SimFrameSeen> frames = Read(kWorkedRequest, GetParam());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].valid);
    EXPECT_EQ(frames[0].bytes, kWorkedRequest);
    EXPECT_EQ(frames[0].request.sequence, 1);
    EXPECT_EQ(frames[0].request.address, 1u);
    EXPECT_EQ(frames[0].request.function, 2);
    EXPECT_EQ(frames[0].request.command, 0x5A);
    EXPECT_EQ(frames[0].request.data, Bytes{0x05});
}

TEST_P(SimRequestReaderInPieces, SkipsNoiseAndGoesOnAfterABrokenFrame) {
    Bytes badCrc = kWorkedRequest;
    badCrc[11] ^= 0xFF;
    Bytes badCheck = kWorkedRequest;
    badCheck[7] = 0xFE;
    const Bytes stream =
        Joined({{0x00, 0x03, 0x91}, badCrc, {0x42}, badCheck, {0x5A}, kWorkedRequest});

    const std::vector<SimFrameSeen> frames = Read(stream, GetParam());

    ASSERT_EQ(frames.size(), 3u);
    EXPECT_FALSE(frames[0].valid);
    EXPECT_EQ(frames[0].bytes, badCrc);
    // A wrong check byte gives no length to trust: the frame ends at its count.
    EXPECT_FALSE(frames[1].valid);
    EXPECT_EQ(frames[1].bytes, Bytes(badCheck.begin(), badCheck.begin() + 9));
    EXPECT_TRUE(frames[2].valid);
    EXPECT_EQ(frames[2].bytes, kWorkedRequest);
}

TEST_P(SimRequestReaderInPieces, TakesTheLongForm) {
    // 255 data bytes: count 256 (00 01), check (00 XOR 01) XOR FF = FE.
    Bytes frame = {0x19, 0x07, 0x01, 0x00, 0x00, 0x00, 0x02, 0xFE, 0x00, 0x00, 0x01, 0x5A};
    for (int i = 0; i < 255; ++i) {
        frame.push_back(static_cast<uint8_t>(i));
    }
    const uint16_t crc = SimCrc16Arc(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(0x03);
    ASSERT_EQ(frame.size(), 270u);

    const std::vector<SimFrameSeen> frames = Read(frame, GetParam());

    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].valid);
    EXPECT_EQ(frames[0].request.sequence, 7);
    EXPECT_EQ(frames[0].request.data.size(), 255u);
    EXPECT_EQ(frames[0].request.data.back(), 254);
}

TEST_P(SimRequestReaderInPieces, WrongEndMarkerMakesTheFrameInvalid) {
    Bytes frame = kWorkedRequest;
    frame.back() = 0x06;
    const std::vector<SimFrameSeen> frames = Read(frame, GetParam());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_FALSE(frames[0].valid);
}

INSTANTIATE_TEST_SUITE_P(AllAtOnceAndByteByByte, SimRequestReaderInPieces, testing::Bool());

struct ReplyCase {
    const char* name;
    const char* settings;
    uint8_t result;
    Bytes data;
    Bytes expected;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ReplyCase& c, std::ostream* os) {
    *os << c.name;
}

class SimReplyFaults : public testing::TestWithParam<ReplyCase> {};

TEST_P(SimReplyFaults, ChangeOnlyTheirOwnBytes) {
    const ReplyCase& c = GetParam();
    EXPECT_EQ(BuildSimReply(WorkedRequest(), Behaviour(c.settings), c.result, c.data), c.expected);
}

// Each reply worked out by hand: 91, the function code, the request's address
// and sequence number, the result, the count with its check byte, the data,
// CRC-16/ARC low byte first, 03.
INSTANTIATE_TEST_SUITE_P(
    Replies, SimReplyFaults,
    testing::Values(
        ReplyCase{"Success",
                  "",
                  0,
                  {0x05},
                  {0x91, 0x02, 0x01, 0, 0, 0, 0x01, 0x00, 0xFE, 0x01, 0x05, 0xC8, 0x07, 0x03}},
        ReplyCase{"ResultWithBit7",
                  "",
                  0x80,
                  {0x05},
                  {0x91, 0x02, 0x01, 0, 0, 0, 0x01, 0x80, 0xFE, 0x01, 0x05, 0xE1, 0xC7, 0x03}},
        ReplyCase{
            "DetailBytes",
            "",
            0x81,
            {0x07, 0x02},
            {0x91, 0x02, 0x01, 0, 0, 0, 0x01, 0x81, 0xFD, 0x02, 0x07, 0x02, 0x4A, 0x6D, 0x03}},
        ReplyCase{"WrongAddress",
                  "tcp-address=2",
                  0,
                  {0x05},
                  {0x91, 0x02, 0x02, 0, 0, 0, 0x01, 0x00, 0xFE, 0x01, 0x05, 0xDC, 0xF7, 0x03}},
        ReplyCase{"WrongSequence",
                  "tcp-sequence=1",
                  0,
                  {0x05},
                  {0x91, 0x02, 0x01, 0, 0, 0, 0x02, 0x00, 0xFE, 0x01, 0x05, 0x8C, 0x07, 0x03}},
        ReplyCase{"BadCountCheck",
                  "tcp-bad-check=1",
                  0,
                  {0x05},
                  {0x91, 0x02, 0x01, 0, 0, 0, 0x01, 0x00, 0x01, 0x01, 0x05, 0xF8, 0x37, 0x03}},
        ReplyCase{"LongForm",
                  "tcp-long=1",
                  0,
                  {0x05},
                  {0x91, 0x02, 0x01, 0, 0, 0, 0x01, 0x00, 0xFE, 0x00, 0x01, 0x00, 0x05, 0x96, 0x3C,
                   0x03}},
        ReplyCase{"LongCountZero",
                  "tcp-count=0",
                  0,
                  {0x05},
                  {0x91, 0x02, 0x01, 0, 0, 0, 0x01, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x05, 0xFA, 0x3C,
                   0x03}},
        ReplyCase{"LongCount12001",
                  "tcp-count=12001",
                  0,
                  {0x05},
                  {0x91, 0x02, 0x01, 0, 0, 0, 0x01, 0x00, 0x30, 0x00, 0xE1, 0x2E, 0x05, 0xE3, 0xBA,
                   0x03}},
        ReplyCase{"BadCrc",
                  "tcp-bad-crc=1",
                  0,
                  {0x05},
                  {0x91, 0x02, 0x01, 0, 0, 0, 0x01, 0x00, 0xFE, 0x01, 0x05, 0x37, 0x07, 0x03}},
        ReplyCase{"WrongEndMarker",
                  "tcp-end=6",
                  0,
                  {0x05},
                  {0x91, 0x02, 0x01, 0, 0, 0, 0x01, 0x00, 0xFE, 0x01, 0x05, 0xC8, 0x07, 0x06}}),
    [](const testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

TEST(SimReply, CountAbove255TakesTheLongForm) {
    const Bytes data(256, 0xAA);
    const Bytes reply = BuildSimReply(WorkedRequest(), SimTcpBehaviour{}, 0, data);
    ASSERT_EQ(reply.size(), 12u + 256u + 3u);
    EXPECT_EQ(reply[8], 0xFE);  // (00 XOR 01) XOR FF
    EXPECT_EQ(reply[9], 0x00);
    EXPECT_EQ(reply[10], 0x00);
    EXPECT_EQ(reply[11], 0x01);
}

TEST(SimNoise, NeverAReplyStartMarker) {
    for (size_t n = 0; n < 1024; ++n) {
        EXPECT_NE(SimNoiseByte(n), 0x91) << n;
        EXPECT_NE(SimNoiseByte(n), 0x9A) << n;
    }
}

TEST(SimTcpSettings, RejectsWhatADeviceCannotSend) {
    for (const char* settings :
         {"tcp-reply=sometimes", "tcp-data=", "tcp-data=0", "tcp-end=256", "tcp-count=65536",
          "tcp-address=4294967296", "tcp-trickle=0", "tcp-bad-crc=2", "id=256", "tcp-before=xyz",
          "tcp-size=0", "tcp-size=12001", "tcp-baud=49", "tcp-baud=4000001"}) {
        SimDevice device = DefaultSimDevice(0, {127, 0, 0, 1});
        std::string error;
        EXPECT_FALSE(ApplyDeviceSettings(settings, &device, &error)) << settings;
    }
}

TEST(SimTcpSettings, HelpNamesEveryTcpKeyAndTheLoopbackOption) {
    const std::string usage = SimUsage();
    for (const char* key :
         {"id=",           "tcp-reply=",     "tcp-delay=",    "tcp-noise=",  "tcp-address=",
          "tcp-sequence=", "tcp-bad-check=", "tcp-long=",     "tcp-count=",  "tcp-bad-crc=",
          "tcp-end=",      "tcp-result=",    "tcp-data=",     "tcp-before=", "tcp-trickle=",
          "tcp-size=",     "tcp-baud=",      "trickle-frame", "--loopback",  "--record-tcp",
          "--pty"}) {
        EXPECT_NE(usage.find(key), std::string::npos) << key;
    }
}

}  // namespace
