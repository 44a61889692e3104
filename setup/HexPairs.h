#pragma once

#include <cstddef>
#include <cstdint>

#include "common/HexDigit.h"

// Turns a zero-terminated text of two-digit hexadecimal groups, each followed
// by a blank, a dot or the end of the text ("00.1A.2B.3C.4D.5E"), into bytes.
// The text gives (length + 1) / 3 groups; `out` must hold one byte more than
// that. Converting stops at the first malformed group, and after
// kMostHexPairs groups: the count is one byte, and a 256th group would wrap
// it to 0 while 256 bytes stood converted. The byte after the last one
// converted is set to zero, and the number converted is returned.
constexpr size_t kMostHexPairs = 255;
uint8_t ParseHexPairs(const char* text, uint8_t* out);
