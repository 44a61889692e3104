#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// The texts a person types on the command line or into a plan file, read
// strictly: a value that is not exactly one of these is refused, never
// guessed at. Each reader gives an empty optional for a refused text, and
// `why` (when not null) says what was expected.

using Mac = std::array<uint8_t, 6>;

// Six pairs of hexadecimal digits joined by dots, colons or dashes (one kind
// throughout), as the device list shows it (00.1A.2B.3C.4D.5E) or as other
// tools write it (00:1a:2b:3c:4d:5e).
std::optional<Mac> ReadMac(const std::string& text, std::string* why = nullptr);

// An IPv4 address as the tool reads every address (see common/AddressText),
// host byte order.
std::optional<uint32_t> ReadAddress(const std::string& text, std::string* why = nullptr);

// A decimal number from `lowest` to `highest`, digits only.
std::optional<uint32_t> ReadNumber(const std::string& text, uint32_t lowest, uint32_t highest,
                                   std::string* why = nullptr);

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
