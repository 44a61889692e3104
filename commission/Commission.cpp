#include "commission/Commission.h"

#include "common/ByteOrder.h"
#include "discovery/DeviceRecord.h"

bool RecordShows(const uint8_t* record, size_t length, const SetupValues& target) {
    const DeviceRecordView view{record, length};
    if (!RecordHolds(view, 0, kRecordFieldsLength)) {
        return false;
    }
    uint16_t port = 0;
    RecordPort(view, &port);
    return ReadBigEndian32(record + kRecordIpOffset) == target.ip &&
           ReadBigEndian32(record + kRecordMaskOffset) == target.mask &&
           ReadBigEndian32(record + kRecordGatewayOffset) == target.gateway &&
           port == target.port && record[kRecordBaudCodeOffset] == target.baudCode;
}
