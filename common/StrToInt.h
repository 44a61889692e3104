#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// The error raised when a text is not an integer. Its message is the one the
// operator sees in the standard error box: "'<text>' is not a valid integer
// value".
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads a 32-bit integer the way the operator may type one into a field:
// leading blanks, then decimal digits with an optional "+" or "-", or
// hexadecimal digits behind "$", "x" or "0x" (x in either case). Nothing may
// follow the digits. A decimal value must lie in the signed 32-bit range; a
// hexadecimal one must fit in 32 bits and is taken as its two's complement
// ("$FFFFFFFF" is -1). Returns false, leaving `value` untouched, for any other
// text.
bool TryStrToInt(const std::string& text, int32_t& value);

// As TryStrToInt, but refuses with EConvertError.
int32_t StrToInt(const std::string& text);

// The message of the error that StrToInt raises for `text`.
std::string InvalidIntegerMessage(const std::string& text);
