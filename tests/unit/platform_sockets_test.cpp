// The socket seam on 127.0.0.1, the same on Linux and under wine: what the
// two systems say differently (a refused connect, a datagram longer than
// the buffer, a receive that must not wait) reaches the core with one
// meaning. Nothing here leaves loopback or uses port 3195.
#include "platform/Sockets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "platform/Interfaces.h"
#include "tests/support/TcpListener.h"
#include "tests/support/TestLimits.h"

namespace {

constexpr int kWaitMs = 5000;

// A UDP socket on 127.0.0.1 that tells the interface of each datagram.
struct LoopbackUdp {
    SocketHandle socket = OpenUdpSocket();
    uint16_t port = 0;

    LoopbackUdp() {
        SetSocketOption(socket, SocketOption::PacketInfo, 1);
        BindSocket(socket, kLoopbackIp, 0);
        LocalPort(socket, &port);
    }
    ~LoopbackUdp() { CloseSocket(socket); }
    LoopbackUdp(const LoopbackUdp&) = delete;
    LoopbackUdp& operator=(const LoopbackUdp&) = delete;

    bool Send(size_t length, uint8_t fill) {
        const std::vector<uint8_t> bytes(length, fill);
        return SendDatagram(socket, bytes.data(), bytes.size(), kLoopbackIp, port, 0) ==
               static_cast<ssize_t>(length);
    }
};

unsigned LoopbackIndex() {
    for (const NetworkInterface& entry : ListIpv4Interfaces()) {
        if (entry.loopback && entry.address == kLoopbackIp) {
            return entry.index;
        }
    }
    return 0;
}

}  // namespace

TEST(SocketSeam, DatagramLongerThanTheBufferIsRefusedAndGone) {
    LoopbackUdp udp;
    ASSERT_NE(udp.port, 0);
    ASSERT_TRUE(udp.Send(12, 0xAA));
    ASSERT_TRUE(udp.Send(4, 0x55));
    ASSERT_GT(WaitSocket(udp.socket, kSocketReadable, kWaitMs), 0);

    uint8_t buffer[8] = {};
    unsigned arrivedOn = 99;
    EXPECT_EQ(ReceiveDatagram(udp.socket, buffer, sizeof buffer, false, &arrivedOn), -1);
    EXPECT_EQ(LastSocketError(), SocketError::MessageTooLong);

    ASSERT_GT(WaitSocket(udp.socket, kSocketReadable, kWaitMs), 0);
    EXPECT_EQ(ReceiveDatagram(udp.socket, buffer, sizeof buffer, false, &arrivedOn), 4);
    EXPECT_EQ(buffer[0], 0x55);
    EXPECT_EQ(arrivedOn, LoopbackIndex());
    EXPECT_NE(arrivedOn, 0u);
}

TEST(SocketSeam, ReceiveThatMustNotWaitSaysWouldBlock) {
    LoopbackUdp udp;
    uint8_t buffer[8];
    EXPECT_EQ(ReceiveDatagram(udp.socket, buffer, sizeof buffer, true, nullptr), -1);
    EXPECT_EQ(LastSocketError(), SocketError::WouldBlock);
    EXPECT_EQ(WaitSocket(udp.socket, kSocketReadable, 0), 0);
}

// Linux shows a refused non-blocking connect as writable with SO_ERROR set,
// Windows in the exception set; either way it must not pass as open.
TEST(SocketSeam, RefusedConnectFailsAndAcceptedOneOpens) {
    const TcpListener refusing = TcpListener::Refusing();
    const TcpListener listening;
    struct Case {
        const char* name;
        uint16_t port;
        int open;
    };
    for (const Case& c : {Case{"refused", refusing.Port(), kTcpConnectFailed},
                          Case{"listening", listening.Port(), kChannelOk}}) {
        COM_Class channel;
        channel.Kind = TransportKind::Tcp;
        std::strcpy(channel.HostAddress, "127.0.0.1");
        channel.HostPort = c.port;
        EXPECT_EQ(channel.Open(kWaitMs), c.open) << c.name;
        EXPECT_EQ(channel.SocketOpen, c.open == kChannelOk ? 1 : 0) << c.name;
    }
}

TEST(InterfaceSeam, NamesAndIndexesMatchEachOther) {
    const std::vector<NetworkInterface> interfaces = ListIpv4Interfaces();
    ASSERT_NE(LoopbackIndex(), 0u);
    for (const NetworkInterface& entry : interfaces) {
        EXPECT_FALSE(InterfaceName(entry.index).empty()) << entry.index;
        EXPECT_EQ(InterfaceIndex(InterfaceName(entry.index)), entry.index) << entry.name;
    }
    EXPECT_EQ(InterfaceName(0), "");
}
