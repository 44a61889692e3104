// velquint setup: gives one device new settings; what is not named keeps the
// value the device reports.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <ostream>

#include "cli/Commands.h"
#include "cli/HelpText.h"
#include "cli/Options.h"
#include "cli/Reporter.h"
#include "cli/Search.h"
#include "cli/SetupOutcome.h"
#include "cli/Signals.h"
#include "cli/Values.h"
#include "commission/DeviceCommission.h"
#include "commission/SearchSchedule.h"
#include "commission/SegmentDriver.h"

namespace {

// The comparison for programs: an address as its dotted text, a port or a
// baud rate as a number, null for what is not known (a baud-rate code outside
// the table among it).
nlohmann::ordered_json ComparisonJson(const std::vector<FieldComparison>& fields) {
    const auto value = [](const FieldComparison& field, const std::string& text) {
        const bool digits =
            !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
        if (text == "-" || (field.number && !digits)) {
            return nlohmann::ordered_json(nullptr);
        }
        return field.number ? nlohmann::ordered_json(std::stoul(text))
                            : nlohmann::ordered_json(text);
    };
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const FieldComparison& field : fields) {
        list.push_back({{"field", field.field},
                        {"asked", value(field, field.asked)},
                        {"now", value(field, field.now)},
                        {"matches", field.matches}});
    }
    return list;
}

// What one setup did, and with --verify what the device reports now.
class SetupReport : public Shown {
public:
    SetupReport(Mac mac, RowOutcome outcome, const CommissionResult& result, bool verify,
                std::vector<FieldComparison> fields)
        : mac_(mac),
          outcome_(std::move(outcome)),
          confirmed_(result.confirmed),
          datagrams_(result.setupDatagrams),
          verify_(verify),
          fields_(std::move(fields)) {}

    void Table(std::ostream& out) const override {
        if (verify_) {
            PrintComparison(out, fields_);
        }
    }

    nlohmann::ordered_json Json() const override {
        nlohmann::ordered_json report = {{"mac", MacText(mac_)},    {"outcome", outcome_.Token()},
                                         {"text", outcome_.Text()}, {"detail", outcome_.detail},
                                         {"confirmed", confirmed_}, {"datagrams", datagrams_}};
        if (verify_) {
            report["verified"] = outcome_.kind == OutcomeKind::Verified;
            report["fields"] = ComparisonJson(fields_);
        }
        return report;
    }

private:
    Mac mac_;
    RowOutcome outcome_;
    bool confirmed_;
    int datagrams_;
    bool verify_;
    std::vector<FieldComparison> fields_;
};

struct SetupCommand {
    std::string mac;
    std::string ip;
    std::string mask;
    std::string gateway;
    std::string port;
    std::string baud;
    bool direct = false;
    bool verify = false;
    std::string interfaceName;
    int findTimeoutSeconds = kDefaultFindTimeoutSeconds;
    int settleTimeoutSeconds = kDefaultSettleTimeoutMs / kMillisecondsPerSecond;

    CommandResult Run(const CommandContext& context) const {
        // The validators read every value already.
        const Mac target = *ReadMac(mac);
        const SettingsWanted wanted = Wanted();
        unsigned interfaceIndex = 0;
        FailOn(FindInterface(interfaceName, &interfaceIndex));
        SegmentPort port;
        FailOn(OpenPort(port));
        const FoundDevice device = Find(context, port, interfaceIndex, target);
        TargetSettings settings;
        std::string missing;
        if (!MergeSettings(device, wanted, &settings, &missing)) {
            Fail(kExitUsage, "device " + MacText(target) + " reports no " + missing +
                                 ": name the value to set");
        }
        CommissionOptions options;
        options.awaitReturn = verify;
        options.settleTimeoutMs = settleTimeoutSeconds * kMillisecondsPerSecond;
        const CommissionResult done =
            CommissionOnPort(port, interfaceIndex, {Task(device, settings)}, options, nullptr,
                             context.stop.Check())
                .front();
        if (done.setupDatagrams == 0) {
            Fail(kExitLocal, "the setup datagram went out of no interface");
        }
        return Result(context, target, settings, done);
    }

    // The device, as a search finds it: it must answer, and be the only one
    // with its MAC.
    FoundDevice Find(const CommandContext& context, SegmentPort& port, unsigned interfaceIndex,
                     const Mac& target) const {
        RepeatedSearchOptions search;
        search.interfaceIndex = interfaceIndex;
        search.timeLimitMs = findTimeoutSeconds * kMillisecondsPerSecond;
        search.stop = context.stop.Check();
        search.complete = [&target](const DeviceSightings& heard) { return heard.Heard(target); };
        DeviceSightings found;
        FailOn(Search(port, search, interfaceName, context.reporter, &found));
        if (context.stop.Asked()) {
            Fail(context.stop.Status(),
                 "stopped during the search; nothing was sent but the search");
        }
        const DeviceLookup lookup = LookUpDevice(found, target);
        if (!lookup.device) {
            Fail(lookup.missing ? kExitNotFound : kExitUsage, lookup.refusal);
        }
        return *lookup.device;
    }

    CommissionTask Task(const FoundDevice& device, const TargetSettings& settings) const {
        CommissionTask task;
        task.target = SetupValuesFor(device.mac, settings);
        task.interfaces = device.interfaceIndexes;
        if (direct) {
            if (!device.ip || *device.ip == 0 || *device.ip == kAllOnesAddress) {
                Fail(kExitUsage, "device " + MacText(device.mac) +
                                     " reports no address to send to; leave out --direct");
            }
            task.directTo = *device.ip;
        }
        return task;
    }

    CommandResult Result(const CommandContext& context, const Mac& target,
                         const TargetSettings& settings, const CommissionResult& done) const {
        const std::optional<FoundDevice> now =
            done.lastRecord.empty() ? std::nullopt
                                    : std::optional<FoundDevice>(ReadFoundDevice(done.lastRecord));
        const RowOutcome outcome =
            DescribeResult(done, std::nullopt, true, settleTimeoutSeconds, settings, now);
        CommandResult result;
        result.shown = std::make_shared<SetupReport>(
            target, outcome, done, verify, CompareSettings(settings, now ? &*now : nullptr));
        result.closing = Closing(target, outcome, done.confirmed);
        if (!outcome.Good()) {
            result.status = outcome.kind == OutcomeKind::Interrupted ? context.stop.Status()
                                                                     : kExitDeviceFailed;
            result.closingIsWarning = true;
        }
        return result;
    }

    // The sentence that ends the command, for people.
    std::string Closing(const Mac& target, const RowOutcome& outcome, bool confirmed) const {
        const std::string device = "device " + MacText(target);
        switch (outcome.kind) {
            case OutcomeKind::Verified:
                if (!verify) {
                    return "setup of " + MacText(target) +
                           " applied: seen with the asked values (no confirmation came)";
                }
                return "setup of " + MacText(target) +
                       (confirmed ? " confirmed and verified"
                                  : " verified: seen with the asked values (no confirmation "
                                    "came)");
            case OutcomeKind::Confirmed:
                return "setup of " + MacText(target) + " confirmed";
            case OutcomeKind::NotBack:
                return device + " confirmed, but did not answer the searches within " +
                       std::to_string(settleTimeoutSeconds) + " s";
            case OutcomeKind::OtherValues:
                return device + " confirmed, but reports other values than asked";
            case OutcomeKind::Interrupted:
                return "setup of " + MacText(target) + " stopped by Ctrl-C";
            default:
                return device + " did not confirm the setup (" + outcome.detail + ")";
        }
    }

    // The options as values; the validators have read each already.
    SettingsWanted Wanted() const {
        SettingsWanted wanted;
        const auto address = [](const std::string& text, std::optional<uint32_t>* value) {
            if (!text.empty()) {
                *value = ReadAddress(text);
            }
        };
        address(ip, &wanted.ip);
        address(mask, &wanted.mask);
        address(gateway, &wanted.gateway);
        if (!port.empty()) {
            wanted.port = ReadPort(port);
        }
        if (!baud.empty()) {
            wanted.baudCode = ReadBaudRate(baud);
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

std::string SetupFooter() {
    const auto ms = [](int milliseconds) { return Duration(milliseconds); };
    return Wrapped(
        "Searches (a request every " + ms(kSearchMorePassIntervalMs) +
        " after the first three) until the device answers, for its present values. A "
        "broadcast goes out of the interface the device answered on and reaches it whatever "
        "its present address; --direct sends to that address instead. A setup that is not "
        "confirmed goes again " +
        ms(kSetupResendAfterMs[0]) + ", " + ms(kSetupResendAfterMs[1]) + " and " +
        ms(kSetupResendAfterMs[2]) +
        " after the first datagram, and whenever the device answers a search with its old "
        "values; a device seen with the asked values counts as set up even when no "
        "confirmation came. With --verify the device is searched for (every " +
        ms(kReturnSearchSlowMs) + ", every " + ms(kReturnSearchFastMs) +
        " while it is coming back) until it answers with every asked value: many devices "
        "restart for seconds after a setup.");
}

CommandRun AddSetupCommand(CLI::App& setup) {
    auto command = std::make_shared<SetupCommand>();
    setup.add_option("MAC", command->mac, "The device, as search lists it (00.1A.2B.3C.4D.5E)")
        ->type_name("MAC")
        ->check(MacCheck())
        ->required();
    setup.add_option("--ip", command->ip, "New IP address")
        ->type_name("ADDRESS")
        ->check(AddressCheck());
    setup.add_option("--mask", command->mask, "New subnet mask")
        ->type_name("ADDRESS")
        ->check(AddressCheck());
    setup.add_option("--gateway", command->gateway, "New gateway")
        ->type_name("ADDRESS")
        ->check(AddressCheck());
    setup.add_option("-p,--port", command->port, "New TCP service port, 1 to 65535")
        ->type_name("PORT")
        ->check(PortCheck());
    setup.add_option("-b,--baud", command->baud, "New baud rate, 300 to 115200")
        ->type_name("BAUD")
        ->check(BaudRateCheck());
    setup.add_flag("-d,--direct", command->direct,
                   "Send to the device's present address instead of broadcasting");
    setup.add_flag("-v,--verify", command->verify,
                   "Wait until the device answers a search with every asked value");
    setup
        .add_option("-f,--find-timeout", command->findTimeoutSeconds,
                    "Seconds to search for the device before giving up, 1 to " +
                        std::to_string(kLongestTimeoutSeconds))
        ->type_name("SECONDS")
        ->check(NumberCheck(1, kLongestTimeoutSeconds))
        ->default_str(std::to_string(kDefaultFindTimeoutSeconds));
    setup
        .add_option("-t,--settle-timeout", command->settleTimeoutSeconds,
                    "Seconds the device has, from the first setup datagram, to confirm (with "
                    "--verify: to come back with the asked values), 1 to " +
                        std::to_string(kLongestTimeoutSeconds))
        ->type_name("SECONDS")
        ->check(NumberCheck(1, kLongestTimeoutSeconds))
        ->default_str(std::to_string(kDefaultSettleTimeoutMs / kMillisecondsPerSecond));
    AddInterfaceOption(setup, &command->interfaceName);
    return {[command](const CommandContext& context) { return command->Run(context); }};
}
