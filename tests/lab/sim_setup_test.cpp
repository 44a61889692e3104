// The simulator's setup side, pinned byte for byte from the setup tables
// rather than from the tool's own encoder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/SimDevice.h"
#include "sim/SimSetup.h"
#include "tests/lab/SimDeviceSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

// KVM47JS, code 2, MAC 00.1A.2B.3C.4D.5E, 10.231.101.9, 255.255.0.0,
// 10.231.0.1, port 4002, baud code 5.
const Bytes kSetup = {'K',  'V',  'M',  '4',  '7', 'J', 'S',  0x02, 0x00, 0x1A,
                      0x2B, 0x3C, 0x4D, 0x5E, 10,  231, 101,  9,    255,  255,
                      0,    0,    10,   231,  0,   1,   0x0F, 0xA2, 0x05};

TEST(SimSetupApply, TakesEachFieldFromItsOffset) {
    SimDevice device = Parsed("mac=00.1A.2B.3C.4D.5E,ip=10.231.101.5,port=4001,baud=3");

    ASSERT_TRUE(ApplySimSetup(kSetup, kSetup.size(), &device));

    EXPECT_EQ(device.ip, (std::array<uint8_t, 4>{10, 231, 101, 9}));
    EXPECT_EQ(device.mask, (std::array<uint8_t, 4>{255, 255, 0, 0}));
    EXPECT_EQ(device.gateway, (std::array<uint8_t, 4>{10, 231, 0, 1}));
    EXPECT_EQ(device.servicePort, 4002);
    EXPECT_EQ(device.baudCode, 5);
}

TEST(SimSetupApply, IgnoresOtherMacsAndOtherLengths) {
    const SimDevice before = Parsed("mac=00.1A.2B.3C.4D.5F,ip=10.231.101.5");
    SimDevice device = before;
    EXPECT_FALSE(ApplySimSetup(kSetup, kSetup.size(), &device));

    SimDevice same = Parsed("mac=00.1A.2B.3C.4D.5E,ip=10.231.101.5");
    Bytes longer = kSetup;
    longer.push_back(0);
    EXPECT_FALSE(ApplySimSetup(longer, longer.size(), &same));
    const Bytes shorter(kSetup.begin(), kSetup.end() - 1);
    EXPECT_FALSE(ApplySimSetup(shorter, shorter.size(), &same));
    EXPECT_EQ(same.ip, (std::array<uint8_t, 4>{10, 231, 101, 5}));
}

TEST(SimSetupAnswer, ConfirmationShowsTheSettingsJustTaken) {
    SimDevice device = Parsed("mac=00.1A.2B.3C.4D.5E,version=1.06,ip=10.231.101.5");
    ASSERT_TRUE(ApplySimSetup(kSetup, kSetup.size(), &device));
    const Bytes expected = {'K',  'V',  'M',  '4',  '7',  'J',  'R', 0x02,  // identifier, code 2
                            0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E,             // MAC
                            0x01, 0x06,                                     // version
                            10,   231,  101,  9,    255,  255,  0,   0,    10, 231, 0, 1,  //
                            0x0F, 0xA2, 0x05};
    EXPECT_EQ(BuildSimSetupAnswer(device, SimSetupReply::Confirm), expected);
}

TEST(SimSetupAnswer, FaultsChangeWhatTheToolChecks) {
    const SimDevice device = Parsed("mac=00.1A.2B.3C.4D.5E,setup-code=3,setup-length=14");
    const Bytes confirm = BuildSimSetupAnswer(device, SimSetupReply::Confirm);
    EXPECT_EQ(confirm,
              (Bytes{'K', 'V', 'M', '4', '7', 'J', 'R', 0x03, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));

    const Bytes shortAnswer = BuildSimSetupAnswer(device, SimSetupReply::Short);
    EXPECT_EQ(shortAnswer, Bytes(confirm.begin(), confirm.begin() + 13));

    const Bytes otherMac = BuildSimSetupAnswer(device, SimSetupReply::OtherMac);
    EXPECT_EQ(otherMac[13], 0xA1);
    EXPECT_EQ(Bytes(otherMac.begin(), otherMac.begin() + 13),
              Bytes(confirm.begin(), confirm.begin() + 13));

    const Bytes discovery = BuildSimSetupAnswer(device, SimSetupReply::Discovery);
    EXPECT_EQ(discovery.size(), 31u);
    EXPECT_EQ(discovery[7], 0x01);

    const Bytes requestIdent = BuildSimSetupAnswer(device, SimSetupReply::RequestIdent);
    EXPECT_EQ(std::string(requestIdent.begin(), requestIdent.begin() + 8), "KVM47JS\x03");

    EXPECT_EQ(BuildSimSetupAnswer(device, SimSetupReply::Oversized).size(), 257u);
}

TEST(SimSetupSettings, RepliesAreKindsJoinedByPlus) {
    EXPECT_EQ(Parsed("").setup.replies, std::vector<SimSetupReply>{SimSetupReply::Confirm});
    EXPECT_TRUE(Parsed("setup-reply=none").setup.replies.empty());
    EXPECT_EQ(Parsed("setup-reply=other-mac+discovery+confirm").setup.replies,
              (std::vector<SimSetupReply>{SimSetupReply::OtherMac, SimSetupReply::Discovery,
                                          SimSetupReply::Confirm}));

    for (const char* bad :
         {"setup-reply=", "setup-reply=confirm+", "setup-reply=+confirm",
          "setup-reply=none+confirm", "setup-reply=maybe", "setup-code=256", "setup-length=0",
          "setup-length=301", "setup-noise=0", "setup-delay=-5", "restart=600001"}) {
        SimDevice device;
        std::string error;
        EXPECT_FALSE(ApplyDeviceSettings(bad, &device, &error)) << bad;
    }
}

}  // namespace
