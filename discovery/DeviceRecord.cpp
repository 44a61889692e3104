#include "discovery/DeviceRecord.h"

#include "common/ByteOrder.h"

bool RecordHolds(const DeviceRecordView& record, size_t offset, size_t width) {
    return record.bytes != nullptr && offset <= record.length && width <= record.length - offset;
}

uint8_t RecordByte(const DeviceRecordView& record, size_t offset) {
    return RecordHolds(record, offset, 1) ? record.bytes[offset] : 0;
}

const uint8_t* RecordField(const DeviceRecordView& record, size_t offset, size_t width) {
    return RecordHolds(record, offset, width) ? record.bytes + offset : nullptr;
}

bool RecordPort(const DeviceRecordView& record, uint16_t* port) {
    const uint8_t* field = RecordField(record, kRecordPortOffset, kPortLength);
    if (field == nullptr) {
        return false;
    }
    *port = ReadBigEndian16(field);
    return true;
}

bool HasUnprogrammedMac(const DeviceRecordView& record) {
    const uint8_t* mac = RecordField(record, kRecordMacOffset, kMacLength);
    if (mac == nullptr) {
        return false;
    }
    for (size_t i = kMacWarningFirstByte; i < kMacLength; ++i) {
        if (mac[i] != kUnprogrammedMacByte) {
            return false;
        }
    }
    return true;
}
