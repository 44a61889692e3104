#pragma once

#include <cstddef>
#include <cstdint>

// Values of the window's one-byte `SortOrder`.
enum SortOrderValue : uint8_t {
    MacAscending = 1,
    MacDescending = 2,
    IpAscending = 3,
    IpDescending = 4,
};
constexpr uint8_t kInitialSortOrder = MacAscending;

// Reorders the records of the DeviceTable by `order`: ascending or descending
// by the MAC bytes or the IP bytes compared as unsigned numbers, records with
// equal keys in the reverse of their order before the sort. A key byte that a
// short record does not hold counts as 0. Any other order value leaves the
// table as it is.
void SortDeviceTable(uint8_t order);

// The same on any table of `tableSize` bytes, with a scratch buffer of the
// same size. When `formerPositions` is not null (room for kMaxDeviceRecords),
// it receives, for each record in its new place, the place it had before, so
// that what a caller keeps beside the records can follow them.
void SortDeviceTable(uint8_t* table, uint8_t* scratch, size_t tableSize, uint8_t order,
                     unsigned* formerPositions = nullptr);

// Header columns that re-sort the list.
constexpr int kMacColumnIndex = 0;
constexpr int kIpColumnIndex = 1;

// The sort order after a click on header `columnIndex`: a click on the column
// of the current key reverses the direction, a click on the other key column
// changes the key and keeps the direction. False for any other column, which
// changes nothing.
bool SortOrderAfterColumnClick(uint8_t current, int columnIndex, uint8_t* next);
