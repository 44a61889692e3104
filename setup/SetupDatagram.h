#pragma once

#include <cstddef>
#include <cstdint>

#include "common/DatagramHeader.h"
#include "setup/SetupRequest.h"

// The setup datagram (tool to device), 29 bytes.
constexpr size_t kSetupDatagramLength = 29;
constexpr size_t kSetupMacOffset = 8;
// The addresses follow the MAC at once: unlike the discovery reply there are
// no version bytes in between.
constexpr size_t kSetupNewIpOffset = 14;
constexpr size_t kSetupNewMaskOffset = 18;
constexpr size_t kSetupNewGatewayOffset = 22;
constexpr size_t kSetupPortHighOffset = 26;
constexpr size_t kSetupPortLowOffset = 27;
constexpr size_t kSetupBaudCodeOffset = 28;

// The reply (device to tool): only its first 14 bytes are examined.
constexpr size_t kSetupReplyMinLength = 14;
constexpr size_t kSetupReplyMacOffset = 8;
constexpr uint8_t kSetupReplyConfirmed = 2;
constexpr uint8_t kSetupReplyConfirmedAlternative = 3;
// Replies are read into a buffer of this size; anything longer is refused.
constexpr size_t kSetupReplyBufferSize = 256;

// Results of BuildSetupDatagram (also returned by SendSetupRequest).
constexpr int kSetupDatagramBuilt = 0;
constexpr int kSetupNewIpRefused = -5;       // NewIp is no dotted address, or all ones
constexpr int kSetupNewMaskRefused = -6;     // NewMask is no dotted address, or all ones
constexpr int kSetupNewGatewayRefused = -7;  // NewGateway is no dotted address, or all ones

// Fills `datagram` from `request`. The three address texts are converted in
// the order NewIp, NewMask, NewGateway; the first refusal is returned and the
// datagram must not be sent.
int BuildSetupDatagram(const SetupRequest& request, uint8_t (&datagram)[kSetupDatagramLength]);

// What a setup datagram carries, as numbers: for callers that hold the values
// already and need not turn them into texts and back.
struct SetupValues {
    uint8_t mac[kSetupMacLength] = {};
    uint32_t ip = 0;  // host byte order
    uint32_t mask = 0;
    uint32_t gateway = 0;
    uint16_t port = 0;
    uint8_t baudCode = kSetupNoBaudCode;
};

// The same datagram from values. An all-ones address is refused as the text
// conversion refuses it (the devices would read it as "no address"), with the
// same codes and in the same order.
int BuildSetupDatagram(const SetupValues& values, uint8_t (&datagram)[kSetupDatagramLength]);

// Why a received datagram does or does not confirm the setup. The tests run in
// this order and the first that holds decides.
enum class SetupReplyVerdict {
    Confirms,
    TooShortOrFailed,  // fewer than 14 bytes, a failed receive, or more than the buffer holds
    NotAReply,         // bytes 0 to 6 are not "KVM47JR"
    NotAConfirmation,  // byte 7 is neither 2 nor 3
    OtherDevice,       // bytes 8 to 13 differ from the request's MAC
};

// `received` is what the receive gave: negative for a failure, and the full
// datagram length (which may exceed the buffer) otherwise.
SetupReplyVerdict ClassifySetupReply(const uint8_t* buffer, long received,
                                     const uint8_t (&mac)[kSetupMacLength]);
