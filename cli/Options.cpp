#include "cli/Options.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

#include "cli/Output.h"
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

CLI::Option* AddInterfaceOption(CLI::App& command, std::string* name) {
    return command
        .add_option("-i,--interface", *name,
                    "Search out of this network interface only, and take only the answers that "
                    "come in on it")
        ->type_name("NAME");
}

void FormatChoice::AddTo(CLI::App& command, bool csv) {
    CLI::Option* json = command.add_flag("-j,--json", json_, "Write the result as JSON");
    if (csv) {
        command.add_flag("-c,--csv", csv_, "Write the result as CSV")->excludes(json);
    }
}
