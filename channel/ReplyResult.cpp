#include "channel/ReplyResult.h"

#include "channel/ChannelResult.h"

namespace {
int32_t DataByteOrZero(const uint8_t* data, uint32_t count, uint32_t index) {
    return index < count ? data[index] : 0;
}
}  // namespace

int ReplyResultCode(uint32_t resultByte, const uint8_t* data, uint32_t count, int32_t* detail) {
    switch (resultByte & kReplyResultMask) {
        case kDeviceSuccess:
            return static_cast<int>(count);
        case kDeviceFailedWithDetail:
            if (detail != nullptr) {
                *detail = DataByteOrZero(data, count, 0) +
                          kDetailHighWeight * DataByteOrZero(data, count, 1);
            }
            return kTransactDeviceDetail;
        case kDeviceFailed2:
            return kTransactDeviceResult2;
        case kDeviceFailed3:
            return kTransactDeviceResult3;
        case kDeviceFailed4:
            return kTransactDeviceResult4;
        default:
            return kTransactDeviceOther;
    }
}
