// ParseHexPairs on any text: it reads nothing past the text's terminating
// zero, writes nothing past the room its caller must give (one byte more
// than the text has groups), and converts exactly what a second, plain
// reading of the group rules converts.
//
// Input: the text (up to its first zero byte, if any).
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "setup/HexPairs.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

constexpr uint8_t kUntouched = 0xCD;
// The count is one byte: a text never gives more than this many bytes.
constexpr size_t kMostBytes = 255;

FUZZ_MODEL int DigitValue(char c) {
    const char* digits = "0123456789abcdef";
    const char lower = (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
    const char* found = c == '\0' ? nullptr : std::strchr(digits, lower);
    return found == nullptr ? -1 : static_cast<int>(found - digits);
}

// The bytes that the group rules give for `text`: two digits, then a blank,
// a dot or the end of the text, as long as there is room for the separator.
FUZZ_MODEL std::vector<uint8_t> ModelBytes(const std::string& text) {
    std::vector<uint8_t> bytes;
    for (size_t at = 0; at + 2 <= text.size() && bytes.size() < kMostBytes; at += 3) {
        const int high = DigitValue(text[at]);
        const int low = DigitValue(text[at + 1]);
        const char separator = at + 2 < text.size() ? text[at + 2] : '\0';
        if (high < 0 || low < 0 || (separator != ' ' && separator != '.' && separator != '\0')) {
            break;
        }
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const void* zero = size == 0 ? nullptr : std::memchr(data, 0, size);
    const size_t length =
        zero == nullptr ? size : static_cast<size_t>(static_cast<const uint8_t*>(zero) - data);
    const std::string text(reinterpret_cast<const char*>(data), length);

    // The text and the output room exactly as large as they must be, so a
    // read or a write past either is caught.
    std::unique_ptr<char[]> terminated(new char[length + 1]);
    std::memcpy(terminated.get(), text.c_str(), length + 1);
    const size_t groups = (length + 1) / 3;
    std::unique_ptr<uint8_t[]> out(new uint8_t[groups + 1]);
    std::memset(out.get(), kUntouched, groups + 1);

    const uint8_t count = ParseHexPairs(terminated.get(), out.get());

    const std::vector<uint8_t> expected = ModelBytes(text);
    FUZZ_CHECK(count == expected.size());
    FUZZ_CHECK(count <= groups);
    FUZZ_CHECK(std::equal(expected.begin(), expected.end(), out.get()));
    // The byte after the last one converted is zero, and nothing beyond it
    // is touched.
    FUZZ_CHECK(out[count] == 0);
    for (size_t i = count + 1; i <= groups; ++i) {
        FUZZ_CHECK(out[i] == kUntouched);
    }
    return 0;
}
