#pragma once

#include <cstddef>
#include <cstdint>

// What request and reply frames share: their markers, the count's check byte
// and the trailer.

// The bytes that open and close device frames. COM_Class::MarkerSet picks the
// row; the tool always uses row 0.
struct FrameMarkers {
    uint8_t requestStart;
    uint8_t replyStart;
    uint8_t end;  // both directions
};

constexpr uint8_t kMarkerRowCount = 2;

// True when `markerSet` names a row of the table.
bool MarkerRowExists(uint8_t markerSet);

// The row named by `markerSet`. A value outside the table gives row 0;
// Transact refuses such a value before it frames anything.
const FrameMarkers& MarkersFor(uint8_t markerSet);

// A zero where the short count belongs announces the long form.
constexpr uint8_t kLongFormMark = 0x00;
constexpr uint32_t kShortFormMaxCount = 255;
constexpr uint8_t kCountCheckXor = 0xFF;

// The check byte of a count: the short form's count XOR 0xFF, the long form's
// (low XOR high) XOR 0xFF. For counts up to 255 the two agree.
uint8_t CountCheck(uint32_t count);

// Every frame ends with its CRC-16/ARC (low byte first) and the end marker.
constexpr std::size_t kCrcSize = 2;
constexpr std::size_t kEndMarkerSize = 1;
constexpr std::size_t kFrameTrailerSize = kCrcSize + kEndMarkerSize;
