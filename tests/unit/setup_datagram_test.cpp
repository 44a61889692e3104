#include "setup/SetupDatagram.h"
#include "setup/SetupRequest.h"

#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Datagram = std::array<uint8_t, kSetupDatagramLength>;

SetupRequest MakeRequest(uint16_t port, uint8_t baudCode) {
    SetupRequest request;
    const uint8_t mac[] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    std::copy(std::begin(mac), std::end(mac), request.Mac);
    EXPECT_TRUE(CopyAddressText(request.NewIp, "192.168.1.20"));
    EXPECT_TRUE(CopyAddressText(request.NewMask, "255.255.255.0"));
    EXPECT_TRUE(CopyAddressText(request.NewGateway, "192.168.1.1"));
    EXPECT_TRUE(CopyAddressText(request.CurrentIp, "10.0.0.7"));
    request.Port = port;
    request.BaudCode = baudCode;
    return request;
}

Datagram Build(const SetupRequest& request) {
    uint8_t raw[kSetupDatagramLength];
    EXPECT_EQ(BuildSetupDatagram(request, raw), kSetupDatagramBuilt);
    Datagram out;
    std::copy(std::begin(raw), std::end(raw), out.begin());
    return out;
}

// 'K' 'V' 'M' '4' '7' 'J' 'S', command 2, the MAC, 192.168.1.20,
// 255.255.255.0, 192.168.1.1, then port and baud code.
Datagram Expected(uint8_t portHigh, uint8_t portLow, uint8_t baudCode) {
    return {0x4B, 0x56, 0x4D, 0x34, 0x37, 0x4A, 0x53,     0x02,    0x00,    0x1A,
            0x2B, 0x3C, 0x4D, 0x5E, 0xC0, 0xA8, 0x01,     0x14,    0xFF,    0xFF,
            0xFF, 0x00, 0xC0, 0xA8, 0x01, 0x01, portHigh, portLow, baudCode};
}

struct PortCase {
    int typed;  // what the operator typed; only its low 16 bits travel
    uint8_t high;
    uint8_t low;
};

void PrintTo(const PortCase& c, std::ostream* os) {
    *os << "port " << c.typed;
}

class SetupDatagramPortTest : public testing::TestWithParam<PortCase> {};

TEST_P(SetupDatagramPortTest, PortTravelsBigEndian) {
    const PortCase& c = GetParam();
    EXPECT_EQ(Build(MakeRequest(static_cast<uint16_t>(c.typed), 3)), Expected(c.high, c.low, 3));
}

INSTANTIATE_TEST_SUITE_P(Ports, SetupDatagramPortTest,
                         testing::Values(PortCase{502, 0x01, 0xF6}, PortCase{70000, 0x11, 0x70},
                                         PortCase{-1, 0xFF, 0xFF}, PortCase{0, 0x00, 0x00}));

TEST(SetupDatagram, NoRateChosenTravelsAsFF) {
    EXPECT_EQ(Build(MakeRequest(502, kSetupNoBaudCode)), Expected(0x01, 0xF6, 0xFF));
}

TEST(SetupDatagram, SameBytesForBroadcastAndDirect) {
    SetupRequest request = MakeRequest(502, 7);
    request.Broadcast = 1;
    const Datagram broadcast = Build(request);
    request.Broadcast = 0;
    EXPECT_EQ(Build(request), broadcast);
}

TEST(SetupDatagram, CommandByteComesFromTheRequest) {
    SetupRequest request = MakeRequest(502, 7);
    request.Command = 0x09;
    EXPECT_EQ(Build(request)[kCommandCodeOffset], 0x09);
}

struct RefusalCase {
    const char* ip;
    const char* mask;
    const char* gateway;
    int expected;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.ip << " / " << c.mask << " / " << c.gateway;
}

class SetupDatagramRefusalTest : public testing::TestWithParam<RefusalCase> {};

TEST_P(SetupDatagramRefusalTest, FirstUnreadableAddressIsRefused) {
    const RefusalCase& c = GetParam();
    SetupRequest request = MakeRequest(502, 3);
    ASSERT_TRUE(CopyAddressText(request.NewIp, c.ip));
    ASSERT_TRUE(CopyAddressText(request.NewMask, c.mask));
    ASSERT_TRUE(CopyAddressText(request.NewGateway, c.gateway));
    uint8_t raw[kSetupDatagramLength];
    EXPECT_EQ(BuildSetupDatagram(request, raw), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, SetupDatagramRefusalTest,
    testing::Values(
        // The all-ones mask is inet_addr's failure value and cannot be told apart.
        RefusalCase{"10.0.0.2", "255.255.255.255", "10.0.0.1", kSetupNewMaskRefused},
        RefusalCase{"10.0.0.256", "255.0.0.0", "10.0.0.1", kSetupNewIpRefused},
        RefusalCase{"", "255.0.0.0", "10.0.0.1", kSetupNewIpRefused},
        RefusalCase{"10.0.0.2", "255.0.0.0", "gateway", kSetupNewGatewayRefused},
        RefusalCase{"10.0.0.2", "255.0.0.0", "10..0.1", kSetupNewGatewayRefused},
        // Conversions run in order: the first refusal is the one reported.
        RefusalCase{"x", "255.255.255.255", "y", kSetupNewIpRefused},
        RefusalCase{"10.0.0.2", "y", "255.255.255.255", kSetupNewMaskRefused}));

TEST(SetupDatagram, UnterminatedFieldIsRefusedNotOverread) {
    SetupRequest request = MakeRequest(502, 3);
    std::fill(std::begin(request.NewGateway), std::end(request.NewGateway), '1');
    uint8_t raw[kSetupDatagramLength];
    EXPECT_EQ(BuildSetupDatagram(request, raw), kSetupNewGatewayRefused);
}

TEST(CopyAddressText, AcceptsUpToNineteenCharacters) {
    char field[kAddressTextFieldSize];
    const std::string nineteen(19, '7');
    ASSERT_TRUE(CopyAddressText(field, nineteen));
    EXPECT_EQ(std::string(field), nineteen);
    ASSERT_TRUE(CopyAddressText(field, ""));
    EXPECT_EQ(std::string(field), "");
}

TEST(CopyAddressText, RefusesLongerTextInsteadOfCuttingIt) {
    char field[kAddressTextFieldSize];
    ASSERT_TRUE(CopyAddressText(field, "10.0.0.1"));
    // Twenty characters: cutting the last one off would still leave a text
    // that reads as an address, just not the one that was typed.
    EXPECT_FALSE(CopyAddressText(field, "010.000.000.0010.001"));
    EXPECT_EQ(std::string(field), "") << "a refused field must not keep an older address";
    EXPECT_FALSE(CopyAddressText(field, std::string(200, '1')));
}

TEST(CopyAddressText, RefusesEmbeddedZero) {
    char field[kAddressTextFieldSize];
    EXPECT_FALSE(CopyAddressText(field, std::string_view("10.0.0.1\0junk", 13)));
}

// Replies: the four discard tests, then acceptance.
struct ReplyCase {
    const char* name;
    std::vector<uint8_t> bytes;
    long received;  // -1 for a failed receive; may exceed the bytes (cut datagram)
    SetupReplyVerdict expected;
};

const uint8_t kMac[kSetupMacLength] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};

std::vector<uint8_t> Reply(uint8_t command, std::vector<uint8_t> mac, size_t length,
                           const char* identifier = "KVM47JR") {
    std::vector<uint8_t> bytes(identifier, identifier + kIdentifierLength);
    bytes.push_back(command);
    bytes.insert(bytes.end(), mac.begin(), mac.end());
    bytes.resize(length, 0x55);
    return bytes;
}

const std::vector<uint8_t> kSameMac(std::begin(kMac), std::end(kMac));
const std::vector<uint8_t> kOtherMac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F};

void PrintTo(const ReplyCase& c, std::ostream* os) {
    *os << c.name;
}

class SetupReplyTest : public testing::TestWithParam<ReplyCase> {};

TEST_P(SetupReplyTest, Classifies) {
    const ReplyCase& c = GetParam();
    std::vector<uint8_t> buffer(kSetupReplyBufferSize, 0);
    std::copy(c.bytes.begin(), c.bytes.end(), buffer.begin());
    EXPECT_EQ(ClassifySetupReply(buffer.data(), c.received, kMac), c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Replies, SetupReplyTest,
    testing::Values(
        ReplyCase{"code 2", Reply(2, kSameMac, 14), 14, SetupReplyVerdict::Confirms},
        ReplyCase{"code 3", Reply(3, kSameMac, 14), 14, SetupReplyVerdict::Confirms},
        ReplyCase{"full buffer", Reply(2, kSameMac, 256), 256, SetupReplyVerdict::Confirms},
        ReplyCase{"13 bytes", Reply(2, kSameMac, 13), 13, SetupReplyVerdict::TooShortOrFailed},
        ReplyCase{"failed receive", {}, -1, SetupReplyVerdict::TooShortOrFailed},
        ReplyCase{"too long", Reply(2, kSameMac, 256), 257, SetupReplyVerdict::TooShortOrFailed},
        ReplyCase{"request identifier", Reply(2, kSameMac, 29, "KVM47JS"), 29,
                  SetupReplyVerdict::NotAReply},
        ReplyCase{"discovery reply", Reply(1, kSameMac, 31), 31,
                  SetupReplyVerdict::NotAConfirmation},
        ReplyCase{"code 4", Reply(4, kSameMac, 14), 14, SetupReplyVerdict::NotAConfirmation},
        ReplyCase{"other MAC", Reply(2, kOtherMac, 14), 14, SetupReplyVerdict::OtherDevice},
        // The order decides: a short datagram is refused before its content is read.
        ReplyCase{"short and wrong", Reply(1, kOtherMac, 13, "KVM47JS"), 13,
                  SetupReplyVerdict::TooShortOrFailed}));

}  // namespace
