#include "channel/PayloadCipher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ChannelTestSupport.h"
#include "channel/COM_Class.h"

using channeltest::Bytes;

namespace {

Bytes Rc4Of(const std::string& key, const std::string& text) {
    int32_t i = 0;
    int32_t j = 0;
    uint8_t box[kCipherBoxSize];
    Rc4 cipher(i, j, box);
    cipher.Key(reinterpret_cast<const uint8_t*>(key.data()), key.size());
    Bytes bytes(text.begin(), text.end());
    cipher.Apply(bytes.data(), bytes.size());
    return bytes;
}

}  // namespace

struct Rc4Vector {
    const char* key;
    const char* plaintext;
    Bytes ciphertext;
};

class Rc4KnownAnswers : public testing::TestWithParam<Rc4Vector> {};

TEST_P(Rc4KnownAnswers, MatchesThePublishedCiphertext) {
    EXPECT_EQ(GetParam().ciphertext, Rc4Of(GetParam().key, GetParam().plaintext));
}

// The widely published RC4 test vectors.
INSTANTIATE_TEST_SUITE_P(PublishedVectors, Rc4KnownAnswers,
                         testing::Values(Rc4Vector{"Key",
                                                   "Plaintext",
                                                   {0xBB, 0xF3, 0x16, 0xE8, 0xD9, 0x40, 0xAF, 0x0A,
                                                    0xD3}},
                                         Rc4Vector{"Wiki", "pedia", {0x10, 0x21, 0xBF, 0x04, 0x20}},
                                         Rc4Vector{"Secret",
                                                   "Attack at dawn",
                                                   {0x45, 0xA0, 0x1F, 0x64, 0x5F, 0xC3, 0x5B, 0x38,
                                                    0x35, 0x52, 0x54, 0x4B, 0x9B, 0xF5}}));

TEST(Rc4, ContinuesTheKeyStreamAcrossCalls) {
    int32_t i = 0;
    int32_t j = 0;
    uint8_t box[kCipherBoxSize];
    Rc4 cipher(i, j, box);
    cipher.Key(reinterpret_cast<const uint8_t*>("Key"), 3);
    Bytes text{'P', 'l', 'a', 'i', 'n', 't', 'e', 'x', 't'};
    cipher.Apply(text.data(), 4);
    cipher.Apply(text.data() + 4, 5);
    EXPECT_EQ((Bytes{0xBB, 0xF3, 0x16, 0xE8, 0xD9, 0x40, 0xAF, 0x0A, 0xD3}), text);
}

TEST(PayloadCipher, KeyIsSixteenPrintableCharacters) {
    ASSERT_EQ(kPayloadCipherKeyLength, std::strlen(kPayloadCipherKey));
    for (size_t n = 0; n < kPayloadCipherKeyLength; ++n) {
        EXPECT_TRUE(kPayloadCipherKey[n] >= 0x20 && kPayloadCipherKey[n] <= 0x7E) << n;
    }
}

TEST(PayloadCipher, ChannelStateIsKeyedAfreshEachTime) {
    COM_Class channel;
    Bytes first{1, 2, 3, 4};
    Bytes second = first;
    KeyPayloadCipher(channel);
    ApplyPayloadCipher(channel, first.data(), first.size());
    KeyPayloadCipher(channel);
    ApplyPayloadCipher(channel, second.data(), second.size());
    EXPECT_EQ(first, second);
    EXPECT_EQ(Rc4Of(kPayloadCipherKey, std::string{1, 2, 3, 4}), first);

    KeyPayloadCipher(channel);
    ApplyPayloadCipher(channel, first.data(), first.size());
    EXPECT_EQ((Bytes{1, 2, 3, 4}), first);
}

TEST(PayloadCipher, StrayIndicesStayInsideTheBox) {
    COM_Class channel;
    KeyPayloadCipher(channel);
    channel.CipherI = -12345;
    channel.CipherJ = 99999;
    Bytes bytes(64, 0);
    ApplyPayloadCipher(channel, bytes.data(), bytes.size());
    EXPECT_GE(channel.CipherI, 0);
    EXPECT_LT(channel.CipherI, 256);
    EXPECT_GE(channel.CipherJ, 0);
    EXPECT_LT(channel.CipherJ, 256);
}
