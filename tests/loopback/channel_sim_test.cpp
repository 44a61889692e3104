// The device channel against velquint-sim's TCP service on 127.0.0.1: every
// fault the simulator can play ends the transaction with its own code, and
// what the tool sends is read back from the simulator's record.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "channel/Tick.h"
#include "idassign/DeviceId.h"
#include "tests/support/LoopbackSim.h"
#include "tests/support/TcpListener.h"
#include "tests/support/TestFrames.h"

namespace {

using test_frames::Bytes;

// For the faults that end in a time-out: short, so the suite stays quick.
constexpr uint32_t kShortTimeoutMs = 300;
constexpr int kNoDetail = -1;
// Beyond a time-out, for a loaded machine; far below the flood's 8 s.
constexpr uint32_t kFloodMarginMs = 2000;

int OpenTo(COM_Class& channel, uint16_t port) {
    channel.Kind = TransportKind::Tcp;
    std::strcpy(channel.HostAddress, "127.0.0.1");
    channel.HostPort = port;
    return channel.Open(kDeviceIdConnectLimitMs);
}

int SetId(COM_Class& channel, uint8_t id, uint32_t timeoutMs, int32_t* detail) {
    return TransactDeviceId(channel, id, detail, timeoutMs);
}

struct FaultCase {
    const char* name;
    std::string settings;
    uint32_t timeoutMs;
    int expected;
    int32_t detail;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class SimFaults : public testing::TestWithParam<FaultCase> {};

TEST_P(SimFaults, EndTheTransactionWithTheirCode) {
    const FaultCase& c = GetParam();
    LoopbackSim sim({"--device", "port=0," + c.settings});
    ASSERT_TRUE(sim.ready()) << sim.failure();
    COM_Class channel;
    ASSERT_EQ(OpenTo(channel, sim.Port()), kChannelOk);

    int32_t detail = kNoDetail;
    EXPECT_EQ(SetId(channel, 5, c.timeoutMs, &detail), c.expected);
    EXPECT_EQ(detail, c.detail);
    // The device took exactly the request the tool meant to send.
    const std::vector<LoopbackSim::Frame> frames = sim.Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].valid);
    EXPECT_EQ(HexText(frames[0].bytes), HexText(test_frames::kWorkedSetIdRequest));
    channel.Close();
}

std::string Hex(size_t count, const char* pair) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += pair;
    }
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Loopback, SimFaults,
    testing::Values(
        FaultCase{"Answers", "", kDeviceIdReplyLimitMs, 1, kNoDetail},
        FaultCase{"AnswersLate", "tcp-delay=300", kDeviceIdReplyLimitMs, 1, kNoDetail},
        FaultCase{"AnswersAfterTheLimit", "tcp-delay=800", kShortTimeoutMs, kReceiveTimeout,
                  kNoDetail},
        FaultCase{"NeverAnswers", "tcp-reply=none", kShortTimeoutMs, kReceiveTimeout, kNoDetail},
        FaultCase{"NoiseBeforeTheStartMarker", "tcp-noise=600", kDeviceIdReplyLimitMs, 1,
                  kNoDetail},
        FaultCase{"WrongAddress", "tcp-address=2", kDeviceIdReplyLimitMs, kReplyWrongAddress,
                  kNoDetail},
        FaultCase{"WrongSequence", "tcp-sequence=1", kDeviceIdReplyLimitMs, kReplyWrongSequence,
                  kNoDetail},
        FaultCase{"BadCountCheck", "tcp-bad-check=1", kDeviceIdReplyLimitMs, kReplyBadCount,
                  kNoDetail},
        FaultCase{"LongCountZero", "tcp-count=0", kDeviceIdReplyLimitMs, kReplyBadCount, kNoDetail},
        FaultCase{"LongCount12001", "tcp-count=12001", kDeviceIdReplyLimitMs, kReplyCountTooLarge,
                  kNoDetail},
        FaultCase{"LongFormOfAShortCount", "tcp-long=1", kDeviceIdReplyLimitMs, 1, kNoDetail},
        FaultCase{"LongFormOf300Bytes", "tcp-data=" + Hex(300, "A5"), kDeviceIdReplyLimitMs, 300,
                  kNoDetail},
        FaultCase{"BadCrc", "tcp-bad-crc=1", kDeviceIdReplyLimitMs, kReplyBadCrc, kNoDetail},
        FaultCase{"WrongEndMarker", "tcp-end=6", kDeviceIdReplyLimitMs, kReplyBadEnd, kNoDetail},
        FaultCase{"Result80IsSuccess", "tcp-result=128", kDeviceIdReplyLimitMs, 1, kNoDetail},
        FaultCase{"Result81WithDetail", "tcp-result=129,tcp-data=0702", kDeviceIdReplyLimitMs,
                  kTransactDeviceDetail, 207},
        FaultCase{"Result1WithOneDataByte", "tcp-result=1", kDeviceIdReplyLimitMs,
                  kTransactDeviceDetail, 5},
        FaultCase{"Result2", "tcp-result=2", kDeviceIdReplyLimitMs, kTransactDeviceResult2,
                  kNoDetail},
        FaultCase{"Result3", "tcp-result=3", kDeviceIdReplyLimitMs, kTransactDeviceResult3,
                  kNoDetail},
        FaultCase{"Result4", "tcp-result=4", kDeviceIdReplyLimitMs, kTransactDeviceResult4,
                  kNoDetail},
        FaultCase{"Result5", "tcp-result=5", kDeviceIdReplyLimitMs, kTransactDeviceOther,
                  kNoDetail},
        FaultCase{"Result127", "tcp-result=127", kDeviceIdReplyLimitMs, kTransactDeviceOther,
                  kNoDetail},
        FaultCase{"Result255", "tcp-result=255", kDeviceIdReplyLimitMs, kTransactDeviceOther,
                  kNoDetail},
        FaultCase{"TrickleOfNonMarkerBytes", "tcp-trickle=20", kShortTimeoutMs, kReceiveTimeout,
                  kNoDetail},
        FaultCase{"ClosesTheConnection", "tcp-reply=close", kDeviceIdReplyLimitMs, kPeerClosed,
                  kNoDetail},
        FaultCase{"ClosesTheConnectionLater", "tcp-reply=close,tcp-delay=100",
                  kDeviceIdReplyLimitMs, kPeerClosed, kNoDetail}),
    [](const testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// A peer that never stops sending holds no transaction past its time-out,
// whether the stream begins before the request (the drain gives up) or after
// it (the receive does); a reply behind a stream is still taken, since its
// bytes move the clock. Streams end after 8 s, so a channel without the
// bound ends too, only late.
TEST(SimFlood, EndsTheTransactionWithinItsTimeOut) {
    struct Case {
        const char* name;
        const char* settings;
        uint32_t timeoutMs;
        int expected;
    };
    const Case cases[] = {
        {"flood before the request", "tcp-flood=accept,tcp-flood-for=8000", kShortTimeoutMs,
         kReceiveTimeout},
        {"flood after the request", "tcp-flood=request,tcp-flood-for=8000", kShortTimeoutMs,
         kReceiveTimeout},
        {"flood, then a reply", "tcp-flood=request,tcp-flood-for=300,tcp-delay=600",
         kDeviceIdReplyLimitMs, 1},
    };
    for (const Case& c : cases) {
        LoopbackSim sim({"--device", std::string("port=0,") + c.settings});
        ASSERT_TRUE(sim.ready()) << sim.failure();
        COM_Class channel;
        ASSERT_EQ(OpenTo(channel, sim.Port()), kChannelOk);
        const uint64_t start = TickMs();
        EXPECT_EQ(SetId(channel, 5, c.timeoutMs, nullptr), c.expected) << c.name;
        EXPECT_LT(TickMs() - start, c.timeoutMs + kFloodMarginMs) << c.name;
    }
}

// A reply frame has, from its start marker, the time-out plus what its
// declared length needs on the line: serial 10 bits a byte at the rate,
// doubled; TCP a fixed 5 s. A peer that trickles a long frame one byte just
// inside each time-out ends there with the time-out's code, and not before;
// an honest peer on a slow line, whose frame takes many time-outs, completes.
struct BoundCase {
    const char* name;
    uint32_t baud;  // 0: over TCP; else over the simulator's pseudo-terminal
    std::string settings;
    int expected;
    uint64_t frameBoundMs;  // the time-out plus the frame's allowance
};

class SimTrickle : public testing::TestWithParam<BoundCase> {};

constexpr uint32_t kTrickleTimeoutMs = 500;

TEST_P(SimTrickle, EndsTheReplyWithinTheBoundItsLengthExplains) {
    const BoundCase& c = GetParam();
    LoopbackSim sim({"--pty", "--device", "port=0," + c.settings});
    ASSERT_TRUE(sim.ready()) << sim.failure();
    COM_Class channel;
    channel.BaudRate = c.baud;
    std::strncpy(channel.PortName, sim.PtyName().c_str(), sizeof channel.PortName - 1);
    ASSERT_EQ(c.baud == 0 ? OpenTo(channel, sim.Port()) : channel.Open(0), kChannelOk);
    const uint64_t start = TickMs();
    EXPECT_EQ(SetId(channel, 5, kTrickleTimeoutMs, nullptr), c.expected);
    const uint64_t elapsed = TickMs() - start;
    EXPECT_LT(elapsed, c.frameBoundMs + kFloodMarginMs);
    if (c.expected == kReceiveTimeout) {
        EXPECT_GT(elapsed, c.frameBoundMs);
    } else {
        EXPECT_EQ(channel.ReplyData[c.expected - 1], (c.expected - 1) & 0xFF);
    }
}

// A byte every 300 ms, well inside the 500 ms time-out even on a loaded
// machine, so that only the frame's own bound can end the reply.
const char kTrickle[] = "tcp-reply=trickle-frame,tcp-trickle=300";

INSTANTIATE_TEST_SUITE_P(
    Loopback, SimTrickle,
    testing::Values(BoundCase{"TcpTrickling4000Bytes", 0, kTrickle, kReceiveTimeout,
                              kTrickleTimeoutMs + 5000},
                    // 4015 bytes at 115200 bit/s: 349 ms, doubled.
                    BoundCase{"SerialTrickling4000Bytes", 115200, kTrickle, kReceiveTimeout,
                              kTrickleTimeoutMs + 698},
                    // 113 bytes at 300 bit/s: 3.8 s, each byte 33 ms after the last; doubled.
                    BoundCase{"Serial300BaudHonest100Bytes", 300, "tcp-baud=300,tcp-size=100", 100,
                              kTrickleTimeoutMs + 7534},
                    // 4015 bytes at 19200 bit/s: 2.1 s.
                    BoundCase{"TcpAt19200BaudHonest4000Bytes", 0, "tcp-baud=19200,tcp-size=4000",
                              4000, kTrickleTimeoutMs + 5000}),
    [](const testing::TestParamInfo<BoundCase>& info) { return std::string(info.param.name); });

TEST(SimDrain, BytesSentBeforeTheRequestNeverReachTheParser) {
    // Unless drained, a start marker and a foreign address would end the
    // transaction with "wrong address" before the real reply is read.
    LoopbackSim sim({"--device", "port=0,tcp-before=91FFFFFFFFFF00"});
    ASSERT_TRUE(sim.ready()) << sim.failure();
    COM_Class channel;
    ASSERT_EQ(OpenTo(channel, sim.Port()), kChannelOk);
    pollfd leftovers{channel.Socket, POLLIN, 0};
    ASSERT_EQ(poll(&leftovers, 1, 10000), 1) << "the simulator sent nothing ahead";

    EXPECT_EQ(SetId(channel, 5, kDeviceIdReplyLimitMs, nullptr), 1);
    EXPECT_EQ(channel.ReplyData[0], 5);
}

TEST(SimSetId, StoresTheIdAndAnswersEachRequestOfAConnection) {
    LoopbackSim sim({"--device", "port=0,id=3"});
    ASSERT_TRUE(sim.ready()) << sim.failure();
    COM_Class channel;
    ASSERT_EQ(OpenTo(channel, sim.Port()), kChannelOk);

    ASSERT_EQ(SetId(channel, 7, kDeviceIdReplyLimitMs, nullptr), 1);
    EXPECT_EQ(channel.ReplyData[0], 7);
    ASSERT_EQ(SetId(channel, 255, kDeviceIdReplyLimitMs, nullptr), 1);
    EXPECT_EQ(channel.ReplyData[0], 255);
    channel.Close();
    ASSERT_EQ(OpenTo(channel, sim.Port()), kChannelOk);
    // Another request is refused and leaves the ID alone.
    const uint8_t other = 9;
    EXPECT_EQ(channel.Transact(kDeviceIdAddress, 1, 1, 1, &other, kDeviceIdReplyLimitMs, nullptr),
              kTransactDeviceResult2);
    EXPECT_EQ(channel.ReplyData[0], 255);

    // Consecutive sequence numbers on one connection and across Close/Open.
    const std::vector<LoopbackSim::Frame> frames = sim.Frames();
    ASSERT_EQ(frames.size(), 3u);
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_TRUE(frames[i].valid);
        EXPECT_EQ(frames[i].bytes[1], i + 1);
    }
}

TEST(SimOpen, StoppedDeviceRefusesTheConnection) {
    LoopbackSim sim({"--device", "port=0"});
    ASSERT_TRUE(sim.ready()) << sim.failure();
    const uint16_t port = sim.Port();
    sim.Stop();
    COM_Class channel;
    EXPECT_EQ(OpenTo(channel, port), kTcpConnectFailed);
    EXPECT_EQ(channel.SocketOpen, 0);
}

TEST(SimLoopback, ServesSeveralDevicesOnTheirOwnPorts) {
    LoopbackSim sim({"--device", "port=0,id=1", "--device", "port=0,tcp-result=2"});
    ASSERT_TRUE(sim.ready()) << sim.failure();
    ASSERT_NE(sim.Port(0), sim.Port(1));
    COM_Class first;
    COM_Class second;
    ASSERT_EQ(OpenTo(first, sim.Port(0)), kChannelOk);
    ASSERT_EQ(OpenTo(second, sim.Port(1)), kChannelOk);
    EXPECT_EQ(SetId(first, 5, kDeviceIdReplyLimitMs, nullptr), 1);
    EXPECT_EQ(SetId(second, 5, kDeviceIdReplyLimitMs, nullptr), kTransactDeviceResult2);
}

}  // namespace

namespace {

TEST(SimLoopback, DevicesAtOneAddressAndPortShareTheFirstOnesService) {
    // Discovery tests list duplicates; their TCP side must not keep the
    // simulator from starting.
    const std::string port = "port=" + std::to_string(FreeLoopbackPort());
    LoopbackSim sim({"--device", port + ",id=1,tcp-result=0", "--device", port + ",tcp-result=2"});
    ASSERT_TRUE(sim.ready()) << sim.failure();
    ASSERT_EQ(sim.Port(0), sim.Port(1));
    COM_Class channel;
    ASSERT_EQ(OpenTo(channel, sim.Port(1)), kChannelOk);
    EXPECT_EQ(SetId(channel, 5, kDeviceIdReplyLimitMs, nullptr), 1);
}

// The whole operation leaves the channel closed whichever way it ends, and
// tells a failed open from a failed transaction.
TEST(WriteDeviceId, OpensTransactsAndClosesOnEveryWayOut) {
    LoopbackSim sim({"--device", "port=0", "--device", "port=0,tcp-result=3"});
    ASSERT_TRUE(sim.ready()) << sim.failure();
    struct Case {
        uint16_t port;
        int openResult;
        int result;
    };
    const Case cases[] = {{sim.Port(0), kChannelOk, 1},
                          {sim.Port(1), kChannelOk, kTransactDeviceResult3},
                          {FreeLoopbackPort(), kTcpConnectFailed, 0}};
    for (const Case& c : cases) {
        COM_Class channel;
        channel.Kind = TransportKind::Tcp;
        std::strcpy(channel.HostAddress, "127.0.0.1");
        channel.HostPort = c.port;
        const DeviceIdOutcome outcome = WriteDeviceId(channel, 5);
        EXPECT_EQ(outcome.openResult, c.openResult) << c.port;
        EXPECT_EQ(outcome.result, c.result) << c.port;
        EXPECT_EQ(outcome.Written(), c.result > 0) << c.port;
        EXPECT_EQ(channel.SocketOpen, 0) << c.port;
    }
}

}  // namespace
