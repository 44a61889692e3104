// The simulator's TCP service in the lab: Set ID reaches a device at its own
// address, and a setup moves the service to the device's new address and
// port, leaving the old ones refusing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "idassign/DeviceId.h"
#include "setup/SendSetupRequest.h"
#include "setup/SetupRequest.h"
#include "tests/support/LabSupport.h"

namespace {

constexpr uint32_t kConnectLimitMs = 5000;
constexpr uint32_t kReplyLimitMs = 3000;
constexpr uint8_t kMac[kSetupMacLength] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};

int Open(COM_Class& channel, const std::string& ip, uint16_t port) {
    channel.Close();
    channel.Kind = TransportKind::Tcp;
    std::strncpy(channel.HostAddress, ip.c_str(), kAddressTextFieldSize - 1);
    channel.HostPort = port;
    return channel.Open(kConnectLimitMs);
}

int SetId(COM_Class& channel, uint8_t id) {
    return TransactDeviceId(channel, id, nullptr, kReplyLimitMs);
}

TEST(SimTcpInLab, SetupMovesTheServiceToTheNewAddressAndPort) {
    const std::string oldIp = DeviceNetPrefix() + "5";
    const std::string newIp = DeviceNetPrefix() + "9";
    SimProcess sim({"--device", "mac=00.1A.2B.3C.4D.5E,ip=" + oldIp + ",port=4001"});
    ASSERT_TRUE(sim.ready()) << sim.failure();
    COM_Class channel;
    ASSERT_EQ(Open(channel, oldIp, 4001), kChannelOk);
    ASSERT_EQ(SetId(channel, 7), 1);
    EXPECT_EQ(channel.ReplyData[0], 7);

    // A connection that is open when the setup arrives stays as it is.
    SetupRequest request;
    std::copy(std::begin(kMac), std::end(kMac), request.Mac);
    ASSERT_TRUE(CopyAddressText(request.NewIp, newIp));
    ASSERT_TRUE(CopyAddressText(request.NewMask, "255.255.255.0"));
    ASSERT_TRUE(CopyAddressText(request.NewGateway, DeviceNetPrefix() + "1"));
    request.Port = 4002;
    request.BaudCode = 3;
    request.Broadcast = 1;
    RequireLabNamespace();
    ASSERT_EQ(SendSetupRequest(request), kSetupSuccess);
    EXPECT_EQ(SetId(channel, 8), 1);

    EXPECT_EQ(Open(channel, oldIp, 4001), kTcpConnectFailed);
    EXPECT_EQ(channel.SocketOpen, 0);
    EXPECT_EQ(Open(channel, newIp, 4001), kTcpConnectFailed);
    ASSERT_EQ(Open(channel, newIp, 4002), kChannelOk);
    ASSERT_EQ(SetId(channel, 9), 1);
    EXPECT_EQ(channel.ReplyData[0], 9);
}

}  // namespace
