#include "discovery/SortDeviceTable.h"

#include <algorithm>
#include <cstring>

#include "discovery/DeviceRecord.h"
#include "discovery/DeviceTable.h"

namespace {

struct SortEntry {
    uint64_t key;
    unsigned position;  // place in the table before the sort
    DeviceRecordView record;
};

bool IsMacOrder(uint8_t order) {
    return order == MacAscending || order == MacDescending;
}

bool IsAscending(uint8_t order) {
    return order == MacAscending || order == IpAscending;
}

// The key bytes packed first byte highest, so that comparing the numbers
// compares the bytes in lexicographic order.
uint64_t SortKey(const DeviceRecordView& record, uint8_t order) {
    const size_t offset = IsMacOrder(order) ? kRecordMacOffset : kRecordIpOffset;
    const size_t width = IsMacOrder(order) ? kMacLength : kIpv4Length;
    uint64_t key = 0;
    for (size_t i = 0; i < width; ++i) {
        key = (key << 8) | RecordByte(record, offset + i);
    }
    return key;
}

}  // namespace

void SortDeviceTable(uint8_t order) {
    SortDeviceTable(DeviceTable, DeviceTableScratch, kDeviceTableSize, order);
}

void SortDeviceTable(uint8_t* table, uint8_t* scratch, size_t tableSize, uint8_t order,
                     unsigned* formerPositions) {
    if (order < MacAscending || order > IpDescending) {
        return;
    }
    DeviceRecordView records[kMaxDeviceRecords];
    const size_t count = ListDeviceRecords(table, tableSize, records, kMaxDeviceRecords);

    SortEntry entries[kMaxDeviceRecords];
    for (size_t i = 0; i < count; ++i) {
        entries[i] = SortEntry{SortKey(records[i], order), static_cast<unsigned>(i), records[i]};
    }
    // Equal keys come out reversed: this is the order that repeatedly taking
    // the last smallest (or last largest) record of the table gives.
    const bool ascending = IsAscending(order);
    std::sort(entries, entries + count, [ascending](const SortEntry& a, const SortEntry& b) {
        if (a.key != b.key) {
            return ascending ? a.key < b.key : a.key > b.key;
        }
        return a.position > b.position;
    });

    // The records and their length bytes take exactly the room they took
    // before, so they fit the scratch buffer in any order.
    std::memset(scratch, 0, tableSize);
    scratch[kDeviceTableCountOffset] = static_cast<uint8_t>(count);
    size_t writePosition = kDeviceTableFirstRecordOffset;
    for (size_t i = 0; i < count; ++i) {
        const DeviceRecordView& record = entries[i].record;
        scratch[writePosition] = static_cast<uint8_t>(record.length);
        std::memcpy(scratch + writePosition + kRecordLengthPrefix, record.bytes, record.length);
        writePosition += kRecordLengthPrefix + record.length;
        if (formerPositions != nullptr) {
            formerPositions[i] = entries[i].position;
        }
    }
    std::memcpy(table, scratch, tableSize);
}

bool SortOrderAfterColumnClick(uint8_t current, int columnIndex, uint8_t* next) {
    const bool ascending = IsAscending(current);
    if (columnIndex == kMacColumnIndex) {
        if (IsMacOrder(current)) {
            *next = ascending ? MacDescending : MacAscending;
        } else {
            *next = ascending ? MacAscending : MacDescending;
        }
        return true;
    }
    if (columnIndex == kIpColumnIndex) {
        if (IsMacOrder(current)) {
            *next = ascending ? IpAscending : IpDescending;
        } else {
            *next = ascending ? IpDescending : IpAscending;
        }
        return true;
    }
    return false;
}
