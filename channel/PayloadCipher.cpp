#include "channel/PayloadCipher.h"

#include "channel/COM_Class.h"

const char kPayloadCipherKey[kPayloadCipherKeyLength + 1] = "vqTool-Frame-K16";

namespace {
constexpr uint32_t kIndexMask = kCipherBoxSize - 1;

uint8_t At(const uint8_t (&box)[kCipherBoxSize], uint32_t index) {
    return box[index & kIndexMask];
}
}  // namespace

void Rc4::Key(const uint8_t* key, std::size_t keyLength) {
    for (std::size_t n = 0; n < kCipherBoxSize; ++n) {
        box_[n] = static_cast<uint8_t>(n);
    }
    uint32_t j = 0;
    for (std::size_t n = 0; n < kCipherBoxSize; ++n) {
        j = (j + box_[n] + key[n % keyLength]) & kIndexMask;
        const uint8_t swap = box_[n];
        box_[n] = box_[j];
        box_[j] = swap;
    }
    i_ = 0;
    j_ = 0;
}

void Rc4::Apply(uint8_t* bytes, std::size_t count) {
    // The indices are kept in signed fields of the channel; masking every use
    // keeps a stray value from ever indexing outside the box.
    uint32_t i = static_cast<uint32_t>(i_) & kIndexMask;
    uint32_t j = static_cast<uint32_t>(j_) & kIndexMask;
    for (std::size_t n = 0; n < count; ++n) {
        i = (i + 1) & kIndexMask;
        j = (j + box_[i]) & kIndexMask;
        const uint8_t swap = box_[i];
        box_[i] = box_[j];
        box_[j] = swap;
        bytes[n] ^= At(box_, static_cast<uint32_t>(box_[i]) + box_[j]);
    }
    i_ = static_cast<int32_t>(i);
    j_ = static_cast<int32_t>(j);
}

void KeyPayloadCipher(COM_Class& channel) {
    Rc4(channel.CipherI, channel.CipherJ, channel.CipherBox)
        .Key(reinterpret_cast<const uint8_t*>(kPayloadCipherKey), kPayloadCipherKeyLength);
}

void ApplyPayloadCipher(COM_Class& channel, uint8_t* bytes, std::size_t count) {
    Rc4(channel.CipherI, channel.CipherJ, channel.CipherBox).Apply(bytes, count);
}
