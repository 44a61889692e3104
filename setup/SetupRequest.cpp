#include "setup/SetupRequest.h"

#include <cstring>

bool SetAddressField(char (&field)[kSetupAddressFieldSize], std::string_view text) {
    std::memset(field, 0, sizeof field);
    if (text.size() >= kSetupAddressFieldSize || text.find('\0') != std::string_view::npos) {
        return false;
    }
    std::memcpy(field, text.data(), text.size());
    return true;
}

bool AddressFieldTerminated(const char (&field)[kSetupAddressFieldSize]) {
    return std::memchr(field, '\0', sizeof field) != nullptr;
}
