#include "common/StrToInt.h"

#include <cstddef>

#include "common/HexDigit.h"

namespace {

constexpr char kBlank = ' ';
constexpr char kHexDollarPrefix = '$';
constexpr uint32_t kDecimalBase = 10;
constexpr uint64_t kHexLimit = 0xFFFFFFFFull;
constexpr uint64_t kPositiveLimit = 2147483647ull;  // INT32_MAX
constexpr uint64_t kNegativeLimit = 2147483648ull;  // -INT32_MIN

bool IsX(char c) {
    return c == 'x' || c == 'X';
}

// Reads the digits from `pos` to the end of `text`. At least one digit is
// needed, and the value may not exceed `limit` at any point, so leading
// zeros are harmless and no intermediate value overflows.
bool ReadDigits(const std::string& text, std::size_t pos, uint32_t base, uint64_t limit,
                uint64_t& value) {
    if (pos >= text.size()) {
        return false;
    }
    uint64_t accumulated = 0;
    for (; pos < text.size(); ++pos) {
        const int value = HexDigitValue(text[pos]);
        const uint32_t digit = value == kNotAHexDigit ? base : static_cast<uint32_t>(value);
        if (digit >= base) {
            return false;
        }
        accumulated = accumulated * base + digit;
        if (accumulated > limit) {
            return false;
        }
    }
    value = accumulated;
    return true;
}

}  // namespace

bool TryStrToInt(const std::string& text, int32_t& value) {
    std::size_t pos = 0;
    while (pos < text.size() && text[pos] == kBlank) {
        ++pos;
    }
    if (pos >= text.size()) {
        return false;
    }

    std::size_t hexStart = 0;
    if (text[pos] == kHexDollarPrefix || IsX(text[pos])) {
        hexStart = pos + 1;
    } else if (text[pos] == '0' && pos + 1 < text.size() && IsX(text[pos + 1])) {
        hexStart = pos + 2;
    }
    if (hexStart != 0) {
        uint64_t magnitude = 0;
        if (!ReadDigits(text, hexStart, kHexBase, kHexLimit, magnitude)) {
            return false;
        }
        value = static_cast<int32_t>(static_cast<uint32_t>(magnitude));
        return true;
    }

    bool negative = false;
    if (text[pos] == '+' || text[pos] == '-') {
        negative = text[pos] == '-';
        ++pos;
    }
    uint64_t magnitude = 0;
    if (!ReadDigits(text, pos, kDecimalBase, negative ? kNegativeLimit : kPositiveLimit,
                    magnitude)) {
        return false;
    }
    const int64_t signedValue =
        negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    value = static_cast<int32_t>(signedValue);
    return true;
}

int32_t StrToInt(const std::string& text) {
    int32_t value = 0;
    if (!TryStrToInt(text, value)) {
        throw EConvertError(InvalidIntegerMessage(text));
    }
    return value;
}

std::string InvalidIntegerMessage(const std::string& text) {
    // Built by concatenation: the operator's text must never act as a format.
    return "'" + text + "' is not a valid integer value";
}
