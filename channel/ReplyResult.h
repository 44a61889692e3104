#pragma once

#include <cstdint>

// The result byte of a reply: bit 7 is not part of the device's result.
constexpr uint32_t kReplyResultMask = 0x7F;

// Device results that Transact tells apart.
constexpr uint32_t kDeviceSuccess = 0;
constexpr uint32_t kDeviceFailedWithDetail = 1;  // detail code in the first two data bytes
constexpr uint32_t kDeviceFailed2 = 2;
constexpr uint32_t kDeviceFailed3 = 3;
constexpr uint32_t kDeviceFailed4 = 4;

// The detail code is the first data byte plus this times the second.
constexpr int32_t kDetailHighWeight = 100;

// Turns a valid reply into Transact's result: `count` on success, otherwise
// the code of the device's result (ChannelResult.h). For a failure with a
// detail code, `*detail` (when not null) receives it; a data byte that the
// reply does not carry counts as 0, never as whatever the buffer held before.
int ReplyResultCode(uint32_t resultByte, const uint8_t* data, uint32_t count, int32_t* detail);
