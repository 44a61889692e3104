#include <gtest/gtest.h>

#include "ChannelTestSupport.h"
#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "channel/PayloadCipher.h"
#include "idassign/DeviceId.h"

using namespace channeltest;

namespace {

const uint8_t kId5[] = {5};

// One Set ID transaction against a device on loopback that answers with
// `reply` (its sequence number taken from the request); returns the result
// and what the device received.
struct Exchange {
    int result = 0;
    Bytes request;
};

Exchange RunSetId(LoopbackChannel& link, const Reply& reply, int32_t* detail = nullptr) {
    AnsweringEvents device(link.peer, 14, Answer(reply));
    link.channel.Events = &device;
    Exchange exchange;
    exchange.result = link.channel.Transact(kDeviceIdAddress, kDeviceIdFunction, kDeviceIdCommand,
                                            1, kId5, 3000, detail);
    exchange.request = device.request;
    link.channel.Events = nullptr;
    return exchange;
}

}  // namespace

TEST(Transact, WorkedSetIdExampleOnTheWire) {
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    const Exchange exchange = RunSetId(link, Reply());
    EXPECT_EQ(
        (Bytes{0x19, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02, 0xFD, 0x02, 0x5A, 0x05, 0x35, 0x06, 0x03}),
        exchange.request);
    EXPECT_EQ(1, exchange.result);
    EXPECT_EQ(1u, link.channel.ReplyLength);
    EXPECT_EQ(5, link.channel.ReplyData[0]);
    EXPECT_EQ(1u, link.channel.SentAddress);
    EXPECT_EQ(2, link.channel.SentFunction);
    EXPECT_EQ(90, link.channel.SentCommand);
    EXPECT_EQ(1, link.channel.SentSequence);
}

TEST(TransactSequence, ConsecutiveAlsoAcrossCloseAndOpen) {
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    EXPECT_EQ(1, RunSetId(link, Reply()).request.at(1));
    EXPECT_EQ(2, RunSetId(link, Reply()).request.at(1));
    link.channel.Close();
    ASSERT_TRUE(link.Open());
    const Exchange third = RunSetId(link, Reply());
    EXPECT_EQ(3, third.request.at(1));
    EXPECT_EQ(1, third.result);
}

TEST(TransactSequence, WrapsFrom255ToZero) {
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    link.channel.RequestFrame[1] = 254;
    const Exchange last = RunSetId(link, Reply());
    const Exchange wrapped = RunSetId(link, Reply());
    EXPECT_EQ(255, last.request.at(1));
    EXPECT_EQ(1, last.result);
    EXPECT_EQ(0, wrapped.request.at(1));
    EXPECT_EQ(1, wrapped.result);
}

TEST(TransactSequence, ReplyToAnEarlierRequestIsRefused) {
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    AnsweringEvents device(link.peer, 14, [](const Bytes& request) {
        return ReplyFrame(Reply().WithSequence(static_cast<uint8_t>(request[1] - 1)));
    });
    link.channel.Events = &device;
    EXPECT_EQ(kReplyWrongSequence, link.channel.Transact(kDeviceIdAddress, kDeviceIdFunction,
                                                         kDeviceIdCommand, 1, kId5, 3000, nullptr));
}

struct ResultCase {
    const char* name;
    uint8_t resultByte;
    Bytes data;
    int expected;
    int32_t detail;  // -1: left untouched
};

class TransactResult : public testing::TestWithParam<ResultCase> {};

TEST_P(TransactResult, MapsTheDevicesResultIgnoringBit7) {
    const ResultCase& c = GetParam();
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    int32_t detail = -1;
    const Exchange exchange =
        RunSetId(link, Reply().WithResult(c.resultByte).WithData(c.data), &detail);
    EXPECT_EQ(c.expected, exchange.result);
    EXPECT_EQ(c.detail, detail);
    EXPECT_EQ(c.resultByte & 0x7Fu, link.channel.ReplyResult);
    EXPECT_EQ(c.data.size(), link.channel.ReplyLength);
}

INSTANTIATE_TEST_SUITE_P(
    Results, TransactResult,
    testing::Values(ResultCase{"Success", 0x00, {5}, 1, -1},
                    ResultCase{"SuccessBit7", 0x80, {5}, 1, -1},
                    ResultCase{"SuccessCountsEveryDataByte", 0x00, {5, 6, 7}, 3, -1},
                    ResultCase{"Detail", 0x01, {7, 2}, kTransactDeviceDetail, 207},
                    ResultCase{"DetailBit7", 0x81, {7, 2}, kTransactDeviceDetail, 207},
                    ResultCase{"DetailLargest", 0x01, {255, 255, 1}, kTransactDeviceDetail, 25755},
                    ResultCase{"Result2", 0x02, {0}, kTransactDeviceResult2, -1},
                    ResultCase{"Result2Bit7", 0x82, {0}, kTransactDeviceResult2, -1},
                    ResultCase{"Result3", 0x03, {0}, kTransactDeviceResult3, -1},
                    ResultCase{"Result4", 0x04, {0}, kTransactDeviceResult4, -1},
                    ResultCase{"Result5", 0x05, {0}, kTransactDeviceOther, -1},
                    ResultCase{"Result127", 0x7F, {0}, kTransactDeviceOther, -1},
                    ResultCase{"Result255", 0xFF, {0}, kTransactDeviceOther, -1}),
    [](const testing::TestParamInfo<ResultCase>& info) { return info.param.name; });

TEST(TransactResultDetail, MissingDetailByteCountsAsZeroNotAsAStaleOne) {
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    ASSERT_EQ(3, RunSetId(link, Reply().WithData({9, 9, 9})).result);
    int32_t detail = -1;
    EXPECT_EQ(kTransactDeviceDetail,
              RunSetId(link, Reply().WithResult(1).WithData({7}), &detail).result);
    EXPECT_EQ(7, detail);
}

TEST(TransactResultDetail, NoDetailPointerIsFine) {
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    EXPECT_EQ(kTransactDeviceDetail, RunSetId(link, Reply().WithResult(1).WithData({7, 2})).result);
}

TEST(TransactLimits, LargestRequestGoesOutWhole) {
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    const Bytes data(4085, 0x3C);
    AnsweringEvents device(link.peer, 4100, Answer(Reply()));
    link.channel.Events = &device;
    EXPECT_EQ(1, link.channel.Transact(kDeviceIdAddress, kDeviceIdFunction, kDeviceIdCommand, 4085,
                                       data.data(), 3000, nullptr));
    ASSERT_EQ(4100u, device.request.size());
    EXPECT_EQ((Bytes{0x06, 0x00, 0xF6, 0x0F, 90}),
              Bytes(device.request.begin() + 7, device.request.begin() + 12));
    EXPECT_EQ(0x03, device.request.back());
}

TEST(TransactLimits, TooMuchDataSendsNothing) {
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    const Bytes data(4086, 0x3C);
    EXPECT_EQ(kTransactTooLong,
              link.channel.Transact(kDeviceIdAddress, kDeviceIdFunction, kDeviceIdCommand, 4086,
                                    data.data(), 3000, nullptr));
    EXPECT_FALSE(WaitFor(link.peer, kSocketReadable, 50)) << "nothing reached the device";
    const Exchange next = RunSetId(link, Reply());
    EXPECT_EQ(1, next.request.at(1)) << "the refused request used no sequence number";
    EXPECT_EQ(1, next.result);
}

TEST(TransactCipher, RequestAndReplyTravelEnciphered) {
    LoopbackChannel link;
    ASSERT_TRUE(link.Open());
    link.channel.CipherEnabled = 1;

    // What the device does: decipher the request's counted region, and
    // encipher its reply's data, each with a freshly keyed cipher.
    COM_Class deviceCipher;
    Bytes plainRequest;
    AnsweringEvents device(link.peer, 14, [&](const Bytes& request) {
        plainRequest = Bytes(request.begin() + 9, request.begin() + 11);
        KeyPayloadCipher(deviceCipher);
        ApplyPayloadCipher(deviceCipher, plainRequest.data(), plainRequest.size());
        Bytes data{0x05, 0x42};
        KeyPayloadCipher(deviceCipher);
        ApplyPayloadCipher(deviceCipher, data.data(), data.size());
        return ReplyFrame(Reply().WithSequence(request[1]).WithData(data));
    });
    link.channel.Events = &device;
    EXPECT_EQ(2, link.channel.Transact(kDeviceIdAddress, kDeviceIdFunction, kDeviceIdCommand, 1,
                                       kId5, 3000, nullptr));
    EXPECT_EQ((Bytes{90, 5}), plainRequest);
    EXPECT_NE((Bytes{90, 5}), Bytes(device.request.begin() + 9, device.request.begin() + 11));
    EXPECT_EQ((Bytes{0x05, 0x42}), Bytes(link.channel.ReplyData, link.channel.ReplyData + 2));
    const uint16_t crc =
        BitwiseCrc16Arc(Bytes(device.request.begin(), device.request.begin() + 11));
    EXPECT_EQ(crc & 0xFF, device.request[11]);
    EXPECT_EQ(crc >> 8, device.request[12]);
}
