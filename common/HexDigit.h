#pragma once

#include <cstdint>

// Value 0 to 15 of a hexadecimal digit ("0"-"9", "A"-"F", "a"-"f"), or
// kNotAHexDigit for any other character: for the integer conversion, the
// MAC text and the command line's hex values alike.
constexpr int kNotAHexDigit = -1;
constexpr uint32_t kHexBase = 16;

constexpr int HexDigitValue(char c) {
    constexpr int kDecimalDigits = 10;
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + kDecimalDigits;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + kDecimalDigits;
    }
    return kNotAHexDigit;
}
