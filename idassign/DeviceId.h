#pragma once

#include <cstdint>

class COM_Class;

// Writing a device's ID: one framed transaction with a fixed address,
// function and command, and the ID as its one data byte.
constexpr uint32_t kDeviceIdAddress = 1;
constexpr uint8_t kDeviceIdFunction = 2;
constexpr uint8_t kDeviceIdCommand = 90;
constexpr uint32_t kDeviceIdLength = 1;
// The IDs a device takes; a larger number is refused before anything is
// sent. There is no lower bound: a negative number goes out as its low byte.
constexpr int32_t kLargestDeviceId = 255;
// The connect limit of a TCP channel, and the time the device has to answer.
constexpr uint32_t kDeviceIdConnectLimitMs = 5000;
constexpr uint32_t kDeviceIdReplyLimitMs = 3000;

// One Set ID transaction over an open channel: Transact's result, the reply's
// data count or a negative code; `detail` as Transact writes it.
int TransactDeviceId(COM_Class& channel, uint8_t id, int32_t* detail = nullptr,
                     uint32_t replyLimitMs = kDeviceIdReplyLimitMs);

// What WriteDeviceId did: the open's code, and when the open succeeded, the
// transaction's result and its detail code.
struct DeviceIdOutcome {
    int openResult = 0;
    int result = 0;
    int32_t detail = 0;
    bool Written() const { return openResult >= 0 && result >= 0; }
};

// The whole Set ID for a closed channel whose Kind and transport fields are
// set: opens it with the connect limit, runs the transaction and closes the
// channel again on every way out. The reply's data (the ID the device now
// holds) stays in the channel's ReplyData.
DeviceIdOutcome WriteDeviceId(COM_Class& channel, uint8_t id,
                              uint32_t connectLimitMs = kDeviceIdConnectLimitMs);
