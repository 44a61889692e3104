#include "discovery/DeviceTable.h"

#include <cstring>

uint8_t DeviceTable[kDeviceTableSize];
uint8_t DeviceTableScratch[kDeviceTableSize];

unsigned DeviceTableCount(const uint8_t* table) {
    return table[kDeviceTableCountOffset];
}

namespace {

// Reads the record whose length byte is at `*position` and moves the position
// behind it; false when the record would run past the buffer.
bool ReadRecordAt(const uint8_t* table, size_t tableSize, size_t* position,
                  DeviceRecordView* record) {
    if (*position >= tableSize) {
        return false;
    }
    const size_t length = table[*position];
    const size_t start = *position + kRecordLengthPrefix;
    if (length > tableSize - start) {
        return false;
    }
    record->bytes = table + start;
    record->length = length;
    *position = start + length;
    return true;
}

}  // namespace

size_t ListDeviceRecords(const uint8_t* table, size_t tableSize, DeviceRecordView* records,
                         size_t maxRecords) {
    const size_t count = DeviceTableCount(table);
    size_t found = 0;
    size_t position = kDeviceTableFirstRecordOffset;
    while (found < count && found < maxRecords &&
           ReadRecordAt(table, tableSize, &position, &records[found])) {
        ++found;
    }
    return found;
}

bool GetDeviceRecord(const uint8_t* table, size_t tableSize, unsigned index,
                     DeviceRecordView* record) {
    if (index >= DeviceTableCount(table)) {
        return false;
    }
    size_t position = kDeviceTableFirstRecordOffset;
    for (unsigned k = 0; k <= index; ++k) {
        if (!ReadRecordAt(table, tableSize, &position, record)) {
            return false;
        }
    }
    return true;
}

bool RecordFits(size_t writePosition, size_t recordLength, size_t capacity) {
    return writePosition + recordLength + kRecordLengthPrefix + 1 <= capacity;
}

bool AppendDeviceRecord(uint8_t* table, size_t capacity, size_t* writePosition,
                        const uint8_t* record, size_t recordLength) {
    if (DeviceTableCount(table) >= kMaxDeviceRecords || recordLength > kLargestRecordLength ||
        !RecordFits(*writePosition, recordLength, capacity)) {
        return false;
    }
    table[kDeviceTableCountOffset] = static_cast<uint8_t>(DeviceTableCount(table) + 1);
    table[*writePosition] = static_cast<uint8_t>(recordLength);
    std::memcpy(table + *writePosition + kRecordLengthPrefix, record, recordLength);
    *writePosition += kRecordLengthPrefix + recordLength;
    return true;
}

size_t ResetDeviceTable(uint8_t* table) {
    table[kDeviceTableCountOffset] = 0;
    return kDeviceTableFirstRecordOffset;
}
