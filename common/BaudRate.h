#pragma once

#include <cstddef>
#include <cstdint>

// Baud-rate codes index this table; the items of the baud-rate combo box come
// in the same order, so a code is also that control's item index.
constexpr size_t kBaudRateCount = 8;
constexpr uint32_t kBaudRates[kBaudRateCount] = {300,   1200,  4800,  9600,
                                                 19200, 38400, 57600, 115200};

// The rate of a code; false for a code outside the table.
bool BaudRateForCode(uint8_t code, uint32_t* rate);
