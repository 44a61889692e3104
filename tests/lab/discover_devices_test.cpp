#include "discovery/DiscoverDevices.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/BroadcastSend.h"
#include "discovery/DeviceListRows.h"
#include "discovery/DeviceTable.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LabSupport.h"
#include "tests/support/TestLimits.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kUntouched = 0xA5;
constexpr int kQuickFirstWaitSeconds = 1;

struct Search {
    int result = 0;
    std::vector<Bytes> records;
    Bytes table;
    double seconds = 0;
};

Search RunSearch(int firstWaitSeconds = kQuickFirstWaitSeconds, size_t capacity = kDeviceTableSize,
                 int timeLimitMs = kSearchTimeLimitMs, const DiscoveryOptions& options = {}) {
    Search search;
    search.table.assign(capacity, kUntouched);
    const auto start = std::chrono::steady_clock::now();
    search.result =
        DiscoverDevices(search.table.data(), capacity, firstWaitSeconds, timeLimitMs, options);
    search.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (search.table[kDeviceTableCountOffset] != kUntouched) {
        DeviceRecordView views[kMaxDeviceRecords];
        const size_t count =
            ListDeviceRecords(search.table.data(), capacity, views, kMaxDeviceRecords);
        for (size_t i = 0; i < count; ++i) {
            search.records.emplace_back(views[i].bytes, views[i].bytes + views[i].length);
        }
    }
    return search;
}

#define ASSERT_SIM_READY(sim) ASSERT_TRUE((sim).ready()) << (sim).failure()

Bytes MacRecord(uint8_t first) {
    return Bytes{first};
}

// Runs `body` in a network namespace of its own with nothing but a downed
// loopback, where no datagram can go anywhere, and returns its exit status.
int InEmptyNetworkNamespace(const std::function<int()>& body) {
    return ExitCodeInChild([&body] { return unshare(CLONE_NEWNET) != 0 ? 255 : body(); });
}

// --- What goes on the wire, and what comes back into the table -------------

TEST(DiscoverDevicesWire, SendsTheEightByteRequestOnceFromPort3195) {
    TempDir dir;
    SimProcess sim({"--record", dir.File("heard")});
    ASSERT_SIM_READY(sim);

    RunSearch();

    const std::vector<std::string> heard = ReadLines(dir.File("heard"));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0], Lab().toolIp + ":3195 4B564D34374A5301");
}

TEST(DiscoverDevicesWire, StoresEachReplyFromItsByte8Verbatim) {
    SimProcess sim({"--device",
                    "mac=00.1A.2B.3C.4D.5E,version=1.05,ip=192.168.1.9,mask=255.255.255.0,"
                    "gateway=192.168.1.1,port=502,baud=7,extra=CAFE"});
    ASSERT_SIM_READY(sim);

    const Search search = RunSearch();

    ASSERT_EQ(search.result, 1);
    ASSERT_EQ(search.records.size(), 1u);
    const Bytes expected = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E,  // MAC
                            0x01, 0x05,                          // version
                            192,  168,  1,    9,                 // IP
                            255,  255,  255,  0,                 // mask
                            192,  168,  1,    1,                 // gateway
                            0x01, 0xF6,                          // port 502
                            0x07,                                // baud code
                            0xCA, 0xFE};                         // kept, not read
    EXPECT_EQ(search.records[0], expected);

    DeviceRowTexts row;
    ASSERT_TRUE(DeviceRowTextsAt(search.table.data(), search.table.size(), 0, &row));
    EXPECT_EQ(row.caption, "00.1A.2B.3C.4D.5E");
    EXPECT_EQ(row.subItems[kSubItemIp], "192.168.1.9");
    EXPECT_EQ(row.subItems[kSubItemPort], "502");
    EXPECT_EQ(row.subItems[kSubItemBaudRate], "115200");
    EXPECT_EQ(row.subItems[kSubItemVersion], "1.05");
}

TEST(DiscoverDevicesWire, AcceptsRepliesOf9To256BytesOnly) {
    // The first MAC byte names each device's reply length (0x08 for 8 bytes...).
    SimProcess sim({"--device", "mac=08.00.00.00.00.00,length=8",    //
                    "--device", "mac=09.00.00.00.00.00,length=9",    //
                    "--device", "mac=1F.00.00.00.00.00,length=31",   //
                    "--device", "mac=FF.00.00.00.00.01,length=256",  //
                    "--device", "mac=FF.00.00.00.00.02,length=257",  //
                    "--device", "mac=FF.00.00.00.00.03,length=300"});
    ASSERT_SIM_READY(sim);

    const Search search = RunSearch();

    ASSERT_EQ(search.result, 3);
    ASSERT_EQ(search.records.size(), 3u);
    EXPECT_EQ(search.records[0], MacRecord(0x09));
    EXPECT_EQ(search.records[1].size(), 23u);
    EXPECT_EQ(search.records[1][0], 0x1F);
    // The longest reply keeps all 248 record bytes; longer ones are dropped,
    // not cut to fit.
    ASSERT_EQ(search.records[2].size(), 248u);
    EXPECT_EQ(search.records[2][5], 0x01);
}

TEST(DiscoverDevicesWire, IgnoresOtherIdentifiersAndCommandCodes) {
    SimProcess sim({"--device", "mac=00.00.00.00.00.01,code=2",         //
                    "--device", "mac=00.00.00.00.00.02,code=0",         //
                    "--device", "mac=00.00.00.00.00.03,ident=KVM47JS",  //
                    "--device", "mac=00.00.00.00.00.04,ident=KVM47JX",  //
                    "--device", "mac=00.00.00.00.00.05,ident=kvm47jr",  //
                    "--device", "mac=00.00.00.00.00.06"});
    ASSERT_SIM_READY(sim);

    const Search search = RunSearch();

    ASSERT_EQ(search.result, 1);
    EXPECT_EQ(search.records[0][5], 0x06);
}

TEST(DiscoverDevicesWire, OwnRequestComesBackAndIsNotStored) {
    // That the request is heard back at all is what makes this case real.
    const int udp = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(udp, 0);
    const int on = 1;
    ASSERT_EQ(setsockopt(udp, SOL_SOCKET, SO_BROADCAST, &on, sizeof on), 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(3195);
    ASSERT_EQ(bind(udp, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    const uint8_t request[] = {'K', 'V', 'M', '4', '7', 'J', 'S', 0x01};
    ASSERT_EQ(SendBroadcastDatagram(udp, request, sizeof request, 3195, 0), 8);
    pollfd entry{udp, POLLIN, 0};
    ASSERT_EQ(poll(&entry, 1, 5000), 1);
    uint8_t heard[64] = {};
    ASSERT_EQ(recv(udp, heard, sizeof heard, 0), 8);
    EXPECT_EQ(std::memcmp(heard, request, sizeof request), 0);
    close(udp);

    SimProcess sim({"--device", "mac=00.00.00.00.00.01"});
    ASSERT_SIM_READY(sim);
    const Search search = RunSearch();
    EXPECT_EQ(search.result, 1);
}

TEST(DiscoverDevicesWire, KeepsDuplicatesAsSeparateRecords) {
    SimProcess sim({"--device", "mac=00.00.00.00.00.01,copies=3"});
    ASSERT_SIM_READY(sim);

    const Search search = RunSearch();

    ASSERT_EQ(search.result, 3);
    EXPECT_EQ(search.records[0], search.records[1]);
    EXPECT_EQ(search.records[1], search.records[2]);
}

// --- When the search ends ----------------------------------------------------

TEST(DiscoverDevicesWaits, NoDeviceGivesZeroAfterTheFirstWait) {
    const Search search = RunSearch(kSearchFirstWaitSeconds);

    EXPECT_EQ(search.result, 0);
    EXPECT_EQ(search.table[kDeviceTableCountOffset], 0);
    EXPECT_GE(search.seconds, 1.9);
    EXPECT_LT(search.seconds, kLabHangSeconds);
}

TEST(DiscoverDevicesWaits, FirstWaitCoversALateFirstReply) {
    SimProcess sim({"--device", "mac=00.00.00.00.00.01,delay=1200"});
    ASSERT_SIM_READY(sim);

    EXPECT_EQ(RunSearch(kSearchFirstWaitSeconds).result, 1);
}

TEST(DiscoverDevicesWaits, ReplyAfterA300msGapIsKept) {
    SimProcess sim({"--device", "mac=00.00.00.00.00.01",            //
                    "--device", "mac=00.00.00.00.00.02,delay=300",  //
                    "--device", "mac=00.00.00.00.00.03,delay=600"});
    ASSERT_SIM_READY(sim);

    EXPECT_EQ(RunSearch().result, 3);
}

TEST(DiscoverDevicesWaits, SilenceLongerThanTheReplyWaitEndsTheSearch) {
    SimProcess sim({"--device", "mac=00.00.00.00.00.01",  //
                    "--device", "mac=00.00.00.00.00.02,delay=900"});
    ASSERT_SIM_READY(sim);

    const Search search = RunSearch();

    ASSERT_EQ(search.result, 1);
    EXPECT_EQ(search.records[0][5], 0x01);
    EXPECT_LT(search.seconds, kLabHangSeconds);
}

TEST(DiscoverDevicesWaits, NonMatchingDatagramsKeepTheSearchGoing) {
    // Without the stream, the second reply would come 1.5 s after the first,
    // long after the 0.4 s wait.
    SimProcess sim({"--noise-interval", "100", "--noise-for", "2000",  //
                    "--device", "mac=00.00.00.00.00.01",               //
                    "--device", "mac=00.00.00.00.00.02,delay=1500"});
    ASSERT_SIM_READY(sim);

    const Search search = RunSearch();

    EXPECT_EQ(search.result, 2);
    EXPECT_GE(search.seconds, 1.5);
}

TEST(DiscoverDevicesWaits, TimeLimitEndsTheSearchUnderEndlessNoise) {
    SimProcess sim({"--noise-interval", "50", "--device", "mac=00.00.00.00.00.01"});
    ASSERT_SIM_READY(sim);

    const Search search = RunSearch(kQuickFirstWaitSeconds, kDeviceTableSize, 1500);

    EXPECT_EQ(search.result, 1);
    EXPECT_GE(search.seconds, 1.4);
    EXPECT_LT(search.seconds, kLabHangSeconds);
}

TEST(DiscoverDevicesWaits, NoFirstWaitOutlastsTheTimeLimit) {
    const Search search = RunSearch(INT_MAX, kDeviceTableSize, 1000);

    EXPECT_EQ(search.result, 0);
    EXPECT_LT(search.seconds, kLabHangSeconds);
}

// --- Failures before anything is collected ----------------------------------

TEST(DiscoverDevicesFailures, PortAlreadyBoundGivesMinus4AndLeavesTheTable) {
    const int holder = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(3195);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);

    const Search search = RunSearch();
    close(holder);

    EXPECT_EQ(search.result, kDiscoverBindFailed);
    EXPECT_EQ(search.table, Bytes(kDeviceTableSize, kUntouched));
}

TEST(DiscoverDevicesFailures, NoInterfaceToSendFromGivesMinus5AndLeavesTheTable) {
    const int status = InEmptyNetworkNamespace([] {
        uint8_t table[kDeviceTableSize];
        std::memset(table, kUntouched, sizeof table);
        const int result = DiscoverDevices(table, sizeof table, kQuickFirstWaitSeconds);
        return result == kDiscoverSendFailed && table[0] == kUntouched ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
}

// --- A full table --------------------------------------------------------------

TEST(DiscoverDevicesCapacity, HoldsAll255ShortRecordsOfABurst) {
    SimProcess sim({"--generate", "255,length=31"});
    ASSERT_SIM_READY(sim);

    const Search search = RunSearch();

    ASSERT_EQ(search.result, 255);
    ASSERT_EQ(search.records.size(), 255u);
    for (size_t i = 0; i < search.records.size(); ++i) {
        ASSERT_EQ(search.records[i].size(), 23u);
        EXPECT_EQ(search.records[i][5], i) << "arrival order";
    }
}

TEST(DiscoverDevicesCapacity, A256thReplyFindsTheTableFull) {
    SimProcess sim({"--generate", "256,length=31"});
    ASSERT_SIM_READY(sim);

    const Search search = RunSearch();

    EXPECT_EQ(search.result, kDiscoverTableFull);
    EXPECT_EQ(search.table[kDeviceTableCountOffset], 255);
    EXPECT_EQ(search.records.size(), 255u);
    EXPECT_TRUE(SearchResultIsListed(search.result, search.table.data()));
}

TEST(DiscoverDevicesCapacity, Holds32LongestRecordsAndNotA33rd) {
    {
        SimProcess sim({"--generate", "32,length=256"});
        ASSERT_SIM_READY(sim);
        const Search search = RunSearch();
        EXPECT_EQ(search.result, 32);
    }
    SimProcess sim({"--generate", "33,length=256"});
    ASSERT_SIM_READY(sim);
    const Search search = RunSearch();
    EXPECT_EQ(search.result, kDiscoverTableFull);
    ASSERT_EQ(search.records.size(), 32u);
    EXPECT_EQ(search.records[31][5], 31);
}

// --- Datagrams lost on the way (velquint-sim --loss) -------------------------

TEST(SimLossInLab, EachDeviceLosesDatagramsOnItsOwnAsItsSeedSays) {
    // 200 devices; the last two runs share their seed.
    const struct {
        const char* loss;
        int fewest;
        int most;
    } cases[] = {{"0", 200, 200}, {"100", 0, 0}, {"50", 1, 199}, {"50", 1, 199}};
    std::vector<int> replies;  // two requests in each run
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("--loss ") + c.loss);
        TempDir dir;
        SimProcess sim({"--generate", "200", "--loss", c.loss, "--record", dir.File("heard")});
        ASSERT_SIM_READY(sim);
        for (int request = 0; request < 2; ++request) {
            replies.push_back(RunSearch().result);
            EXPECT_GE(replies.back(), c.fewest);
            EXPECT_LE(replies.back(), c.most);
        }
        EXPECT_EQ(ReadLines(dir.File("heard")).size(), 2u) << "recorded before any loss";
    }
    EXPECT_EQ(replies[4], replies[6]) << "the same seed: the same replies to the first request";
}

// --- Other routes ---------------------------------------------------------------

class WithoutDefaultRoute : public testing::Test {
protected:
    void SetUp() override {
        if (Lab().route != "none") {
            GTEST_SKIP() << "needs a lab without default route (lab.sh --route none)";
        }
    }
};

TEST_F(WithoutDefaultRoute, LinuxRefusesThePlainBroadcast) {
    const int udp = socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    setsockopt(udp, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    destination.sin_port = htons(3195);
    const uint8_t request[] = {'K', 'V', 'M', '4', '7', 'J', 'S', 0x01};
    EXPECT_EQ(sendto(udp, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&destination),
                     sizeof destination),
              -1);
    EXPECT_EQ(errno, ENETUNREACH);
    close(udp);
}

TEST_F(WithoutDefaultRoute, SearchStillReachesTheDevices) {
    TempDir dir;
    SimProcess sim({"--record", dir.File("heard"), "--device", "mac=00.00.00.00.00.01"});
    ASSERT_SIM_READY(sim);

    EXPECT_EQ(RunSearch().result, 1);
    const std::vector<std::string> heard = ReadLines(dir.File("heard"));
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0], Lab().toolIp + ":3195 4B564D34374A5301");
}

class BehindGatewayRoute : public testing::Test {
protected:
    void SetUp() override {
        if (Lab().route != "gateway" || Lab().deviceNamespaces.size() < 2) {
            GTEST_SKIP() << "needs a lab with a gateway route and two device namespaces";
        }
    }
};

// SO_DONTROUTE keeps the lookup to on-link routes, so a gateway default route
// does not cover 255.255.255.255: the ordinary workstation case.
TEST_F(BehindGatewayRoute, LinuxRefusesTheBroadcastWithDontRoute) {
    const int udp = socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    setsockopt(udp, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    setsockopt(udp, SOL_SOCKET, SO_DONTROUTE, &on, sizeof on);
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    destination.sin_port = htons(3195);
    const uint8_t request[] = {'K', 'V', 'M', '4', '7', 'J', 'S', 0x01};
    EXPECT_EQ(sendto(udp, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&destination),
                     sizeof destination),
              -1);
    EXPECT_EQ(errno, ENETUNREACH);
    close(udp);
}

TEST_F(BehindGatewayRoute, SearchFindsDevicesInEveryNamespace) {
    SimProcess first({"--device", "mac=00.00.00.00.00.01"}, 0);
    SimProcess second({"--device", "mac=00.00.00.00.00.02,copies=2"}, 1);
    ASSERT_SIM_READY(first);
    ASSERT_SIM_READY(second);

    EXPECT_EQ(RunSearch().result, 3);
}

class TwoToolLinks : public testing::Test {
protected:
    void SetUp() override {
        if (Lab().route != "none" || Lab().toolLinks.size() != 2) {
            GTEST_SKIP() << "needs a lab whose tool has two cards and no default route "
                            "(lab.sh --tool-links 2 --route none)";
        }
    }
};

// The request leaves out of each card with that card's address, and each
// device's answer to an address comes in on the card that holds it.
TEST_F(TwoToolLinks, EachDeviceAnswersOnEachLink) {
    SimProcess sim({"--generate", "3"});
    ASSERT_SIM_READY(sim);
    unsigned arrivedOn[kMaxDeviceRecords] = {};
    DiscoveryOptions options;
    options.replyInterfaces = arrivedOn;

    const Search search =
        RunSearch(kQuickFirstWaitSeconds, kDeviceTableSize, kSearchTimeLimitMs, options);

    std::multiset<std::pair<int, unsigned>> heard;  // last MAC byte, card
    for (size_t i = 0; i < search.records.size(); ++i) {
        heard.emplace(search.records[i][5], arrivedOn[i]);
    }
    std::multiset<std::pair<int, unsigned>> expected;
    for (int device = 0; device < 3; ++device) {
        for (const std::string& link : Lab().toolLinks) {
            expected.emplace(device, if_nametoindex(link.c_str()));
        }
    }
    EXPECT_EQ(heard, expected);
}

}  // namespace
