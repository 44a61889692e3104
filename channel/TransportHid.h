#pragma once

#include <cstddef>
#include <cstdint>

// The HID transport's result codes stand with the channel's others.
#include "channel/ChannelResult.h"
#include "channel/HidReportDevice.h"

// Report layout, both directions.
constexpr std::size_t kHidReportIdOffset = 0;
constexpr std::size_t kHidCountOffset = 1;
constexpr std::size_t kHidPayloadOffset = 2;
constexpr std::size_t kHidMaxPayload = kHidReportSize - kHidPayloadOffset;  // 62
constexpr uint8_t kHidOutputReportId = 1;

// A bound on each output report write.
constexpr uint32_t kHidWriteTimeoutMs = 5000;

// Fills `report` (kHidReportSize bytes) with the next piece of a frame: the
// report identifier, the piece's length and up to kHidMaxPayload bytes from
// `frame`, zeros after them. Returns how many frame bytes it took.
std::size_t PackOutputReport(const uint8_t* frame, std::size_t length, uint8_t* report);

// The number of payload bytes (starting at kHidPayloadOffset) that an input
// report delivers when `received` of its bytes arrived: none for fewer than
// three bytes, otherwise the count in byte 1, but never more than the bytes
// that arrived after the count.
std::size_t InputReportPayload(const uint8_t* report, std::size_t received);
