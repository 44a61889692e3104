#include "common/AddressText.h"

#include <arpa/inet.h>

#include <cstring>

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
    if (!AddressTextTerminated(field)) {
        return false;
    }
    const in_addr_t converted = inet_addr(field);
    if (converted == INADDR_NONE) {
        return false;
    }
    hostOrder = ntohl(converted);
    return true;
}
