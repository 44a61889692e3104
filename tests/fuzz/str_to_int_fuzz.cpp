// StrToInt on any text, against a second reading of the grammar it accepts:
// leading blanks; then decimal digits behind an optional sign, inside the
// signed 32-bit range; or hexadecimal digits behind "$", "x" or "0x" (x in
// either case) that fit in 32 bits, taken as their two's complement; and
// nothing after the digits. A refused text raises the conversion error with
// its exact message, an accepted one gives the value.
//
// Input: the text, every byte of it (zero bytes included).
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/StrToInt.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

FUZZ_MODEL bool AllDigits(const std::string& digits, int base) {
    if (digits.empty()) {
        return false;
    }
    for (char c : digits) {
        const bool decimal = c >= '0' && c <= '9';
        const bool hex = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!decimal && !(base == 16 && hex)) {
            return false;
        }
    }
    return true;
}

// from_chars reads digits only (no blanks, signs or prefixes are left by
// then) and reports a value too large for 64 bits.
FUZZ_MODEL bool ModelMagnitude(const std::string& digits, int base, uint64_t limit,
                               uint64_t* value) {
    if (!AllDigits(digits, base)) {
        return false;
    }
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), *value, base);
    return error == std::errc() && end == digits.data() + digits.size() && *value <= limit;
}

FUZZ_MODEL bool ModelStrToInt(const std::string& text, int32_t* value) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return false;
    }
    const std::string rest = text.substr(first);
    uint64_t magnitude = 0;
    std::string hexDigits;
    bool hex = false;
    if (rest[0] == '$' || rest[0] == 'x' || rest[0] == 'X') {
        hex = true;
        hexDigits = rest.substr(1);
    } else if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
        hex = true;
        hexDigits = rest.substr(2);
    }
    if (hex) {
        if (!ModelMagnitude(hexDigits, 16, UINT32_MAX, &magnitude)) {
            return false;
        }
        *value = static_cast<int32_t>(static_cast<uint32_t>(magnitude));
        return true;
    }
    const bool negative = rest[0] == '-';
    const std::string digits = (rest[0] == '-' || rest[0] == '+') ? rest.substr(1) : rest;
    const uint64_t limit = negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
    if (!ModelMagnitude(digits, 10, limit, &magnitude)) {
        return false;
    }
    *value = static_cast<int32_t>(negative ? -static_cast<int64_t>(magnitude)
                                           : static_cast<int64_t>(magnitude));
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    int32_t expected = 0;
    const bool valid = ModelStrToInt(text, &expected);

    int32_t value = 12345;
    FUZZ_CHECK(TryStrToInt(text, value) == valid);
    FUZZ_CHECK(value == (valid ? expected : 12345));

    try {
        const int32_t converted = StrToInt(text);
        FUZZ_CHECK(valid && converted == expected);
    } catch (const EConvertError& error) {
        FUZZ_CHECK(!valid);
        // what() is a C string: a zero byte the operator typed ends it.
        const std::string message = "'" + text + "' is not a valid integer value";
        FUZZ_CHECK(std::strcmp(error.what(), message.c_str()) == 0);
    }

    // Every value the conversion gives is read back from its decimal text.
    if (valid) {
        int32_t again = 0;
        FUZZ_CHECK(TryStrToInt(std::to_string(expected), again) && again == expected);
    }
    return 0;
}
