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
#include "commission/Commission.h"

namespace {

constexpr int kDefaultFindTimeoutSeconds = 5;
constexpr int kLongestTimeoutSeconds = 600;

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
    std::string interfaceName;
    int findTimeoutSeconds = kDefaultFindTimeoutSeconds;
    int settleTimeoutSeconds = kDefaultSettleTimeoutMs / kMillisecondsPerSecond;

    int Run() const {
        std::string why;
        const std::optional<Mac> target = ReadMac(mac, &why);
        if (!target) {
            Fail(kExitUsage, "'" + mac + "' is " + why);
        }
        const SettingsWanted wanted = Wanted();

        SegmentPort port;
        OpenPortOrFail(port);
        RepeatedSearchOptions search;
        search.interfaceIndex = InterfaceOrFail(interfaceName);
        search.timeLimitMs = findTimeoutSeconds * kMillisecondsPerSecond;
        search.complete = [&target](const DeviceSightings& heard) { return heard.Heard(*target); };
        const DeviceSightings found = SearchOrFail(port, search, interfaceName);
        const std::vector<const DeviceSighting*> heard = found.Of(*target);
        if (heard.empty()) {
            Fail(kExitNotFound, "no device with MAC " + MacText(*target) + " answered the search");
        }
        if (heard.size() > 1) {
            Fail(kExitUsage,
                 std::to_string(heard.size()) + " devices with different settings answer as MAC " +
                     MacText(*target) + ": a setup by that MAC would reach all of them");
        }
        const FoundDevice device =
            ReadFoundDevice(heard.front()->record, heard.front()->interfaces);
        const TargetSettings settings = MergeSettings(device, wanted);

        CommissionTask task;
        task.target = SetupValuesFor(*target, settings);
        task.interfaces = device.interfaceIndexes;
        if (direct) {
            if (!device.ip || *device.ip == 0 || *device.ip == kAllOnesAddress) {
                Fail(kExitUsage, "device " + MacText(*target) +
                                     " reports no address to send to; leave out --direct");
            }
            task.directTo = *device.ip;
        }
        CommissionOptions options;
        options.awaitReturn = verify;
        options.settleTimeoutMs = settleTimeoutSeconds * kMillisecondsPerSecond;
        options.searchInterface = search.interfaceIndex;
        std::vector<CommissionResult> results;
        Commission(port, {task}, options, nullptr, &results);
        const CommissionResult& result = results.front();
        const std::optional<FoundDevice> now =
            result.lastRecord.empty()
                ? std::nullopt
                : std::optional<FoundDevice>(ReadFoundDevice(result.lastRecord));
        const RowOutcome outcome =
            DescribeResult(result, std::nullopt, true, settleTimeoutSeconds, settings, now);
        if (result.setupDatagrams == 0) {
            Fail(kExitLocal, "the setup datagram went out of no interface");
        }
        const std::vector<FieldComparison> fields =
            CompareSettings(settings, now ? &*now : nullptr);
        if (json) {
            nlohmann::ordered_json report = {
                {"mac", MacText(*target)},       {"outcome", outcome.Token()},
                {"text", outcome.Text()},        {"detail", outcome.detail},
                {"confirmed", result.confirmed}, {"datagrams", result.setupDatagrams}};
            if (verify) {
                report["verified"] = outcome.kind == RowOutcome::Verified;
                report["fields"] = ComparisonJson(fields);
            }
            std::cout << report.dump(2) << '\n';
        } else if (verify) {
            PrintComparison(std::cout, fields);
        }
        const std::string who = "device " + MacText(*target);
        switch (outcome.kind) {
            case RowOutcome::Verified:
                if (!verify) {
                    break;
                }
                Say("setup of " + MacText(*target) +
                    (result.confirmed ? " confirmed and verified"
                                      : " verified: seen with the asked values (no confirmation "
                                        "came)"));
                return kExitOk;
            case RowOutcome::Confirmed:
                break;
            case RowOutcome::NotBack:
                Fail(kExitDeviceFailed, who + " confirmed, but did not answer the searches " +
                                            "within " + std::to_string(settleTimeoutSeconds) +
                                            " s");
            case RowOutcome::OtherValues:
                Fail(kExitDeviceFailed, who + " confirmed, but reports other values than asked");
            default:
                Fail(kExitDeviceFailed,
                     who + " did not confirm the setup (" + outcome.detail + ")");
        }
        if (!json) {
            std::cout << "Setup of " << MacText(*target)
                      << (result.confirmed ? " confirmed"
                                           : " applied: seen with the asked values (no "
                                             "confirmation came)")
                      << '\n';
        }
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
    setup
        ->add_option("-f,--find-timeout", command->findTimeoutSeconds,
                     "Seconds to search for the device before giving up")
        ->check(CLI::Range(1, kLongestTimeoutSeconds))
        ->default_str(std::to_string(kDefaultFindTimeoutSeconds));
    setup
        ->add_option("-t,--settle-timeout", command->settleTimeoutSeconds,
                     "Seconds the device has, from the first setup datagram, to confirm (with "
                     "--verify: to come back with the asked values)")
        ->check(CLI::Range(1, kLongestTimeoutSeconds))
        ->default_str(std::to_string(kDefaultSettleTimeoutMs / kMillisecondsPerSecond));
    setup->add_option("-i,--interface", command->interfaceName,
                      "Search out of this network interface only, and take only the answers that "
                      "come in on it");
    setup->footer(
        "Searches (a request every 0.5 s after the first three) until the device\n"
        "answers, for its present values. A broadcast goes out of the interface the\n"
        "device answered on and reaches it whatever its present address; --direct sends\n"
        "to that address instead. A setup that is not confirmed goes again 0.5, 1 and 2\n"
        "s after the first datagram, and whenever the device answers a search with its\n"
        "old values; a device seen with the asked values counts as set up even when no\n"
        "confirmation came. With --verify the device is searched for (once a second,\n"
        "every 250 ms while it is coming back) until it answers with every asked value:\n"
        "many devices restart for seconds after a setup.");
    return [command] { return command->Run(); };
}
