#include "channel/FrameFormat.h"

#include "common/ByteOrder.h"

namespace {
constexpr FrameMarkers kMarkerTable[kMarkerRowCount] = {
    {0x19, 0x91, 0x03},
    {0xA9, 0x9A, 0x06},
};
}  // namespace

bool MarkerRowExists(uint8_t markerSet) {
    return markerSet < kMarkerRowCount;
}

const FrameMarkers& MarkersFor(uint8_t markerSet) {
    return kMarkerTable[MarkerRowExists(markerSet) ? markerSet : 0];
}

uint8_t CountCheck(uint32_t count) {
    const uint8_t low = static_cast<uint8_t>(count & kByteMask);
    const uint8_t high = static_cast<uint8_t>((count >> kByteBits) & kByteMask);
    return static_cast<uint8_t>((low ^ high) ^ kCountCheckXor);
}
