#include "discovery/DeviceListRows.h"

#include <cstdio>

#include "common/BaudRate.h"
#include "discovery/DeviceTable.h"
#include "discovery/DiscoverDevices.h"
#include "discovery/TextFormats.h"

namespace {

constexpr char kVersionFormat[] = "%d.%2.2d";
constexpr char kMacWarningLineFormat[] = "MAC ID:%s\n";
// "255.255" and the terminating zero, with room to spare.
constexpr size_t kNumberTextSize = 16;

std::string MacText(const DeviceRecordView& record) {
    const uint8_t* mac = RecordField(record, kRecordMacOffset, kMacLength);
    if (mac == nullptr) {
        return {};
    }
    char text[kMacTextSize];
    FormatMacAddress(mac, text);
    return text;
}

std::string IpText(const DeviceRecordView& record, size_t offset) {
    const uint8_t* address = RecordField(record, offset, kIpv4Length);
    if (address == nullptr) {
        return {};
    }
    char text[kIpTextSize];
    FormatIpAddress(address, text);
    return text;
}

std::string PortText(const DeviceRecordView& record) {
    uint16_t port = 0;
    if (!RecordPort(record, &port)) {
        return {};
    }
    return std::to_string(port);
}

std::string BaudRateText(const DeviceRecordView& record) {
    uint32_t rate = 0;
    if (!RecordHolds(record, kRecordBaudCodeOffset, 1) ||
        !BaudRateForCode(record.bytes[kRecordBaudCodeOffset], &rate)) {
        return {};
    }
    return std::to_string(rate);
}

std::string VersionText(const DeviceRecordView& record) {
    if (!RecordHolds(record, kRecordVersionMajorOffset, 1) ||
        !RecordHolds(record, kRecordVersionMinorOffset, 1)) {
        return {};
    }
    char text[kNumberTextSize];
    std::snprintf(text, sizeof text, kVersionFormat, record.bytes[kRecordVersionMajorOffset],
                  record.bytes[kRecordVersionMinorOffset]);
    return text;
}

}  // namespace

DeviceRowTexts MakeDeviceRowTexts(const DeviceRecordView& record) {
    DeviceRowTexts texts;
    texts.caption = MacText(record);
    texts.subItems[kSubItemIp] = IpText(record, kRecordIpOffset);
    texts.subItems[kSubItemSubmask] = IpText(record, kRecordMaskOffset);
    texts.subItems[kSubItemGateway] = IpText(record, kRecordGatewayOffset);
    texts.subItems[kSubItemPort] = PortText(record);
    texts.subItems[kSubItemBaudRate] = BaudRateText(record);
    texts.subItems[kSubItemVersion] = VersionText(record);
    return texts;
}

bool DeviceRowTextsAt(const uint8_t* table, size_t tableSize, unsigned index,
                      DeviceRowTexts* texts) {
    DeviceRecordView record;
    if (!GetDeviceRecord(table, tableSize, index, &record)) {
        return false;
    }
    *texts = MakeDeviceRowTexts(record);
    return true;
}

std::string BuildMacWarningText(const uint8_t* table, size_t tableSize) {
    DeviceRecordView records[kMaxDeviceRecords];
    const size_t count = ListDeviceRecords(table, tableSize, records, kMaxDeviceRecords);
    std::string warning;
    for (size_t i = 0; i < count; ++i) {
        if (!HasUnprogrammedMac(records[i])) {
            continue;
        }
        char mac[kMacTextSize];
        FormatMacAddress(records[i].bytes + kRecordMacOffset, mac);
        char line[sizeof kMacWarningLineFormat + kMacTextSize];
        std::snprintf(line, sizeof line, kMacWarningLineFormat, mac);
        warning += line;
    }
    return warning;
}

bool SearchResultIsListed(int discoverResult, const uint8_t* table) {
    if (discoverResult >= 1) {
        return true;
    }
    return discoverResult == kDiscoverTableFull && DeviceTableCount(table) > 0;
}
