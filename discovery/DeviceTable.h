#pragma once

#include <cstddef>
#include <cstdint>

#include "discovery/DeviceRecord.h"

// The DeviceTable: one byte of record count, then the records back to back,
// each behind one byte holding its length. Bytes behind the last record mean
// nothing.
constexpr size_t kDeviceTableSize = 8192;
constexpr size_t kDeviceTableCountOffset = 0;
constexpr size_t kDeviceTableFirstRecordOffset = 1;
constexpr size_t kRecordLengthPrefix = 1;
// The count is one byte: a 256th record would wrap it to 0.
constexpr unsigned kMaxDeviceRecords = 255;

// The table of the whole run, refilled by each search and rewritten in place
// by each sort, and the sort's scratch space, which holds nothing between
// sorts.
extern uint8_t DeviceTable[kDeviceTableSize];
extern uint8_t DeviceTableScratch[kDeviceTableSize];

unsigned DeviceTableCount(const uint8_t* table);

// Fills `records` with the table's records in table order, as views into the
// table, and returns how many there are. A record that would run past
// `tableSize` ends the walk, so a damaged length byte is never followed out
// of the buffer.
size_t ListDeviceRecords(const uint8_t* table, size_t tableSize, DeviceRecordView* records,
                         size_t maxRecords);

// Record `index` (from 0); false when the table holds no such record.
bool GetDeviceRecord(const uint8_t* table, size_t tableSize, unsigned index,
                     DeviceRecordView* record);

// The capacity rule: after appending a record of `recordLength` bytes at
// `writePosition`, at least one byte of a `capacity`-byte buffer stays free.
bool RecordFits(size_t writePosition, size_t recordLength, size_t capacity);

// Appends one record at `*writePosition` under the capacity rule and the
// one-byte count, advancing the position and the count. False, with the table
// untouched, when the table is full.
bool AppendDeviceRecord(uint8_t* table, size_t capacity, size_t* writePosition,
                        const uint8_t* record, size_t recordLength);

// Empties the table and returns the write position of its first record.
size_t ResetDeviceTable(uint8_t* table);
