#pragma once

#include <cstddef>
#include <cstdint>

// What discovery and setup datagrams share: the UDP port, on both ends, and
// an eight-byte header of a seven-byte ASCII identifier (no terminator on
// the wire) and a command code.
constexpr uint16_t kDeviceUdpPort = 3195;
// Both bind the port on every local address, and broadcast to the limited
// broadcast address (host byte order).
constexpr uint32_t kAnyAddress = 0;
constexpr uint32_t kLimitedBroadcast = 0xFFFFFFFF;  // 255.255.255.255

constexpr size_t kIdentifierOffset = 0;
constexpr size_t kIdentifierLength = 7;
constexpr char kRequestIdentifier[kIdentifierLength + 1] = "KVM47JS";  // from the tool
constexpr char kReplyIdentifier[kIdentifierLength + 1] = "KVM47JR";    // from a device
constexpr size_t kCommandCodeOffset = 7;
constexpr size_t kDatagramHeaderLength = 8;
