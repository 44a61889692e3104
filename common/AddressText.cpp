#include "common/AddressText.h"

#include <cctype>
#include <cstring>

#include "platform/Sockets.h"

namespace {

// inet_addr reads a part that begins with 0 as octal, so "192.168.001.010"
// would stand for 192.168.1.8: another address than the one typed. Such a
// part is refused; a lone 0 and the 0x prefix of a hexadecimal part stay.
// The conversion ends at the first blank, and so does this look.
bool HasOctalPart(const char* text) {
    bool partStart = true;
    for (const char* c = text; *c != '\0' && !std::isspace(static_cast<unsigned char>(*c)); ++c) {
        if (partStart && c[0] == '0' && std::isdigit(static_cast<unsigned char>(c[1]))) {
            return true;
        }
        partStart = *c == '.';
    }
    return false;
}

}  // namespace

bool CopyAddressText(char (&field)[kAddressTextFieldSize], std::string_view text) {
    std::memset(field, 0, sizeof field);
    if (text.size() >= kAddressTextFieldSize || text.find('\0') != std::string_view::npos) {
        return false;
    }
    std::memcpy(field, text.data(), text.size());
    return true;
}

bool AddressTextTerminated(const char (&field)[kAddressTextFieldSize]) {
    return std::memchr(field, '\0', sizeof field) != nullptr;
}

bool ConvertAddressText(const char (&field)[kAddressTextFieldSize], uint32_t& hostOrder) {
    // An unterminated field would let inet_addr read past it.
    if (!AddressTextTerminated(field) || HasOctalPart(field)) {
        return false;
    }
    return ParseDottedAddress(field, &hostOrder);
}
