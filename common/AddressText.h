#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Every address the tool reads from the operator or from a device's row
// travels as dotted text in a field of this size: at most 19 characters and a
// terminating zero.
constexpr size_t kAddressTextFieldSize = 20;
// 255.255.255.255: the classic conversion's failure value, so never an
// address a setup can carry.
constexpr uint32_t kAllOnesAddress = 0xFFFFFFFF;

// Copies `text` into an address field. A text that does not fit or carries a
// zero character is refused rather than cut: a cut address would reach or
// configure another address than the one typed. A refused field is left
// empty and false is returned.
bool CopyAddressText(char (&field)[kAddressTextFieldSize], std::string_view text);

// True when the field holds its terminating zero, i.e. it is a text at all.
bool AddressTextTerminated(const char (&field)[kAddressTextFieldSize]);

// Reads a dotted address text the way the classic conversion (inet_addr)
// does, for every address the tool reads: a setup's new addresses and the
// device's present one, and Set ID's host. Its failure value is the all-ones
// address, so 255.255.255.255 is refused as well as malformed text, and so
// is a field without its zero. Unlike inet_addr it refuses a part with a
// leading zero ("010"), which inet_addr would read as octal. On success
// `hostOrder` holds the address with the first number in the most
// significant byte.
bool ConvertAddressText(const char (&field)[kAddressTextFieldSize], uint32_t& hostOrder);
