// The simulator's own parts: what it puts on the wire is pinned here byte
// for byte from the reply table, independently of the tool's reader.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "discovery/DiscoveryDatagram.h"
#include "sim/SimDevice.h"
#include "sim/SimDiscovery.h"
#include "sim/SimOptions.h"
#include "tests/lab/SimDeviceSupport.h"
#include "tests/support/LabSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool Parse(std::vector<std::string> words, SimOptions* options, std::string* error) {
    words.insert(words.begin(), "velquint-sim");
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    return ParseSimOptions(static_cast<int>(argv.size()), argv.data(), options, error);
}

TEST(SimReply, FollowsTheReplyTable) {
    const SimDevice device = Parsed(
        "mac=00:1a:2b:3c:4d:5e version=2.07 ip=10.231.101.5 mask=255.255.0.0 "
        "gateway=10.231.0.1 port=4001 baud=5 extra=0102");
    const Bytes expected = {
        'K',  'V',  'M',  '4',  '7',  'J',  'R', 0x01,  // identifier, search code
        0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E,             // MAC
        0x02, 0x07,                                     // version
        10,   231,  101,  5,    255,  255,  0,   0,    10, 231, 0, 1, 0x0F, 0xA1,  // port 4001
        0x05,                                                                      // baud code
        0x01, 0x02,                                                                // extra
    };
    EXPECT_EQ(BuildSimDiscoveryReply(device), expected);
}

TEST(SimReply, LengthCutsOrPadsAndFaultsChangeTheHeader) {
    const SimDevice cut = Parsed("mac=AA.BB.CC.DD.EE.FF,length=9");
    EXPECT_EQ(BuildSimDiscoveryReply(cut), (Bytes{'K', 'V', 'M', '4', '7', 'J', 'R', 1, 0xAA}));

    const Bytes padded = BuildSimDiscoveryReply(Parsed("length=40"));
    ASSERT_EQ(padded.size(), 40u);
    EXPECT_EQ(Bytes(padded.begin() + 31, padded.end()), Bytes(9, 0));

    const Bytes foreign = BuildSimDiscoveryReply(Parsed("ident=KVM47JX,code=2"));
    EXPECT_EQ(std::string(foreign.begin(), foreign.begin() + 7), "KVM47JX");
    EXPECT_EQ(foreign[7], 2);
}

TEST(SimReply, NoiseIsNeverASearchReply) {
    for (unsigned n = 0; n < 8; ++n) {
        const Bytes noise = BuildSimNoise(n);
        EXPECT_FALSE(IsDiscoveryReply(noise.data(), static_cast<ssize_t>(noise.size()))) << n;
    }
}

TEST(SimDeviceSettings, RejectsWhatItCannotSend) {
    const char* bad[] = {"mac=00.11.22.33.44",
                         "mac=00.11.22.33.44.GG",
                         "ip=10.0.0",
                         "ip=10.0.0.256",
                         "ip=10.0.0.1.",
                         "port=65536",
                         "baud=256",
                         "version=1",
                         "version=1.256",
                         "length=0",
                         "length=301",
                         "ident=KVM47J",
                         "copies=0",
                         "delay=-1",
                         "colour=red",
                         "mac",
                         "extra=0"};
    for (const char* settings : bad) {
        SimDevice device;
        std::string error;
        EXPECT_FALSE(ApplyDeviceSettings(settings, &device, &error)) << settings;
        EXPECT_FALSE(error.empty()) << settings;
    }
}

TEST(SimDeviceSettings, VersionTextsReadAsTheListShowsThem) {
    EXPECT_EQ(Parsed("version=1.05").versionMinor, 5);
    EXPECT_EQ(Parsed("version=1.123").versionMinor, 123);
    EXPECT_EQ(Parsed("version=1.08").versionMinor, 8);
}

TEST(SimOptions, GeneratedDevicesAreDistinctAndTakeTheirSettings) {
    SimOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"--ip-base", "10.231.101.1", "--device", "mac=00.00.00.00.00.09",
                       "--generate", "300,length=31,delay=5"},
                      &options, &error))
        << error;
    ASSERT_EQ(options.devices.size(), 301u);
    const SimDevice& last = options.devices.back();
    EXPECT_EQ(last.mac, (std::array<uint8_t, 6>{0x02, 0x56, 0x51, 0x00, 0x01, 0x2C}));
    EXPECT_EQ(last.ip, (std::array<uint8_t, 4>{10, 231, 102, 45}));
    EXPECT_EQ(last.discovery.replyLength, 31);
    EXPECT_EQ(last.discovery.delayMs, 5);
    EXPECT_EQ(options.devices.front().discovery.replyLength, 0);
}

TEST(SimOptions, RefusesUnknownOrIncompleteOptions) {
    const std::vector<std::vector<std::string>> bad = {
        {"--bogus"},
        {"--device"},
        {"--generate", "0"},
        {"--generate", "x"},
        {"--noise-interval", "0"},
        {"--ip-base", "1.2.3"},
        {"--devices-file", "/nonexistent/devices"},
        {"--loss", "100.5"},
        {"--loss", ".5"},
        {"--seed", "4294967296"},
    };
    for (const auto& words : bad) {
        SimOptions options;
        std::string error;
        EXPECT_FALSE(Parse(words, &options, &error)) << words[0];
        EXPECT_FALSE(error.empty()) << words[0];
    }
}

TEST(SimOptions, DeviceFileTakesOneDevicePerLine) {
    TempDir dir;
    std::ofstream(dir.File("devices")) << "# two devices\n"
                                          "mac=00.00.00.00.00.01, ip=10.0.0.1\n"
                                          "\n"
                                          "   mac=00.00.00.00.00.02 baud=9 silent=1\n";
    SimOptions options;
    std::string error;
    ASSERT_TRUE(Parse({"--devices-file", dir.File("devices")}, &options, &error)) << error;
    ASSERT_EQ(options.devices.size(), 2u);
    EXPECT_EQ(options.devices[1].baudCode, 9);
    EXPECT_TRUE(options.devices[1].discovery.silent);

    std::ofstream(dir.File("broken")) << "mac=00.00.00.00.00.01\nport=x\n";
    EXPECT_FALSE(Parse({"--devices-file", dir.File("broken")}, &options, &error));
    EXPECT_NE(error.find(":2:"), std::string::npos) << error;
}

TEST(SimOptions, HelpNamesEveryDeviceKey) {
    const std::string usage = SimUsage();
    for (const char* key : {"mac=", "version=", "ip=", "mask=", "gateway=", "port=", "baud=",
                            "extra=", "silent=", "delay=", "copies=", "length=", "ident=", "code=",
                            "restart=", "--noise-interval", "--loss", "--record", "--generate"}) {
        EXPECT_NE(usage.find(key), std::string::npos) << key;
    }
}

}  // namespace
