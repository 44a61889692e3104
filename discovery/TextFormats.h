#pragma once

#include <cstddef>
#include <cstdint>

#include "discovery/DeviceRecord.h"

// "00.1A.2B.3C.4D.5E": 17 characters and the terminating zero.
constexpr size_t kMacTextSize = 3 * kMacLength;
// "255.255.255.255" and the terminating zero.
constexpr size_t kIpTextSize = 16;

// The MAC text of six bytes: upper-case hexadecimal pairs joined by dots.
void FormatMacAddress(const uint8_t* bytes, char (&text)[kMacTextSize]);

// The dotted decimal text of four octets, first octet first.
void FormatIpAddress(const uint8_t* bytes, char (&text)[kIpTextSize]);
