// The simulator's TCP service in the lab: Set ID reaches a device at its own
// address, and a setup moves the service to the device's new address and
// port, leaving the old ones refusing. A device that restarts after the setup
// is off the network meanwhile and comes back there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "discovery/DeviceListRows.h"
#include "discovery/DeviceTable.h"
#include "discovery/DiscoverDevices.h"
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

// A broadcast setup giving kMac the address `newIp` and service port `port`.
int MoveTo(const std::string& newIp, uint16_t port, int waitSeconds = kSetupReplyWaitSeconds) {
    SetupRequest request;
    std::copy(std::begin(kMac), std::end(kMac), request.Mac);
    EXPECT_TRUE(CopyAddressText(request.NewIp, newIp));
    EXPECT_TRUE(CopyAddressText(request.NewMask, "255.255.255.0"));
    EXPECT_TRUE(CopyAddressText(request.NewGateway, DeviceNetPrefix() + "1"));
    request.Port = port;
    request.BaudCode = 3;
    request.ReplyWaitSeconds = waitSeconds;
    request.Broadcast = 1;
    RequireLabNamespace();
    return SendSetupRequest(request);
}

// One search with a first wait of 1 s: "<ip>:<port>" of each row.
std::vector<std::string> Search() {
    uint8_t table[kDeviceTableSize] = {};
    std::vector<std::string> rows;
    DeviceRowTexts row;
    const int found = DiscoverDevices(table, sizeof table, 1);
    for (int i = 0; i < found && DeviceRowTextsAt(table, sizeof table, i, &row); ++i) {
        rows.push_back(row.subItems[kSubItemIp] + ":" + row.subItems[kSubItemPort]);
    }
    return rows;
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
    ASSERT_EQ(MoveTo(newIp, 4002), kSetupSuccess);
    EXPECT_EQ(SetId(channel, 8), 1);

    EXPECT_EQ(Open(channel, oldIp, 4001), kTcpConnectFailed);
    EXPECT_EQ(channel.SocketOpen, 0);
    EXPECT_EQ(Open(channel, newIp, 4001), kTcpConnectFailed);
    ASSERT_EQ(Open(channel, newIp, 4002), kChannelOk);
    ASSERT_EQ(SetId(channel, 9), 1);
    EXPECT_EQ(channel.ReplyData[0], 9);
}

// Within the 1.5 s restart: a search (1 s) and a setup for the device that
// then waits 1 s in vain; the device is back when that wait ends.
TEST(SimTcpInLab, RestartingDeviceIsOffTheNetworkThenBackAtItsNewSettings) {
    const std::string oldIp = DeviceNetPrefix() + "5";
    const std::string newIp = DeviceNetPrefix() + "9";
    const std::string restarting = "mac=00.1A.2B.3C.4D.5E,ip=" + oldIp + ",port=4001,restart=1500";
    // Shares the service at the old address and port, and keeps it.
    const std::string sharing = "mac=00.1A.2B.3C.4D.01,silent=1,ip=" + oldIp + ",port=4001";
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        size_t restarted;  // devices that take the setup
        int oldPort;       // a connect to the old address and port, after the setup
    };
    const Case cases[] = {
        {"one device", {"--device", restarting}, 1, kTcpConnectFailed},
        {"twins", {"--device", restarting, "--device", restarting}, 2, kTcpConnectFailed},
        {"sharing", {"--device", restarting, "--device", sharing}, 1, kChannelOk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim(c.arguments);
        ASSERT_TRUE(sim.ready()) << sim.failure();
        COM_Class held;
        ASSERT_EQ(Open(held, oldIp, 4001), kChannelOk);

        ASSERT_EQ(MoveTo(newIp, 4002), kSetupSuccess);
        EXPECT_NE(SetId(held, 7), 1) << "the restart closes the connections it had";
        COM_Class channel;
        EXPECT_EQ(Open(channel, newIp, 4002), kTcpConnectFailed);
        EXPECT_EQ(Open(channel, oldIp, 4001), c.oldPort);
        EXPECT_TRUE(Search().empty());
        EXPECT_EQ(MoveTo(newIp, 4003, 1), kSetupNoReply);

        EXPECT_EQ(Open(channel, newIp, 4002), kChannelOk);
        EXPECT_EQ(Search(), std::vector<std::string>(c.restarted, newIp + ":4002"));
    }
}

}  // namespace
