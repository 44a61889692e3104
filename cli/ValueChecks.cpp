#include "cli/ValueChecks.h"

#include <functional>
#include <string>

#include "cli/Values.h"

namespace {

// A validator from a reader: nothing for a text the reader takes, its rule
// for one it refuses.
template <typename Reader>
CLI::Validator Check(Reader reader, const std::string& name) {
    return CLI::Validator(
        [reader](std::string& text) -> std::string {
            std::string why;
            return reader(text, &why) ? std::string() : "'" + text + "' is " + why;
        },
        "", name);
}

}  // namespace

CLI::Validator MacCheck() {
    return Check([](const std::string& text, std::string* why) { return ReadMac(text, why); },
                 "MAC");
}

CLI::Validator AddressCheck() {
    return Check([](const std::string& text, std::string* why) { return ReadAddress(text, why); },
                 "ADDRESS");
}

CLI::Validator PortCheck() {
    return Check([](const std::string& text, std::string* why) { return ReadPort(text, why); },
                 "PORT");
}

CLI::Validator IdCheck() {
    return Check([](const std::string& text, std::string* why) { return ReadId(text, why); }, "ID");
}

CLI::Validator BaudRateCheck() {
    return Check([](const std::string& text, std::string* why) { return ReadBaudRate(text, why); },
                 "BAUD");
}

CLI::Validator NumberCheck(uint32_t lowest, uint32_t highest) {
    return Check(
        [lowest, highest](const std::string& text, std::string* why) {
            return ReadNumber(text, lowest, highest, why);
        },
        "NUMBER");
}
