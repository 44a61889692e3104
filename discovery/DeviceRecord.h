#pragma once

#include <cstddef>
#include <cstdint>

// A DeviceRecord is a discovery reply from its byte 8 on, kept verbatim. A
// device may send as little as one record byte, so fields are read only
// through the accessors below, which never look past the record's end.
constexpr size_t kRecordMacOffset = 0;
constexpr size_t kMacLength = 6;
constexpr size_t kRecordVersionMajorOffset = 6;
constexpr size_t kRecordVersionMinorOffset = 7;
constexpr size_t kRecordIpOffset = 8;
constexpr size_t kIpv4Length = 4;
constexpr size_t kRecordMaskOffset = 12;
constexpr size_t kRecordGatewayOffset = 16;
constexpr size_t kRecordPortOffset = 20;
constexpr size_t kPortLength = 2;
constexpr size_t kRecordBaudCodeOffset = 22;
// A record this long holds every interpreted field; the rest is kept as is.
constexpr size_t kRecordFieldsLength = 23;
constexpr size_t kLargestRecordLength = 248;

// The last three MAC bytes of a device whose MAC was never programmed.
constexpr size_t kMacWarningFirstByte = 3;
constexpr uint8_t kUnprogrammedMacByte = 0xFF;

// A record inside a table buffer: it points into the buffer and owns nothing.
struct DeviceRecordView {
    const uint8_t* bytes = nullptr;
    size_t length = 0;
};

// True when the record holds all `width` bytes from `offset` on.
bool RecordHolds(const DeviceRecordView& record, size_t offset, size_t width);

// The byte at `offset`, or 0 when the record ends before it.
uint8_t RecordByte(const DeviceRecordView& record, size_t offset);

// The field's first byte, or nullptr when the record does not hold the whole
// field.
const uint8_t* RecordField(const DeviceRecordView& record, size_t offset, size_t width);

// The service port; false when the record ends before it.
bool RecordPort(const DeviceRecordView& record, uint16_t* port);

// A MAC ending in FF.FF.FF is listed but called out to the operator.
bool HasUnprogrammedMac(const DeviceRecordView& record);
