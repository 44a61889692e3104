#include "setup/HexPairs.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kGroupWidth = 3;  // two digits and a separator

bool IsGroupSeparator(char c) {
    return c == ' ' || c == '.' || c == '\0';
}

}  // namespace

uint8_t ParseHexPairs(const char* text, uint8_t* out) {
    // The last group's separator is at the latest the terminating zero, so
    // no group reads past the text.
    const size_t groups = std::min((std::strlen(text) + 1) / kGroupWidth, kMostHexPairs);
    for (size_t i = 0; i < groups; ++i) {
        const char* group = text + i * kGroupWidth;
        const int high = HexDigitValue(group[0]);
        const int low = HexDigitValue(group[1]);
        if (high == kNotAHexDigit || low == kNotAHexDigit || !IsGroupSeparator(group[2])) {
            out[i] = 0;
            return static_cast<uint8_t>(i);
        }
        out[i] = static_cast<uint8_t>(high * kHexBase + low);
    }
    out[groups] = 0;
    return static_cast<uint8_t>(groups);
}
