#include "channel/RequestFrame.h"

#include <gtest/gtest.h>

#include "ChannelTestSupport.h"
#include "channel/PayloadCipher.h"

using channeltest::Bytes;

namespace {

Bytes Build(const RequestFields& fields, uint8_t markerSet = 0, Rc4* cipher = nullptr) {
    Bytes frame(kRequestFrameSize, 0xEE);
    const size_t length = BuildRequestFrame(frame.data(), MarkersFor(markerSet), fields, cipher);
    frame.resize(length);
    return frame;
}

RequestFields SetId(uint8_t id, uint8_t sequence = 1) {
    static uint8_t data;
    data = id;
    return RequestFields{sequence, 1, 2, 90, &data, 1};
}

}  // namespace

TEST(RequestFrame, WorkedSetIdExample) {
    EXPECT_EQ(
        (Bytes{0x19, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02, 0xFD, 0x02, 0x5A, 0x05, 0x35, 0x06, 0x03}),
        Build(SetId(5)));
}

TEST(RequestFrame, SecondMarkerRow) {
    const Bytes frame = Build(SetId(5), 1);
    EXPECT_EQ(0xA9, frame.front());
    EXPECT_EQ(0x06, frame.back());
}

TEST(RequestFrame, AddressIsLittleEndian) {
    const Bytes frame = Build(RequestFields{7, 0x12345678, 3, 4, nullptr, 0});
    EXPECT_EQ((Bytes{0x78, 0x56, 0x34, 0x12}), Bytes(frame.begin() + 2, frame.begin() + 6));
}

struct FormCase {
    uint32_t dataLength;
    size_t frameLength;
    Bytes countBytes;  // offset 7 onward up to the command code
    size_t commandOffset;
};

class RequestFrameForms : public testing::TestWithParam<FormCase> {};

TEST_P(RequestFrameForms, CountFormCheckCrcAndEnd) {
    const FormCase& form = GetParam();
    Bytes data(form.dataLength);
    for (size_t n = 0; n < data.size(); ++n) {
        data[n] = static_cast<uint8_t>(n * 7 + 1);
    }
    const Bytes frame = Build(RequestFields{9, 1, 2, 0x5A, data.data(), form.dataLength});

    ASSERT_EQ(form.frameLength, frame.size());
    EXPECT_EQ(form.countBytes,
              Bytes(frame.begin() + 7, frame.begin() + 7 + form.countBytes.size()));
    EXPECT_EQ(0x5A, frame[form.commandOffset]);
    EXPECT_EQ(data, Bytes(frame.begin() + form.commandOffset + 1, frame.end() - 3));
    const uint16_t crc = channeltest::BitwiseCrc16Arc(Bytes(frame.begin(), frame.end() - 3));
    EXPECT_EQ(crc & 0xFF, frame[frame.size() - 3]);
    EXPECT_EQ(crc >> 8, frame[frame.size() - 2]);
    EXPECT_EQ(0x03, frame.back());
}

INSTANTIATE_TEST_SUITE_P(Lengths, RequestFrameForms,
                         testing::Values(
                             // count 1: short form
                             FormCase{0, 13, {0xFE, 0x01}, 9},
                             // count 255: the largest short form
                             FormCase{254, 267, {0x00, 0xFF}, 9},
                             // count 256 (0x0100): long form, check (0x00 ^ 0x01) ^ 0xFF
                             FormCase{255, 270, {0xFE, 0x00, 0x00, 0x01}, 11},
                             // count 4086 (0x0FF6): the largest request, filling the buffer
                             // exactly; check (0xF6 ^ 0x0F) ^ 0xFF
                             FormCase{4085, 4100, {0x06, 0x00, 0xF6, 0x0F}, 11}));

TEST(RequestFrame, MoreDataThanTheBufferHoldsWritesNothing) {
    Bytes data(kMaxRequestData + 1, 0x55);
    Bytes frame(kRequestFrameSize, 0xEE);
    EXPECT_EQ(0u, BuildRequestFrame(frame.data(), MarkersFor(0),
                                    RequestFields{1, 1, 2, 90, data.data(), kMaxRequestData + 1},
                                    nullptr));
    EXPECT_EQ(Bytes(kRequestFrameSize, 0xEE), frame);
}

TEST(RequestFrame, CipherCoversTheCountedRegionAndTheCrcTheEncipheredBytes) {
    const uint8_t data[] = {0x05, 0x06, 0x07};
    int32_t i = 0;
    int32_t j = 0;
    uint8_t box[kCipherBoxSize];
    Rc4 cipher(i, j, box);
    cipher.Key(reinterpret_cast<const uint8_t*>(kPayloadCipherKey), kPayloadCipherKeyLength);
    const Bytes frame = Build(RequestFields{1, 1, 2, 90, data, 3}, 0, &cipher);

    int32_t i2 = 0;
    int32_t j2 = 0;
    uint8_t box2[kCipherBoxSize];
    Rc4 expected(i2, j2, box2);
    expected.Key(reinterpret_cast<const uint8_t*>(kPayloadCipherKey), kPayloadCipherKeyLength);
    Bytes counted{90, 0x05, 0x06, 0x07};
    expected.Apply(counted.data(), counted.size());

    ASSERT_EQ(16u, frame.size());
    EXPECT_EQ((Bytes{0x19, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02, 0xFB, 0x04}),
              Bytes(frame.begin(), frame.begin() + 9));
    EXPECT_EQ(counted, Bytes(frame.begin() + 9, frame.begin() + 13));
    const uint16_t crc = channeltest::BitwiseCrc16Arc(Bytes(frame.begin(), frame.begin() + 13));
    EXPECT_EQ(crc & 0xFF, frame[13]);
    EXPECT_EQ(crc >> 8, frame[14]);
}
