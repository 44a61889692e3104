#pragma once

#include <cstddef>
#include <cstdint>

#include "common/AddressText.h"

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
    char NewIp[kAddressTextFieldSize] = {};
    char NewMask[kAddressTextFieldSize] = {};
    char NewGateway[kAddressTextFieldSize] = {};
    uint16_t Port = 0;
    uint8_t BaudCode = kSetupNoBaudCode;
    int32_t ReplyWaitSeconds = kSetupReplyWaitSeconds;
    // The device's present address; only a direct setup uses it.
    char CurrentIp[kAddressTextFieldSize] = {};
    // Non-zero: to 255.255.255.255; zero: straight to CurrentIp.
    uint8_t Broadcast = 0;
    uint8_t Command = kSetupCommand;
};
