// The Windows channel against the Linux velquint-sim: Set ID over loopback
// TCP, and over a pseudo-terminal of the simulator that wine opens as a COM
// port. with-sim.sh starts one simulator per case and names it in
// VELQUINT_SIM_<case>.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ostream>
#include <sstream>
#include <string>

#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "channel/TransportSerial.h"
#include "idassign/DeviceId.h"

namespace {

constexpr uint32_t kShortTimeoutMs = 300;
constexpr int kLongReply = 300;
constexpr uint8_t kLongReplyByte = 0xA5;  // with-sim.sh's tcp-data for "long"
constexpr uint8_t kId = 5;

// The simulator of case `name`: VELQUINT_SIM_<name> holds "<tcp-port> COMn".
bool FindSim(const char* name, uint16_t* port, std::string* com) {
    const char* found = std::getenv((std::string("VELQUINT_SIM_") + name).c_str());
    std::istringstream words(found != nullptr ? found : "");
    return static_cast<bool>(words >> *port >> *com);
}

enum class Over { Tcp, ComPort };

// Each names a simulator that with-sim.sh starts.
struct SimCase {
    const char* name;
    Over over;
    uint32_t timeoutMs;
    int expected;
};

void PrintTo(const SimCase& c, std::ostream* os) {
    *os << c.name;
}

const SimCase kCases[] = {
    {"answers", Over::Tcp, kDeviceIdReplyLimitMs, 1},
    {"silent", Over::Tcp, kShortTimeoutMs, kReceiveTimeout},
    {"noise", Over::Tcp, kDeviceIdReplyLimitMs, 1},
    {"trickle", Over::Tcp, kShortTimeoutMs, kReceiveTimeout},
    {"long", Over::Tcp, kDeviceIdReplyLimitMs, kLongReply},
    {"closes", Over::Tcp, kDeviceIdReplyLimitMs, kPeerClosed},
    {"answers", Over::ComPort, kDeviceIdReplyLimitMs, 1},
    {"silent", Over::ComPort, kShortTimeoutMs, kReceiveTimeout},
    {"noise", Over::ComPort, kDeviceIdReplyLimitMs, 1},
    {"trickle", Over::ComPort, kShortTimeoutMs, kReceiveTimeout},
    {"long", Over::ComPort, kDeviceIdReplyLimitMs, kLongReply},
};

class SimChannel : public testing::TestWithParam<SimCase> {};

TEST_P(SimChannel, SetIdEndsWithTheCodeOfTheFault) {
    const SimCase& c = GetParam();
    uint16_t port = 0;
    std::string com;
    if (!FindSim(c.name, &port, &com)) {
        GTEST_SKIP() << "run by with-sim.sh, which names the simulators in VELQUINT_SIM_<case>";
    }
    COM_Class channel;
    if (c.over == Over::Tcp) {
        channel.Kind = TransportKind::Tcp;
        std::strcpy(channel.HostAddress, "127.0.0.1");
        channel.HostPort = port;
    } else {
        ASSERT_LT(com.size(), sizeof channel.PortName);
        std::strcpy(channel.PortName, com.c_str());
    }
    ASSERT_EQ(channel.Open(kDeviceIdConnectLimitMs), kChannelOk);
    EXPECT_EQ(TransactDeviceId(channel, kId, nullptr, c.timeoutMs), c.expected);
    if (c.expected > 0) {
        EXPECT_EQ(channel.ReplyData[0], c.expected == 1 ? kId : kLongReplyByte);
    }
    // Closed, the port or connection is free for the next open.
    channel.Close();
    EXPECT_EQ(channel.Open(kDeviceIdConnectLimitMs), kChannelOk);
}

INSTANTIATE_TEST_SUITE_P(Loopback, SimChannel, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<SimCase>& info) {
                             return std::string(info.param.name) +
                                    (info.param.over == Over::Tcp ? "OverTcp" : "OverComPort");
                         });

// --serial COM3 names \\.\COM3, the form that also reaches COM10 and on.
TEST(ComPort, NameIsTheDevicePathOfTheSystem) {
    std::string path;
    const char com3[kPortNameSize] = "COM3";
    ASSERT_TRUE(SerialDevicePath(com3, sizeof com3, &path));
    EXPECT_EQ(path, "\\\\.\\COM3");
    const char full[4] = {'C', 'O', 'M', '1'};
    EXPECT_FALSE(SerialDevicePath(full, sizeof full, &path));
}

TEST(ComPort, ThatIsNotThereDoesNotOpen) {
    COM_Class channel;
    std::strcpy(channel.PortName, "COM199");
    EXPECT_EQ(channel.Open(0), kSerialOpenFailed);
    EXPECT_EQ(channel.SerialOpen, 0);
}

}  // namespace
