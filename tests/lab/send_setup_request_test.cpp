#include "setup/SendSetupRequest.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "discovery/DeviceListRows.h"
#include "discovery/DeviceTable.h"
#include "discovery/DiscoverDevices.h"
#include "setup/HexPairs.h"
#include "setup/SetupRequest.h"
#include "tests/support/LabSupport.h"
#include "tests/support/TestLimits.h"

namespace {

constexpr char kMacText[] = "00.1A.2B.3C.4D.5E";
constexpr char kSimMac[] = "mac=00.1A.2B.3C.4D.5E";
// Most cases need only that a wait ends; one second keeps the suite quick.
constexpr int kQuickWaitSeconds = 1;

#define ASSERT_SIM_READY(sim) ASSERT_TRUE((sim).ready()) << (sim).failure()

std::string DeviceIp(unsigned host) {
    return DeviceNetPrefix() + std::to_string(host);
}

// The request a setup button would make for the device kMacText, currently
// at `currentIp`, keeping that address.
SetupRequest Request(bool broadcast, const std::string& currentIp,
                     int waitSeconds = kQuickWaitSeconds) {
    SetupRequest request;
    uint8_t mac[kSetupMacLength + 1];
    EXPECT_EQ(ParseHexPairs(kMacText, mac), kSetupMacLength);
    std::copy(mac, mac + kSetupMacLength, request.Mac);
    EXPECT_TRUE(CopyAddressText(request.NewIp, currentIp));
    EXPECT_TRUE(CopyAddressText(request.NewMask, "255.255.0.0"));
    EXPECT_TRUE(CopyAddressText(request.NewGateway, "10.231.0.1"));
    EXPECT_TRUE(CopyAddressText(request.CurrentIp, currentIp));
    request.Port = 502;
    request.BaudCode = 7;
    request.ReplyWaitSeconds = waitSeconds;
    request.Broadcast = broadcast ? 1 : 0;
    return request;
}

struct Outcome {
    int result = 0;
    double seconds = 0;
};

Outcome SendAndTime(const SetupRequest& request, uint32_t capMs = kSetupOverallWaitCapMs) {
    const auto start = std::chrono::steady_clock::now();
    Outcome outcome;
    outcome.result = SendSetupRequest(request, capMs);
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return outcome;
}

size_t OpenDescriptors() {
    size_t count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) {
            ++count;
        }
        closedir(dir);
    }
    return count;
}

// Whether this process can bind UDP port 3195 now, i.e. no setup socket was
// left open.
bool SetupPortFree() {
    const int probe = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kDeviceUdpPort);
    const bool bound = bind(probe, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    close(probe);
    return bound;
}

// "<tool address>:3195 <hex>" as the simulator records a datagram.
std::string Heard(const std::string& hex) {
    return Lab().toolIp + ":3195 " + hex;
}

// 'KVM47JS', command 2, 00.1A.2B.3C.4D.5E, then the addresses of Request()
// for host 5: 10.231.101.5, 255.255.0.0, 10.231.0.1.
constexpr char kRequestHexUpToPort[] =
    "4B564D34374A5302"
    "001A2B3C4D5E"
    "0AE76505"
    "FFFF0000"
    "0AE70001";

// --- What goes on the wire -----------------------------------------------------

TEST(SetupWire, BroadcastAndDirectSendTheSame29BytesFromPort3195) {
    TempDir dir;
    SimProcess sim(
        {"--record", dir.File("heard"), "--device", std::string(kSimMac) + ",ip=" + DeviceIp(5)});
    ASSERT_SIM_READY(sim);

    EXPECT_EQ(SendAndTime(Request(true, DeviceIp(5))).result, kSetupSuccess);
    EXPECT_EQ(SendAndTime(Request(false, DeviceIp(5))).result, kSetupSuccess);

    // Port 502 as 01 F6, baud code 7.
    const std::string expected = Heard(std::string(kRequestHexUpToPort) + "01F607");
    const std::vector<std::string> heard = ReadLines(dir.File("heard"));
    ASSERT_EQ(heard.size(), 2u) << "each setup is sent exactly once";
    EXPECT_EQ(heard[0], expected);
    EXPECT_EQ(heard[1], expected);
}

TEST(SetupWire, PortTravelsAsItsLow16BitsAndNoRateAsFF) {
    TempDir dir;
    SimProcess sim(
        {"--record", dir.File("heard"), "--device", std::string(kSimMac) + ",ip=" + DeviceIp(5)});
    ASSERT_SIM_READY(sim);

    struct Case {
        int typedPort;
        uint8_t baudCode;
        const char* tail;
    };
    const Case cases[] = {
        {502, 3, "01F603"},
        {70000, 0, "117000"},
        {-1, 7, "FFFF07"},
        {4001, kSetupNoBaudCode, "0FA1FF"},
    };
    for (const Case& c : cases) {
        SetupRequest request = Request(false, DeviceIp(5));
        request.Port = static_cast<uint16_t>(c.typedPort);
        request.BaudCode = c.baudCode;
        EXPECT_EQ(SendAndTime(request).result, kSetupSuccess) << c.typedPort;
    }
    const std::vector<std::string> heard = ReadLines(dir.File("heard"));
    ASSERT_EQ(heard.size(), std::size(cases));
    for (size_t i = 0; i < heard.size(); ++i) {
        EXPECT_EQ(heard[i], Heard(std::string(kRequestHexUpToPort) + cases[i].tail))
            << cases[i].typedPort;
    }
}

// A search lists the device, the row gives the request, and the next search
// shows what the setup changed.
TEST(SetupWire, DeviceTakesTheSettingsAndAnswersAtItsNewAddress) {
    SimProcess sim({"--device", std::string(kSimMac) + ",ip=" + DeviceIp(5) +
                                    ",mask=255.255.255.0,gateway=" + DeviceIp(1) +
                                    ",port=4001,baud=3"});
    ASSERT_SIM_READY(sim);
    uint8_t table[kDeviceTableSize] = {};
    ASSERT_EQ(DiscoverDevices(table, sizeof table, 1), 1);
    DeviceRowTexts row;
    ASSERT_TRUE(DeviceRowTextsAt(table, sizeof table, 0, &row));

    SetupRequest request;
    uint8_t mac[kSetupMacLength + 1];
    ParseHexPairs(row.caption.c_str(), mac);
    std::copy(mac, mac + kSetupMacLength, request.Mac);
    ASSERT_TRUE(CopyAddressText(request.CurrentIp, row.subItems[kSubItemIp]));
    ASSERT_TRUE(CopyAddressText(request.NewIp, DeviceIp(9)));
    ASSERT_TRUE(CopyAddressText(request.NewMask, "255.255.0.0"));
    ASSERT_TRUE(CopyAddressText(request.NewGateway, "10.231.0.1"));
    request.Port = 4002;
    request.BaudCode = 5;
    request.ReplyWaitSeconds = kQuickWaitSeconds;
    request.Broadcast = 0;
    ASSERT_EQ(SendAndTime(request).result, kSetupSuccess);

    ASSERT_EQ(DiscoverDevices(table, sizeof table, 1), 1);
    ASSERT_TRUE(DeviceRowTextsAt(table, sizeof table, 0, &row));
    EXPECT_EQ(row.caption, kMacText);
    EXPECT_EQ(row.subItems[kSubItemIp], DeviceIp(9));
    EXPECT_EQ(row.subItems[kSubItemSubmask], "255.255.0.0");
    EXPECT_EQ(row.subItems[kSubItemGateway], "10.231.0.1");
    EXPECT_EQ(row.subItems[kSubItemPort], "4002");
    EXPECT_EQ(row.subItems[kSubItemBaudRate], "38400");

    // The old address is gone from the list, the new one answers.
    EXPECT_EQ(SendAndTime(Request(false, DeviceIp(9))).result, kSetupSuccess);
}

// --- Which replies confirm -------------------------------------------------------

struct ReplyCase {
    const char* settings;  // the simulated device's setup behaviour
    bool confirms;
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
    *os << c.settings;
}

class SetupReplies : public testing::TestWithParam<ReplyCase> {};

TEST_P(SetupReplies, AcceptOnlyAConfirmationFromTheDevice) {
    const ReplyCase& c = GetParam();
    SimProcess sim({"--device", std::string(kSimMac) + ",ip=" + DeviceIp(5) + "," + c.settings});
    ASSERT_SIM_READY(sim);

    const Outcome outcome = SendAndTime(Request(true, DeviceIp(5)));

    EXPECT_EQ(outcome.result, c.confirms ? kSetupSuccess : kSetupNoReply);
    EXPECT_LT(outcome.seconds, kLabHangSeconds);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SetupReplies,
                         testing::Values(ReplyCase{"setup-code=2", true},            //
                                         ReplyCase{"setup-code=3", true},            //
                                         ReplyCase{"setup-length=14", true},         //
                                         ReplyCase{"setup-length=256", true},        //
                                         ReplyCase{"setup-reply=short", false},      // 13 bytes
                                         ReplyCase{"setup-length=13", false},        //
                                         ReplyCase{"setup-reply=other-mac", false},  //
                                         ReplyCase{"setup-reply=discovery", false},  // code 1
                                         ReplyCase{"setup-code=4", false},           //
                                         ReplyCase{"setup-reply=request-ident",
                                                   false},                           // "KVM47JS"
                                         ReplyCase{"setup-reply=oversized", false},  // 257 bytes
                                         ReplyCase{"setup-reply=none", false},       //
                                         // A discarded datagram does not end the wait: the
                                         // confirmation behind it still counts.
                                         ReplyCase{"setup-reply=short+confirm", true},          //
                                         ReplyCase{"setup-reply=other-mac+confirm", true},      //
                                         ReplyCase{"setup-reply=discovery+confirm", true},      //
                                         ReplyCase{"setup-reply=request-ident+confirm", true},  //
                                         ReplyCase{"setup-reply=oversized+confirm", true}));

// --- How long it waits -------------------------------------------------------------

TEST(SetupWaits, EachDiscardedDatagramStartsAFullWaitAgain) {
    // The confirmation comes 1.4 s after the send, beyond one 1 s wait but
    // within 1 s of the discarded datagram.
    SimProcess sim({"--device", std::string(kSimMac) + ",ip=" + DeviceIp(5) +
                                    ",setup-reply=other-mac+confirm,setup-delay=700,"
                                    "setup-gap=700"});
    ASSERT_SIM_READY(sim);

    const Outcome outcome = SendAndTime(Request(true, DeviceIp(5)));

    EXPECT_EQ(outcome.result, kSetupSuccess);
    EXPECT_GE(outcome.seconds, 1.3);
}

TEST(SetupWaits, ConfirmationLaterThanTheWaitIsMissed) {
    SimProcess sim({"--device", std::string(kSimMac) + ",ip=" + DeviceIp(5) + ",setup-delay=1400"});
    ASSERT_SIM_READY(sim);

    const Outcome outcome = SendAndTime(Request(false, DeviceIp(5)));

    EXPECT_EQ(outcome.result, kSetupNoReply);
    EXPECT_GE(outcome.seconds, 0.9);
}

TEST(SetupWaits, NoAnswerFailsAfterTheFullFiveSeconds) {
    SimProcess sim({"--device", std::string(kSimMac) + ",ip=" + DeviceIp(5) + ",setup-reply=none"});
    ASSERT_SIM_READY(sim);

    const Outcome outcome = SendAndTime(Request(true, DeviceIp(5), kSetupReplyWaitSeconds));

    EXPECT_EQ(outcome.result, kSetupNoReply);
    EXPECT_GE(outcome.seconds, 4.9);
    EXPECT_LT(outcome.seconds, kLabHangSeconds);
}

TEST(SetupWaits, ConfirmationAmidNonMatchingDatagramsIsFound) {
    SimProcess sim({"--device", std::string(kSimMac) + ",ip=" + DeviceIp(5) +
                                    ",setup-noise=100,setup-delay=1500"});
    ASSERT_SIM_READY(sim);

    EXPECT_EQ(SendAndTime(Request(true, DeviceIp(5))).result, kSetupSuccess);
}

TEST(SetupWaits, EndlessNonMatchingDatagramsEndAtTheOverallCap) {
    SimProcess sim({"--device", std::string(kSimMac) + ",ip=" + DeviceIp(5) +
                                    ",setup-reply=none,setup-noise=100"});
    ASSERT_SIM_READY(sim);

    // Each datagram restarts the 1 s wait, so only the cap can end this.
    const Outcome outcome = SendAndTime(Request(true, DeviceIp(5)), 2500);

    EXPECT_EQ(outcome.result, kSetupWaitCapReached);
    EXPECT_GE(outcome.seconds, 2.4);
    EXPECT_LT(outcome.seconds, kLabHangSeconds);
}

// --- Refusals before anything is sent ---------------------------------------------

// After a refused call, one good setup must be the only datagram the device
// heard.
class SetupRefusals : public testing::Test {
protected:
    void SetUp() override {
        sim_ = std::make_unique<SimProcess>(
            std::vector<std::string>{"--record", dir_.File("heard"), "--device",
                                     std::string(kSimMac) + ",ip=" + DeviceIp(5)});
        ASSERT_SIM_READY(*sim_);
    }

    void ExpectNothingWasSent() {
        EXPECT_EQ(SendAndTime(Request(false, DeviceIp(5))).result, kSetupSuccess);
        EXPECT_EQ(ReadLines(dir_.File("heard")).size(), 1u);
    }

    TempDir dir_;
    std::unique_ptr<SimProcess> sim_;
};

TEST_F(SetupRefusals, AllOnesMaskFails) {
    for (bool broadcast : {true, false}) {
        SetupRequest request = Request(broadcast, DeviceIp(5));
        ASSERT_TRUE(CopyAddressText(request.NewMask, "255.255.255.255"));
        EXPECT_EQ(SendAndTime(request).result, kSetupNewMaskRefused);
    }
    ExpectNothingWasSent();
}

TEST_F(SetupRefusals, MalformedAddressesFailInOrder) {
    SetupRequest request = Request(true, DeviceIp(5));
    ASSERT_TRUE(CopyAddressText(request.NewGateway, "10.231.0.x"));
    EXPECT_EQ(SendAndTime(request).result, kSetupNewGatewayRefused);
    ASSERT_TRUE(CopyAddressText(request.NewIp, "10.231.101.5.6"));
    EXPECT_EQ(SendAndTime(request).result, kSetupNewIpRefused);
    ExpectNothingWasSent();
}

TEST_F(SetupRefusals, UnterminatedAddressFieldFails) {
    SetupRequest request = Request(true, DeviceIp(5));
    std::fill(std::begin(request.NewIp), std::end(request.NewIp), '1');
    EXPECT_EQ(SendAndTime(request).result, kSetupAddressTextUnterminated);
    ExpectNothingWasSent();
}

// A present address that cannot be read converts to all ones; sent there, a
// direct setup would become a broadcast.
TEST_F(SetupRefusals, DirectSetupToAnUnreadablePresentAddressFails) {
    for (const char* current : {"", "255.255.255.255", "device"}) {
        SetupRequest request = Request(false, DeviceIp(5));
        ASSERT_TRUE(CopyAddressText(request.CurrentIp, current));
        EXPECT_EQ(SendAndTime(request).result, kSetupCurrentIpRefused) << current;
    }
    // A broadcast setup does not read it.
    SetupRequest request = Request(true, DeviceIp(5));
    ASSERT_TRUE(CopyAddressText(request.CurrentIp, "device"));
    EXPECT_EQ(SendAndTime(request).result, kSetupSuccess);
    EXPECT_EQ(ReadLines(dir_.File("heard")).size(), 1u);
}

TEST_F(SetupRefusals, PortAlreadyBoundFails) {
    const int holder = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kDeviceUdpPort);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);

    EXPECT_EQ(SendAndTime(Request(true, DeviceIp(5))).result, kSetupBindFailed);
    EXPECT_EQ(SendAndTime(Request(false, DeviceIp(5))).result, kSetupBindFailed);
    close(holder);

    ExpectNothingWasSent();
}

// --- The socket never outlives the call -----------------------------------------------

TEST(SetupSocket, IsClosedOnEveryWayOut) {
    SimProcess sim(
        {"--device", std::string(kSimMac) + ",ip=" + DeviceIp(5) + ",setup-reply=other-mac"});
    ASSERT_SIM_READY(sim);

    SetupRequest refused = Request(true, DeviceIp(5));
    ASSERT_TRUE(CopyAddressText(refused.NewIp, "x"));
    SetupRequest unanswered = Request(true, DeviceIp(5));
    SetupRequest direct = Request(false, DeviceIp(5));
    ASSERT_TRUE(CopyAddressText(direct.CurrentIp, "255.255.255.255"));

    const size_t before = OpenDescriptors();
    EXPECT_EQ(SendAndTime(refused).result, kSetupNewIpRefused);
    EXPECT_TRUE(SetupPortFree());
    EXPECT_EQ(SendAndTime(unanswered).result, kSetupNoReply);
    EXPECT_TRUE(SetupPortFree());
    EXPECT_EQ(SendAndTime(direct).result, kSetupCurrentIpRefused);
    EXPECT_TRUE(SetupPortFree());
    EXPECT_EQ(OpenDescriptors(), before);
}

// --- Other routes --------------------------------------------------------------------

class WithoutDefaultRouteSetup : public testing::Test {
protected:
    void SetUp() override {
        if (Lab().route != "none") {
            GTEST_SKIP() << "needs a lab without default route (lab.sh --route none)";
        }
    }
};

TEST_F(WithoutDefaultRouteSetup, BroadcastSetupGoesOutOfTheInterface) {
    TempDir dir;
    SimProcess sim(
        {"--record", dir.File("heard"), "--device", std::string(kSimMac) + ",ip=" + DeviceIp(5)});
    ASSERT_SIM_READY(sim);

    EXPECT_EQ(SendAndTime(Request(true, DeviceIp(5))).result, kSetupSuccess);
    const std::vector<std::string> heard = ReadLines(dir.File("heard"));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0], Heard(std::string(kRequestHexUpToPort) + "01F607"));
}

TEST_F(WithoutDefaultRouteSetup, DirectSetupNeedsNoDefaultRoute) {
    SimProcess sim({"--device", std::string(kSimMac) + ",ip=" + DeviceIp(5)});
    ASSERT_SIM_READY(sim);

    EXPECT_EQ(SendAndTime(Request(false, DeviceIp(5))).result, kSetupSuccess);
}

class BehindGatewayRouteSetup : public testing::Test {
protected:
    void SetUp() override {
        if (Lab().route != "gateway" || Lab().deviceNamespaces.size() < 2) {
            GTEST_SKIP() << "needs a lab with a gateway route and two device namespaces";
        }
    }
};

// SO_DONTROUTE keeps a gateway default route from covering 255.255.255.255.
TEST_F(BehindGatewayRouteSetup, BroadcastSetupReachesTheDeviceInAnyNamespace) {
    SimProcess first({"--device", "mac=00.00.00.00.00.01"}, 0);
    SimProcess second({"--device", std::string(kSimMac) + ",ip=" + DeviceNetPrefix(1) + "5"}, 1);
    ASSERT_SIM_READY(first);
    ASSERT_SIM_READY(second);

    EXPECT_EQ(SendAndTime(Request(true, DeviceNetPrefix(1) + "5")).result, kSetupSuccess);
}

}  // namespace
