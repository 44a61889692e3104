#pragma once

#include <cstddef>
#include <cstdint>

class COM_Class;

// The optional payload cipher of device frames: RC4 with the standard key
// schedule and output generator, no output bytes dropped. Enciphering and
// deciphering are the same operation.

constexpr std::size_t kCipherBoxSize = 256;

// The key shared with devices that expect enciphered frames; the same in both
// directions. Exactly kPayloadCipherKeyLength printable ASCII characters.
constexpr std::size_t kPayloadCipherKeyLength = 16;
extern const char kPayloadCipherKey[kPayloadCipherKeyLength + 1];

// RC4 over state that lives elsewhere (the channel keeps its own).
class Rc4 {
public:
    Rc4(int32_t& i, int32_t& j, uint8_t (&box)[kCipherBoxSize]) : i_(i), j_(j), box_(box) {}

    // Runs the key schedule; `keyLength` must be at least 1.
    void Key(const uint8_t* key, std::size_t keyLength);
    // XORs `count` bytes in place with the next bytes of the key stream.
    void Apply(uint8_t* bytes, std::size_t count);

private:
    int32_t& i_;
    int32_t& j_;
    uint8_t (&box_)[kCipherBoxSize];
};

// Keys the channel's cipher state afresh with kPayloadCipherKey.
void KeyPayloadCipher(COM_Class& channel);
// Enciphers or deciphers `count` bytes in place with the channel's state.
void ApplyPayloadCipher(COM_Class& channel, uint8_t* bytes, std::size_t count);
