#include "cli/Values.h"

#include <cctype>

#include "common/AddressText.h"
#include "common/BaudRate.h"
#include "common/ByteOrder.h"
#include "discovery/TextFormats.h"
#include "setup/HexPairs.h"

namespace {

constexpr uint32_t kDecimalBase = 10;
constexpr int kIpv4Parts = 4;
constexpr size_t kLongestIpv4Part = 4;  // one digit more than 255 has, to see 0255
// 4294967295 has ten digits.
constexpr size_t kLongestNumber = 10;
constexpr size_t kMacTextLength = 17;
constexpr size_t kMacGroupWidth = 3;

template <typename Value>
std::optional<Value> Refuse(std::string* why, const std::string& expected) {
    if (why != nullptr) {
        *why = expected;
    }
    return std::nullopt;
}

}  // namespace

std::optional<Mac> ReadMac(const std::string& text, std::string* why) {
    const std::string expected =
        "not a MAC address (six hexadecimal pairs such as 00.1A.2B.3C.4D.5E)";
    if (text.size() != kMacTextLength) {
        return Refuse<Mac>(why, expected);
    }
    const char separator = text[2];
    if (separator != '.' && separator != ':' && separator != '-') {
        return Refuse<Mac>(why, expected);
    }
    Mac mac{};
    for (size_t i = 0; i < mac.size(); ++i) {
        const size_t at = i * kMacGroupWidth;
        const int high = HexDigitValue(text[at]);
        const int low = HexDigitValue(text[at + 1]);
        if (high < 0 || low < 0 || (i + 1 < mac.size() && text[at + 2] != separator)) {
            return Refuse<Mac>(why, expected);
        }
        mac[i] = static_cast<uint8_t>(high * kHexBase + low);
    }
    return mac;
}

std::optional<uint32_t> ReadDottedAddress(const std::string& text, std::string* why) {
    const std::string expected = "not a dotted IPv4 address (four numbers 0-255)";
    uint32_t address = 0;
    size_t at = 0;
    for (int part = 0; part < kIpv4Parts; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.') {
                return Refuse<uint32_t>(why, expected);
            }
            ++at;
        }
        const size_t start = at;
        uint32_t number = 0;
        while (at < text.size() && at - start < kLongestIpv4Part &&
               std::isdigit(static_cast<unsigned char>(text[at]))) {
            number = number * kDecimalBase + static_cast<uint32_t>(text[at++] - '0');
        }
        if (at == start || number > kLargestByte) {
            return Refuse<uint32_t>(why, expected);
        }
        // Others read 010 as octal 8: refused rather than read either way.
        if (text[start] == '0' && at - start > 1) {
            return Refuse<uint32_t>(why, "not a dotted IPv4 address (a number starts with 0)");
        }
        address = (address << kByteBits) | number;
    }
    if (at != text.size()) {
        return Refuse<uint32_t>(why, expected);
    }
    return address;
}

std::optional<uint32_t> ReadAddress(const std::string& text, std::string* why) {
    const std::optional<uint32_t> address = ReadDottedAddress(text, why);
    if (address == kAllOnesAddress) {
        return Refuse<uint32_t>(why, "the broadcast address, no device's");
    }
    return address;
}

std::optional<uint32_t> ReadNumber(const std::string& text, uint32_t lowest, uint32_t highest,
                                   std::string* why) {
    const std::string expected =
        "not a number from " + std::to_string(lowest) + " to " + std::to_string(highest);
    if (text.empty() || text.size() > kLongestNumber) {
        return Refuse<uint32_t>(why, expected);
    }
    uint64_t value = 0;
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return Refuse<uint32_t>(why, expected);
        }
        value = value * kDecimalBase + static_cast<uint64_t>(c - '0');
    }
    if (value < lowest || value > highest) {
        return Refuse<uint32_t>(why, expected);
    }
    return static_cast<uint32_t>(value);
}

std::optional<uint16_t> ReadPort(const std::string& text, std::string* why) {
    const std::optional<uint32_t> port = ReadNumber(text, kLowestPort, kLargestPort);
    if (!port) {
        return Refuse<uint16_t>(why, "not a port number (1 to 65535)");
    }
    return static_cast<uint16_t>(*port);
}

std::optional<uint8_t> ReadId(const std::string& text, std::string* why) {
    const std::optional<uint32_t> id = ReadNumber(text, 0, kLargestId);
    if (!id) {
        return Refuse<uint8_t>(why, "not an ID (a number from 0 to 255)");
    }
    return static_cast<uint8_t>(*id);
}

std::optional<uint8_t> ReadBaudRate(const std::string& text, std::string* why) {
    const std::optional<uint32_t> rate = ReadNumber(text, 0, UINT32_MAX);
    for (size_t code = 0; rate && code < kBaudRateCount; ++code) {
        if (kBaudRates[code] == *rate) {
            return static_cast<uint8_t>(code);
        }
    }
    return Refuse<uint8_t>(why,
                           "not a baud rate the devices have (300, 1200, 4800, 9600, 19200, "
                           "38400, 57600 or 115200)");
}

std::optional<std::string> ReadHexBytes(const std::string& text, std::string* why) {
    std::string bytes;
    int high = -1;
    for (const char c : text) {
        if (c == ' ' && high < 0) {
            continue;
        }
        const int value = HexDigitValue(c);
        if (value < 0) {
            return Refuse<std::string>(why, "not bytes in hexadecimal pairs such as 05 or 0A0B");
        }
        if (high < 0) {
            high = value;
        } else {
            bytes += static_cast<char>(high * kHexBase + value);
            high = -1;
        }
    }
    if (high >= 0) {
        return Refuse<std::string>(why, "an odd number of hexadecimal digits");
    }
    return bytes;
}

std::optional<std::pair<uint16_t, uint16_t>> ReadHidIds(const std::string& text, std::string* why) {
    const std::string expected = "not a HID device's VVVV:PPPP (vendor and product in hex)";
    const size_t colon = text.find(':');
    if (colon == 0 || colon == std::string::npos || colon > 4 || text.size() - colon - 1 > 4 ||
        text.size() == colon + 1) {
        return Refuse<std::pair<uint16_t, uint16_t>>(why, expected);
    }
    uint32_t parts[2] = {0, 0};
    for (size_t i = 0; i < text.size(); ++i) {
        if (i == colon) {
            continue;
        }
        const int value = HexDigitValue(text[i]);
        if (value < 0) {
            return Refuse<std::pair<uint16_t, uint16_t>>(why, expected);
        }
        uint32_t& part = parts[i < colon ? 0 : 1];
        part = part * kHexBase + static_cast<uint32_t>(value);
    }
    return std::make_pair(static_cast<uint16_t>(parts[0]), static_cast<uint16_t>(parts[1]));
}

std::string MacText(const Mac& mac) {
    char text[kMacTextSize];
    FormatMacAddress(mac.data(), text);
    return text;
}

std::string DottedText(uint32_t hostOrder) {
    uint8_t octets[sizeof hostOrder];
    WriteBigEndian32(octets, hostOrder);
    char text[kIpTextSize];
    FormatIpAddress(octets, text);
    return text;
}

std::string HexText(const uint8_t* bytes, size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) {
            text += ' ';
        }
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}
