// The Windows channel against the Linux velquint-sim: Set ID over loopback
// TCP, and over a pseudo-terminal of the simulator that wine opens as a COM
// port. with-sim.sh starts one simulator per case and names them in
// VELQUINT_SIM_DEVICES as "name:tcp-port:COMn ...".
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
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

struct SimDevice {
    uint16_t port = 0;
    std::string com;
};

std::map<std::string, SimDevice> SimDevices() {
    std::map<std::string, SimDevice> devices;
    const char* list = std::getenv("VELQUINT_SIM_DEVICES");
    std::istringstream words(list != nullptr ? list : "");
    std::string word;
    while (words >> word) {
        const size_t first = word.find(':');
        const size_t second = word.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos) {
            continue;
        }
        SimDevice device;
        device.port = static_cast<uint16_t>(std::stoul(word.substr(first + 1, second - first - 1)));
        device.com = word.substr(second + 1);
        devices[word.substr(0, first)] = device;
    }
    return devices;
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
    const auto devices = SimDevices();
    const auto found = devices.find(c.name);
    if (found == devices.end()) {
        GTEST_SKIP() << "run by with-sim.sh, which names the simulators in VELQUINT_SIM_DEVICES";
    }
    COM_Class channel;
    if (c.over == Over::Tcp) {
        channel.Kind = TransportKind::Tcp;
        std::strcpy(channel.HostAddress, "127.0.0.1");
        channel.HostPort = found->second.port;
    } else {
        ASSERT_LT(found->second.com.size(), sizeof channel.PortName);
        std::strcpy(channel.PortName, found->second.com.c_str());
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
