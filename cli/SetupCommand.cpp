// velquint setup: gives one device new settings; what is not named keeps the
// value the device reports.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <iostream>

#include "cli/Cli.h"
#include "cli/Commands.h"
#include "cli/Search.h"
#include "cli/SetupOutcome.h"
#include "cli/Values.h"
#include "setup/SendSetupRequest.h"

namespace {

struct SetupCommand {
    std::string mac;
    std::string ip;
    std::string mask;
    std::string gateway;
    std::string port;
    std::string baud;
    bool direct = false;
    bool verify = false;
    bool json = false;

    int Run() const {
        std::string why;
        const std::optional<Mac> target = ReadMac(mac, &why);
        if (!target) {
            Fail(kExitUsage, "'" + mac + "' is " + why);
        }
        const SettingsWanted wanted = Wanted();

        const std::vector<FoundDevice> devices = SearchOrFail(SearchSettings{});
        const FoundDevice* device = FindDevice(devices, *target);
        if (device == nullptr) {
            Fail(kExitNotFound, "no device with MAC " + MacText(*target) + " answered the search");
        }
        const TargetSettings settings = MergeSettings(*device, wanted);
        const int result = SendSetupRequest(MakeSetupRequest(*device, settings, !direct));
        FailOnLocalSetupError(result);
        if (result != kSetupSuccess) {
            Fail(kExitDeviceFailed,
                 "device " + MacText(*target) + " did not confirm the setup within 5 s");
        }
        if (!verify) {
            if (json) {
                std::cout << nlohmann::ordered_json{{"mac", MacText(*target)}, {"confirmed", true}}
                                 .dump(2)
                          << '\n';
            } else {
                std::cout << "Setup of " << MacText(*target) << " confirmed\n";
            }
            return kExitOk;
        }

        const std::vector<FoundDevice> after = SearchOrFail(SearchSettings{});
        const FoundDevice* now = FindDevice(after, *target);
        const std::vector<FieldComparison> fields = CompareSettings(settings, now);
        const bool verified = now != nullptr && AllMatch(fields);
        if (json) {
            std::cout << nlohmann::ordered_json{{"mac", MacText(*target)},
                                                {"confirmed", true},
                                                {"verified", verified},
                                                {"fields", ComparisonJson(fields)}}
                             .dump(2)
                      << '\n';
        } else {
            PrintComparison(std::cout, fields);
        }
        if (now == nullptr) {
            Fail(kExitDeviceFailed, "device " + MacText(*target) +
                                        " confirmed, but did not answer the search afterwards");
        }
        if (!verified) {
            Fail(kExitDeviceFailed,
                 "device " + MacText(*target) + " confirmed, but reports other values than asked");
        }
        Say("setup of " + MacText(*target) + " confirmed and verified");
        return kExitOk;
    }

    SettingsWanted Wanted() const {
        SettingsWanted wanted;
        std::string why;
        const auto address = [&why](const std::string& name, const std::string& text,
                                    std::optional<uint32_t>* value) {
            if (text.empty()) {
                return;
            }
            *value = ReadAddress(text, &why);
            if (!*value) {
                Fail(kExitUsage, name + " '" + text + "' is " + why);
            }
        };
        address("--ip", ip, &wanted.ip);
        address("--mask", mask, &wanted.mask);
        address("--gateway", gateway, &wanted.gateway);
        if (!port.empty()) {
            const auto read = ReadNumber(port, 0, 65535, &why);
            if (!read) {
                Fail(kExitUsage, "--port '" + port + "' is " + why);
            }
            wanted.port = static_cast<uint16_t>(*read);
        }
        if (!baud.empty()) {
            wanted.baudCode = ReadBaudRate(baud, &why);
            if (!wanted.baudCode) {
                Fail(kExitUsage, "--baud '" + baud + "' is " + why);
            }
        }
        if (!wanted.ip && !wanted.mask && !wanted.gateway && !wanted.port && !wanted.baudCode) {
            Fail(kExitUsage,
                 "nothing to set: name at least one of --ip, --mask, --gateway, "
                 "--port and --baud");
        }
        return wanted;
    }
};

}  // namespace

CommandRun AddSetupCommand(CLI::App& app) {
    auto command = std::make_shared<SetupCommand>();
    CLI::App* setup = app.add_subcommand(
        "setup", "Give one device new network settings; what is not named stays as it is");
    setup->add_option("MAC", command->mac, "The device, as search lists it (00.1A.2B.3C.4D.5E)")
        ->required();
    setup->add_option("--ip", command->ip, "New IP address");
    setup->add_option("--mask", command->mask, "New subnet mask");
    setup->add_option("--gateway", command->gateway, "New gateway");
    setup->add_option("-p,--port", command->port, "New TCP service port");
    setup->add_option("-b,--baud", command->baud, "New baud rate (300 to 115200)");
    setup->add_flag("-d,--direct", command->direct,
                    "Send to the device's present address instead of broadcasting");
    setup->add_flag("-v,--verify", command->verify,
                    "Search again afterwards and compare what the device reports with what was "
                    "asked");
    setup->add_flag("-j,--json", command->json, "Write the outcome as JSON");
    setup->footer(
        "A search finds the device and its present values first. A broadcast reaches the "
        "device whatever its present address; --direct needs it reachable there. The device has "
        "5 s to confirm.");
    return [command] { return command->Run(); };
}
