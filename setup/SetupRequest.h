#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Size of each address text field: at most 19 characters and a terminating zero.
constexpr size_t kSetupAddressFieldSize = 20;
constexpr size_t kSetupMacLength = 6;

// Command code of a setup datagram.
constexpr uint8_t kSetupCommand = 2;
// Longest wait for one reply datagram, in seconds, that the setup buttons use.
constexpr int32_t kSetupReplyWaitSeconds = 5;
// Baud-rate code sent when the operator has chosen no rate.
constexpr uint8_t kSetupNoBaudCode = 0xFF;

// One setup operation: which device (by MAC), what it is to become, and how
// the datagram reaches it.
struct SetupRequest {
    uint8_t Mac[kSetupMacLength] = {};
    char NewIp[kSetupAddressFieldSize] = {};
    char NewMask[kSetupAddressFieldSize] = {};
    char NewGateway[kSetupAddressFieldSize] = {};
    uint16_t Port = 0;
    uint8_t BaudCode = kSetupNoBaudCode;
    int32_t ReplyWaitSeconds = kSetupReplyWaitSeconds;
    // The device's present address; only a direct setup uses it.
    char CurrentIp[kSetupAddressFieldSize] = {};
    // Non-zero: to 255.255.255.255; zero: straight to CurrentIp.
    uint8_t Broadcast = 0;
    uint8_t Command = kSetupCommand;
};

// Copies `text` into one of the request's address fields. A text that does
// not fit (more than 19 characters) or carries a zero byte is refused rather
// than cut: a cut address would configure the device with an address the
// operator never typed. A refused field is left empty and false is returned.
bool SetAddressField(char (&field)[kSetupAddressFieldSize], std::string_view text);

// True when the field holds its terminating zero, i.e. it is a valid text.
bool AddressFieldTerminated(const char (&field)[kSetupAddressFieldSize]);
