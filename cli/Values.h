#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// The values a person types on the command line or into a plan file, read
// strictly and the same way everywhere: a value that is not exactly one of
// these is refused, never guessed at. Each reader gives an empty optional
// for a refused text, and `why` (when not null) the rule it broke, ready to
// follow "'<text>' is ".

using Mac = std::array<uint8_t, 6>;

constexpr uint32_t kLowestPort = 1;
constexpr uint32_t kLargestPort = 65535;
constexpr uint32_t kLargestId = 255;
constexpr uint32_t kLargestByte = 255;

// Six pairs of hexadecimal digits joined by dots, colons or dashes (one kind
// throughout), as the device list shows it (00.1A.2B.3C.4D.5E) or as other
// tools write it (00:1a:2b:3c:4d:5e).
std::optional<Mac> ReadMac(const std::string& text, std::string* why = nullptr);

// An IPv4 address as four decimal numbers 0 to 255 joined by dots, nothing
// before or after, in host byte order. Unlike the window's reading (the
// classic one, which takes 10.1 for 10.0.0.1 and 0x0a for 10), no shorthand:
// in a plan a missing number must not move a device to another address. A
// number with a leading zero ("010") is refused, as the window refuses it:
// other tools read it as octal. 255.255.255.255 is no address either.
std::optional<uint32_t> ReadAddress(const std::string& text, std::string* why = nullptr);
// The same four numbers, 255.255.255.255 included: an address that another
// program wrote (a firewall's rule), not one that a setup would carry.
std::optional<uint32_t> ReadDottedAddress(const std::string& text, std::string* why = nullptr);

// A decimal number from `lowest` to `highest`, digits only.
std::optional<uint32_t> ReadNumber(const std::string& text, uint32_t lowest, uint32_t highest,
                                   std::string* why = nullptr);

// A device's TCP service port, 1 to 65535 (0 is no port to connect to).
std::optional<uint16_t> ReadPort(const std::string& text, std::string* why = nullptr);

// A device ID, 0 to 255.
std::optional<uint8_t> ReadId(const std::string& text, std::string* why = nullptr);

// A baud rate the devices have (300 ... 115200): its baud-rate code.
std::optional<uint8_t> ReadBaudRate(const std::string& text, std::string* why = nullptr);

// Bytes as pairs of hexadecimal digits, optionally separated by blanks.
std::optional<std::string> ReadHexBytes(const std::string& text, std::string* why = nullptr);

// A USB HID device's "VVVV:PPPP": vendor and product identifiers in hex.
std::optional<std::pair<uint16_t, uint16_t>> ReadHidIds(const std::string& text,
                                                        std::string* why = nullptr);

std::string MacText(const Mac& mac);
std::string DottedText(uint32_t hostOrder);
std::string HexText(const uint8_t* bytes, size_t count);
