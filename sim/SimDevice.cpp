#include "sim/SimDevice.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <utility>

namespace {

bool ParseNumber(const std::string& text, long minimum, long maximum, long* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < minimum || parsed > maximum) {
        return false;
    }
    *value = parsed;
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Hex digits, optionally split into pairs by '.', ':' or '-'.
bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* bytes) {
    std::string digits;
    for (char c : text) {
        if (c == '.' || c == ':' || c == '-') {
            continue;
        }
        if (HexValue(c) < 0) {
            return false;
        }
        digits += c;
    }
    if (digits.size() % 2 != 0) {
        return false;
    }
    bytes->clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        bytes->push_back(static_cast<uint8_t>(HexValue(digits[i]) * 16 + HexValue(digits[i + 1])));
    }
    return true;
}

bool ParseMac(const std::string& text, std::array<uint8_t, 6>* mac) {
    std::vector<uint8_t> bytes;
    if (!ParseHexBytes(text, &bytes) || bytes.size() != mac->size()) {
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), mac->begin());
    return true;
}

// "1.05" is major 1, minor 5; "1.123" is major 1, minor 123.
bool ParseVersion(const std::string& text, SimDevice* device) {
    const size_t dot = text.find('.');
    long major = 0;
    long minor = 0;
    if (dot == std::string::npos || !ParseNumber(text.substr(0, dot), 0, 255, &major) ||
        !ParseNumber(text.substr(dot + 1), 0, 255, &minor)) {
        return false;
    }
    device->versionMajor = static_cast<uint8_t>(major);
    device->versionMinor = static_cast<uint8_t>(minor);
    return true;
}

struct DeviceKey {
    const char* name;
    const char* help;
    std::function<bool(const std::string&, SimDevice*)> apply;
};

bool SetByte(const std::string& text, uint8_t* target) {
    long value = 0;
    if (!ParseNumber(text, 0, 255, &value)) {
        return false;
    }
    *target = static_cast<uint8_t>(value);
    return true;
}

bool SetInt(const std::string& text, long minimum, long maximum, int* target) {
    long value = 0;
    if (!ParseNumber(text, minimum, maximum, &value)) {
        return false;
    }
    *target = static_cast<int>(value);
    return true;
}

constexpr long kLargestDelayMs = 600000;
// A commissioning line may run all day.
constexpr long kLargestPresenceMs = 86400000;
constexpr size_t kIdentifierLength = 7;

// "confirm", "none", or kinds joined by '+': "other-mac+confirm".
bool ParseSetupReplies(const std::string& text, std::vector<SimSetupReply>* replies) {
    static const std::pair<const char*, SimSetupReply> kKinds[] = {
        {"confirm", SimSetupReply::Confirm},
        {"short", SimSetupReply::Short},
        {"other-mac", SimSetupReply::OtherMac},
        {"discovery", SimSetupReply::Discovery},
        {"request-ident", SimSetupReply::RequestIdent},
        {"oversized", SimSetupReply::Oversized},
    };
    std::vector<SimSetupReply> parsed;
    if (text != "none") {
        std::stringstream parts(text);
        std::string part;
        while (std::getline(parts, part, '+')) {
            bool known = false;
            for (const auto& kind : kKinds) {
                if (part == kind.first) {
                    parsed.push_back(kind.second);
                    known = true;
                }
            }
            if (!known) {
                return false;
            }
        }
        if (parsed.empty() || text.back() == '+') {
            return false;
        }
    }
    *replies = parsed;
    return true;
}
constexpr long kMostCopies = 100;
constexpr long kNaturalReplyLength = 31;
// A reply frame's data, and anything sent ahead of a request, stay within
// what one reply can carry.
constexpr size_t kMostTcpBytes = 12000;
constexpr long kMostNoiseBytes = 100000;
constexpr long kLongestTrickleGapMs = 60000;
constexpr long kLargestAddress = 4294967295L;
constexpr long kLargestLongCount = 65535;
constexpr long kSlowestLineRate = 50;
constexpr long kFastestLineRate = 4000000;

bool SetFlag(const std::string& text, bool* target) {
    int flag = 0;
    if (!SetInt(text, 0, 1, &flag)) {
        return false;
    }
    *target = flag != 0;
    return true;
}

bool ParseTcpReply(const std::string& text, SimTcpReply* reply) {
    static const std::pair<const char*, SimTcpReply> kKinds[] = {
        {"answer", SimTcpReply::Answer},
        {"none", SimTcpReply::None},
        {"close", SimTcpReply::Close},
        {"trickle", SimTcpReply::Trickle},
        {"trickle-frame", SimTcpReply::TrickleFrame},
    };
    for (const auto& kind : kKinds) {
        if (text == kind.first) {
            *reply = kind.second;
            return true;
        }
    }
    return false;
}

bool ParseTcpFlood(const std::string& text, SimTcpFlood* flood) {
    static const std::pair<const char*, SimTcpFlood> kKinds[] = {
        {"accept", SimTcpFlood::Accept},
        {"request", SimTcpFlood::Request},
    };
    for (const auto& kind : kKinds) {
        if (text == kind.first) {
            *flood = kind.second;
            return true;
        }
    }
    return false;
}

bool SetTcpBytes(const std::string& text, std::vector<uint8_t>* target) {
    std::vector<uint8_t> bytes;
    if (!ParseHexBytes(text, &bytes) || bytes.empty() || bytes.size() > kMostTcpBytes) {
        return false;
    }
    *target = bytes;
    return true;
}

const std::vector<DeviceKey>& DeviceKeys() {
    static const std::vector<DeviceKey> keys = {
        {"mac", "MAC address, six hex pairs (00.1A.2B.3C.4D.5E or 00:1a:...)",
         [](const std::string& v, SimDevice* d) { return ParseMac(v, &d->mac); }},
        {"version", "firmware version MAJOR.MINOR, e.g. 1.05 (minor 5) or 1.123",
         [](const std::string& v, SimDevice* d) { return ParseVersion(v, d); }},
        {"ip", "IP address, dotted",
         [](const std::string& v, SimDevice* d) { return ParseDottedAddress(v, &d->ip); }},
        {"mask", "subnet mask, dotted",
         [](const std::string& v, SimDevice* d) { return ParseDottedAddress(v, &d->mask); }},
        {"gateway", "gateway, dotted",
         [](const std::string& v, SimDevice* d) { return ParseDottedAddress(v, &d->gateway); }},
        {"port", "service port, 0..65535",
         [](const std::string& v, SimDevice* d) {
             long value = 0;
             if (!ParseNumber(v, 0, 65535, &value)) {
                 return false;
             }
             d->servicePort = static_cast<uint16_t>(value);
             return true;
         }},
        {"baud", "baud-rate code 0..255 (0 = 300 ... 7 = 115200; above 7 is out of the table)",
         [](const std::string& v, SimDevice* d) { return SetByte(v, &d->baudCode); }},
        {"extra", "further reply bytes behind the baud code, as hex (e.g. 0102ff)",
         [](const std::string& v, SimDevice* d) {
             return ParseHexBytes(v, &d->extra) &&
                    static_cast<long>(d->extra.size()) <= kSimLargestDatagram - kNaturalReplyLength;
         }},
        {"silent", "1: never answer a discovery request",
         [](const std::string& v, SimDevice* d) {
             int flag = 0;
             if (!SetInt(v, 0, 1, &flag)) {
                 return false;
             }
             d->discovery.silent = flag != 0;
             return true;
         }},
        {"delay", "answer discovery this many ms after the request",
         [](const std::string& v, SimDevice* d) {
             return SetInt(v, 0, kLargestDelayMs, &d->discovery.delayMs);
         }},
        {"copies", "send the discovery reply this many times (duplicates)",
         [](const std::string& v, SimDevice* d) {
             return SetInt(v, 1, kMostCopies, &d->discovery.copies);
         }},
        {"length", "cut or zero-pad the discovery reply to 1..300 bytes (31 holds every field)",
         [](const std::string& v, SimDevice* d) {
             return SetInt(v, 1, kSimLargestDatagram, &d->discovery.replyLength);
         }},
        {"ident", "the 7 characters that open the discovery reply (normally KVM47JR)",
         [](const std::string& v, SimDevice* d) {
             if (v.size() != kIdentifierLength) {
                 return false;
             }
             d->discovery.identifier = v;
             return true;
         }},
        {"code", "command code byte of the discovery reply (normally 1)",
         [](const std::string& v, SimDevice* d) { return SetByte(v, &d->discovery.commandCode); }},
        {"setup-reply",
         "answers to a setup naming this device, kinds joined by + (see Setup below)",
         [](const std::string& v, SimDevice* d) {
             return ParseSetupReplies(v, &d->setup.replies);
         }},
        {"setup-code", "command code of the setup confirmation (normally 2; 3 also confirms)",
         [](const std::string& v, SimDevice* d) { return SetByte(v, &d->setup.confirmCode); }},
        {"setup-length", "cut or zero-pad the setup confirmation to 1..300 bytes",
         [](const std::string& v, SimDevice* d) {
             return SetInt(v, 1, kSimLargestDatagram, &d->setup.confirmLength);
         }},
        {"setup-delay", "send the first setup answer this many ms after the setup",
         [](const std::string& v, SimDevice* d) {
             return SetInt(v, 0, kLargestDelayMs, &d->setup.delayMs);
         }},
        {"setup-keep", "1: confirm a setup but keep the present settings",
         [](const std::string& v, SimDevice* d) { return SetFlag(v, &d->setup.keep); }},
        {"setup-drop", "lose the first N setup datagrams that name this device (default 0)",
         [](const std::string& v, SimDevice* d) {
             return SetInt(v, 0, kMostCopies, &d->setup.dropFirst);
         }},
        {"setup-gap", "ms between the setup answers of setup-reply (default 100)",
         [](const std::string& v, SimDevice* d) {
             return SetInt(v, 0, kLargestDelayMs, &d->setup.gapMs);
         }},
        {"setup-noise", "after a setup, send its sender a non-matching datagram every MS ms",
         [](const std::string& v, SimDevice* d) {
             return SetInt(v, 1, kLargestDelayMs, &d->setup.noiseIntervalMs);
         }},
        {"setup-noise-for", "stop that stream after MS ms (default: never)",
         [](const std::string& v, SimDevice* d) {
             return SetInt(v, 0, kLargestDelayMs, &d->setup.noiseForMs);
         }},
        {"appear", "plugged in MS ms after the simulator starts: off the network until then",
         [](const std::string& v, SimDevice* d) {
             return SetInt(v, 0, kLargestPresenceMs, &d->appearMs);
         }},
        {"vanish", "unplugged MS ms after the simulator starts: off the network from then on",
         [](const std::string& v, SimDevice* d) {
             return SetInt(v, 0, kLargestPresenceMs, &d->vanishMs);
         }},
        {"restart", "restart after a setup: off the network for MS ms (0: never; see Setup below)",
         [](const std::string& v, SimDevice* d) {
             return SetInt(v, 0, kLargestDelayMs, &d->setup.restartMs);
         }},
        {"id", "the stored ID, 0..255, until a Set ID request changes it (default 0)",
         [](const std::string& v, SimDevice* d) { return SetByte(v, &d->id); }},
        {"tcp-reply",
         "what follows a request: answer, none, close, trickle or trickle-frame (see TCP below)",
         [](const std::string& v, SimDevice* d) { return ParseTcpReply(v, &d->tcp.reply); }},
        {"tcp-delay", "answer (or close, or start the trickle) this many ms after a request",
         [](const std::string& v, SimDevice* d) {
             return SetInt(v, 0, kLargestDelayMs, &d->tcp.delayMs);
         }},
        {"tcp-noise", "send this many bytes that are no start marker before the reply",
         [](const std::string& v, SimDevice* d) {
             return SetInt(v, 0, kMostNoiseBytes, &d->tcp.noiseBytes);
         }},
        {"tcp-address", "reply address 0..4294967295 instead of the request's",
         [](const std::string& v, SimDevice* d) {
             long value = 0;
             if (!ParseNumber(v, 0, kLargestAddress, &value)) {
                 return false;
             }
             d->tcp.forceAddress = true;
             d->tcp.address = static_cast<uint32_t>(value);
             return true;
         }},
        {"tcp-sequence", "add this to the request's sequence number in the reply (0..255)",
         [](const std::string& v, SimDevice* d) { return SetByte(v, &d->tcp.sequenceShift); }},
        {"tcp-bad-check", "1: invert the reply's count check byte",
         [](const std::string& v, SimDevice* d) { return SetFlag(v, &d->tcp.badCountCheck); }},
        {"tcp-long", "1: use the long count form even for a count up to 255",
         [](const std::string& v, SimDevice* d) { return SetFlag(v, &d->tcp.longForm); }},
        {"tcp-count", "announce this count 0..65535 in the long form, whatever data follows",
         [](const std::string& v, SimDevice* d) {
             long value = 0;
             if (!ParseNumber(v, 0, kLargestLongCount, &value)) {
                 return false;
             }
             d->tcp.forceCount = true;
             d->tcp.count = static_cast<uint32_t>(value);
             return true;
         }},
        {"tcp-bad-crc", "1: invert the low byte of the reply's CRC",
         [](const std::string& v, SimDevice* d) { return SetFlag(v, &d->tcp.badCrc); }},
        {"tcp-end", "the byte after the reply's CRC, 0..255 (normally 3, the end marker)",
         [](const std::string& v, SimDevice* d) { return SetByte(v, &d->tcp.endMarker); }},
        {"tcp-result", "the reply's result byte 0..255 (0 and 128 mean success)",
         [](const std::string& v, SimDevice* d) { return SetByte(v, &d->tcp.result); }},
        {"tcp-data", "reply data as hex (1 to 12000 bytes) instead of the stored ID",
         [](const std::string& v, SimDevice* d) {
             d->tcp.forceData = true;
             return SetTcpBytes(v, &d->tcp.data);
         }},
        {"tcp-before", "bytes as hex sent as soon as a connection is accepted, before any request",
         [](const std::string& v, SimDevice* d) { return SetTcpBytes(v, &d->tcp.before); }},
        {"tcp-trickle", "trickle one byte every MS ms (tcp-reply=trickle unless trickle-frame; 50)",
         [](const std::string& v, SimDevice* d) {
             if (d->tcp.reply != SimTcpReply::TrickleFrame) {
                 d->tcp.reply = SimTcpReply::Trickle;
             }
             return SetInt(v, 1, kLongestTrickleGapMs, &d->tcp.trickleMs);
         }},
        {"tcp-size", "reply with N data bytes, 1..12000: the stored ID, then 1, 2, 3, ...",
         [](const std::string& v, SimDevice* d) {
             long value = 0;
             if (!ParseNumber(v, 1, static_cast<long>(kMostTcpBytes), &value)) {
                 return false;
             }
             d->tcp.size = static_cast<uint32_t>(value);
             return true;
         }},
        {"tcp-baud", "send replies at the pace of a serial line of 50..4000000 bit/s",
         [](const std::string& v, SimDevice* d) {
             long value = 0;
             if (!ParseNumber(v, kSlowestLineRate, kFastestLineRate, &value)) {
                 return false;
             }
             d->tcp.lineRate = static_cast<uint32_t>(value);
             return true;
         }},
        {"tcp-flood", "accept or request: from then on, stream zeros as fast as the tool reads",
         [](const std::string& v, SimDevice* d) { return ParseTcpFlood(v, &d->tcp.flood); }},
        {"tcp-flood-for", "end the flood after MS ms (default: when the connection closes)",
         [](const std::string& v, SimDevice* d) {
             return SetInt(v, 0, kLargestDelayMs, &d->tcp.floodForMs);
         }},
    };
    return keys;
}

}  // namespace

bool ParseDottedAddress(const std::string& text, std::array<uint8_t, 4>* address) {
    std::array<uint8_t, 4> parsed{};
    std::stringstream parts(text);
    std::string part;
    size_t count = 0;
    while (std::getline(parts, part, '.')) {
        long value = 0;
        if (count >= parsed.size() || !ParseNumber(part, 0, 255, &value)) {
            return false;
        }
        parsed[count++] = static_cast<uint8_t>(value);
    }
    if (count != parsed.size() || text.empty() || text.back() == '.') {
        return false;
    }
    *address = parsed;
    return true;
}

SimDevice DefaultSimDevice(unsigned ordinal, const std::array<uint8_t, 4>& ipBase) {
    SimDevice device;
    device.mac = {0x02,
                  0x56,
                  0x51,
                  0x00,
                  static_cast<uint8_t>(ordinal >> 8),
                  static_cast<uint8_t>(ordinal & 0xFF)};
    uint32_t base = 0;
    for (uint8_t octet : ipBase) {
        base = (base << 8) | octet;
    }
    const uint32_t address = base + ordinal;
    for (size_t i = 0; i < device.ip.size(); ++i) {
        device.ip[i] = static_cast<uint8_t>(address >> (8 * (device.ip.size() - 1 - i)));
    }
    device.gateway = {device.ip[0], device.ip[1], device.ip[2], 1};
    return device;
}

bool ApplyDeviceSettings(const std::string& settings, SimDevice* device, std::string* error) {
    std::string normalised = settings;
    for (char& c : normalised) {
        if (c == ',' || c == '\t') {
            c = ' ';
        }
    }
    std::stringstream items(normalised);
    std::string item;
    while (items >> item) {
        const size_t equals = item.find('=');
        if (equals == std::string::npos) {
            *error = "\"" + item + "\" is not key=value";
            return false;
        }
        const std::string key = item.substr(0, equals);
        const std::string value = item.substr(equals + 1);
        bool known = false;
        for (const DeviceKey& candidate : DeviceKeys()) {
            if (key != candidate.name) {
                continue;
            }
            known = true;
            if (!candidate.apply(value, device)) {
                *error = "bad value \"" + value + "\" for " + key + " (" + candidate.help + ")";
                return false;
            }
        }
        if (!known) {
            *error = "unknown device key \"" + key + "\"";
            return false;
        }
    }
    return true;
}

bool LoadDeviceFile(const std::string& path, unsigned firstOrdinal,
                    const std::array<uint8_t, 4>& ipBase, std::vector<SimDevice>* devices,
                    std::string* error) {
    std::ifstream file(path);
    if (!file) {
        *error = "cannot read device file " + path;
        return false;
    }
    std::string line;
    unsigned lineNumber = 0;
    unsigned ordinal = firstOrdinal;
    while (std::getline(file, line)) {
        ++lineNumber;
        const size_t start = line.find_first_not_of(" \t\r");
        if (start == std::string::npos || line[start] == '#') {
            continue;
        }
        SimDevice device = DefaultSimDevice(ordinal++, ipBase);
        std::string why;
        if (!ApplyDeviceSettings(line, &device, &why)) {
            *error = path + ":" + std::to_string(lineNumber) + ": " + why;
            return false;
        }
        devices->push_back(device);
    }
    return true;
}

std::string DeviceSettingsHelp() {
    size_t width = 0;
    for (const DeviceKey& key : DeviceKeys()) {
        width = std::max(width, std::strlen(key.name));
    }
    // Two blanks before, '=' and at least one blank behind each name.
    width += 4;
    std::string help;
    for (const DeviceKey& key : DeviceKeys()) {
        std::string name = std::string("  ") + key.name + "=";
        name.resize(width, ' ');
        help += name + key.help + "\n";
    }
    return help;
}
