#include "channel/COM_Class.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "channel/ChannelResult.h"
#include "channel/Transport.h"
#include "idassign/DeviceId.h"

TEST(ComClassConstruction, Defaults) {
    COM_Class channel;
    EXPECT_EQ(TransportKind::Serial, channel.Kind);
    EXPECT_STREQ("COM1", channel.PortName);
    EXPECT_EQ(19200u, channel.BaudRate);
    EXPECT_EQ(0, channel.SerialOpen);
    EXPECT_EQ(0, channel.SocketOpen);
    EXPECT_EQ(0, channel.HidOpen);
    EXPECT_STREQ("", channel.HostAddress);
    EXPECT_EQ(0, channel.HostPort);
    EXPECT_EQ(-1, channel.SerialHandle);
    EXPECT_EQ(-1, channel.Socket);
    EXPECT_EQ(0, channel.CipherEnabled);
    EXPECT_EQ(0, channel.MarkerSet);
    EXPECT_EQ(nullptr, channel.Events);
    const uint8_t zeros[kRequestFrameSize] = {};
    EXPECT_EQ(0, std::memcmp(zeros, channel.RequestFrame, sizeof(zeros)));
}

TEST(ComClassDispatch, EachKindHasItsOwnTransportAndNoTransportHasNone) {
    EXPECT_EQ(&kSerialTransport, TransportFor(TransportKind::Serial));
    EXPECT_EQ(&kTcpTransport, TransportFor(TransportKind::Tcp));
    EXPECT_EQ(&kHidTransport, TransportFor(TransportKind::Hid));
    EXPECT_EQ(nullptr, TransportFor(TransportKind::NoTransport));
    EXPECT_EQ(nullptr, TransportFor(0));
    EXPECT_EQ(nullptr, TransportFor(5));
}

struct KindCase {
    uint8_t kind;
    int openResult;
};

class ComClassOpenKind : public testing::TestWithParam<KindCase> {};

TEST_P(ComClassOpenKind, OpensNothingAndAnswers) {
    COM_Class channel;
    channel.Kind = GetParam().kind;
    EXPECT_EQ(GetParam().openResult, channel.Open(100));
    EXPECT_EQ(0, channel.SerialOpen);
    EXPECT_EQ(0, channel.SocketOpen);
    EXPECT_EQ(0, channel.HidOpen);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ComClassOpenKind,
                         testing::Values(KindCase{TransportKind::NoTransport, kChannelOk},
                                         KindCase{0, kChannelWrongKind},
                                         KindCase{5, kChannelWrongKind},
                                         KindCase{255, kChannelWrongKind}));

TEST(ComClassClose, OnAClosedChannelDoesNothing) {
    COM_Class channel;
    channel.Close();
    channel.Close();
    EXPECT_EQ(0, channel.SocketOpen);
    EXPECT_EQ(-1, channel.Socket);
    EXPECT_EQ(-1, channel.SerialHandle);
}

TEST(ComClassTransact, WithoutATransportFailsWithWrongKind) {
    COM_Class channel;
    channel.Kind = TransportKind::NoTransport;
    ASSERT_EQ(kChannelOk, channel.Open(0));
    const uint8_t id = 5;
    EXPECT_EQ(kChannelWrongKind, channel.Transact(kDeviceIdAddress, kDeviceIdFunction,
                                                  kDeviceIdCommand, 1, &id, 100, nullptr));
    channel.Kind = 7;
    EXPECT_EQ(kChannelWrongKind, channel.Transact(kDeviceIdAddress, kDeviceIdFunction,
                                                  kDeviceIdCommand, 1, &id, 100, nullptr));
}

TEST(ComClassTransact, OnAnUnopenedTcpChannelFailsWithoutASocket) {
    COM_Class channel;
    channel.Kind = TransportKind::Tcp;
    const uint8_t id = 5;
    EXPECT_EQ(kSocketError, channel.Transact(kDeviceIdAddress, kDeviceIdFunction, kDeviceIdCommand,
                                             1, &id, 100, nullptr));
}

TEST(ComClassTransact, RefusesWhatNoFrameCanCarryAndLeavesTheCounter) {
    COM_Class channel;
    channel.Kind = TransportKind::NoTransport;
    channel.RequestFrame[1] = 41;
    std::vector<uint8_t> data(4086, 0xAB);
    EXPECT_EQ(kTransactTooLong,
              channel.Transact(kDeviceIdAddress, kDeviceIdFunction, kDeviceIdCommand, 4086,
                               data.data(), 100, nullptr));
    EXPECT_EQ(kTransactTooLong,
              channel.Transact(kDeviceIdAddress, kDeviceIdFunction, kDeviceIdCommand, 0xFFFFFFFFu,
                               data.data(), 100, nullptr));
    channel.MarkerSet = 2;
    EXPECT_EQ(kTransactNoMarkerRow,
              channel.Transact(kDeviceIdAddress, kDeviceIdFunction, kDeviceIdCommand, 1,
                               data.data(), 100, nullptr));
    EXPECT_EQ(41, channel.RequestFrame[1]);
    EXPECT_EQ(0, channel.RequestFrame[0]);
    EXPECT_EQ(0, channel.RequestFrame[kRequestFrameSize - 1]);
}
