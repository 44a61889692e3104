#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "discovery/DeviceRecord.h"

// What the device list shows: one row per record, its caption the MAC text and
// six sub-items in column order.
enum DeviceListSubItem : size_t {
    kSubItemIp = 0,
    kSubItemSubmask = 1,
    kSubItemGateway = 2,
    kSubItemPort = 3,
    kSubItemBaudRate = 4,
    kSubItemVersion = 5,
    kSubItemCount = 6,
};

struct DeviceRowTexts {
    std::string caption;
    std::array<std::string, kSubItemCount> subItems;
};

// The row texts of one record. A field the record does not hold entirely, and
// a baud-rate code outside the baud-rate table, give an empty text.
DeviceRowTexts MakeDeviceRowTexts(const DeviceRecordView& record);

// The row texts of record `index` of a table; false when there is no such
// record.
bool DeviceRowTextsAt(const uint8_t* table, size_t tableSize, unsigned index,
                      DeviceRowTexts* texts);

// One "MAC ID:<MAC text>\n" line per record whose MAC ends in FF.FF.FF, in
// table order; empty when no record calls for the warning.
std::string BuildMacWarningText(const uint8_t* table, size_t tableSize);

// Whether a search's outcome is listed: any stored record is, also when the
// table ran full before the replies ended.
bool SearchResultIsListed(int discoverResult, const uint8_t* table);
