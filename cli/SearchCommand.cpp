// velquint search: the devices on the segment, found with several requests
// and merged by MAC, as a table, JSON or the CSV that a plan file takes.
#include <CLI/CLI.hpp>

#include <iostream>
#include <map>

#include "cli/Cli.h"
#include "cli/Commands.h"
#include "cli/Csv.h"
#include "cli/Plan.h"
#include "cli/Search.h"

namespace {

constexpr int kLongestFirstWaitSeconds = 3600;
constexpr int kMostPasses = 20;

struct SearchCommand {
    std::string sort = "mac";
    bool json = false;
    bool csv = false;
    SearchSettings settings;

    int Run() const {
        SearchSettings chosen = settings;
        chosen.sortByIp = sort == "ip";
        const std::vector<FoundDevice> devices = SearchOrFail(chosen);
        std::map<Mac, size_t> records;
        for (const FoundDevice& device : devices) {
            ++records[device.mac];
        }
        for (const auto& [mac, count] : records) {
            if (UnprogrammedMac(mac)) {
                Warn("device " + MacText(mac) +
                     " has an unprogrammed MAC address (it ends in FF.FF.FF)");
            }
            if (count > 1) {
                Warn(std::to_string(count) + " devices with different settings share MAC " +
                     MacText(mac) + "; a setup by that MAC reaches all of them");
            }
        }
        if (json) {
            nlohmann::ordered_json list = nlohmann::ordered_json::array();
            for (const FoundDevice& device : devices) {
                list.push_back(DeviceJson(device));
            }
            std::cout << list.dump(2) << '\n';
        } else if (csv) {
            PrintCsv(devices);
        } else if (!devices.empty()) {
            PrintDeviceTable(devices);
        }
        if (devices.empty()) {
            Say("no device answered the search");
            return kExitNotFound;
        }
        return kExitOk;
    }

    static void PrintCsv(const std::vector<FoundDevice>& devices) {
        std::cout << CsvLine(kPlanColumns);
        for (const FoundDevice& device : devices) {
            const auto address = [](const std::optional<uint32_t>& value) {
                return value ? DottedText(*value) : std::string();
            };
            std::cout << CsvLine({MacText(device.mac), address(device.ip), address(device.mask),
                                  address(device.gateway),
                                  device.port ? std::to_string(*device.port) : std::string(),
                                  device.baudRate, std::string()});
        }
    }

    static void PrintDeviceTable(const std::vector<FoundDevice>& devices) {
        std::vector<std::vector<std::string>> rows;
        const auto shown = [](const std::string& text) { return text.empty() ? "-" : text; };
        const auto address = [](const std::optional<uint32_t>& value) {
            return value ? DottedText(*value) : std::string("-");
        };
        for (const FoundDevice& device : devices) {
            rows.push_back(
                {MacText(device.mac), address(device.ip), address(device.mask),
                 address(device.gateway), device.port ? std::to_string(*device.port) : "-",
                 shown(device.baudRate), shown(device.version), shown(InterfacesText(device))});
        }
        PrintTable(std::cout,
                   {"MAC", "IP", "MASK", "GATEWAY", "PORT", "BAUD", "VERSION", "INTERFACE"}, rows);
    }
};

}  // namespace

CommandRun AddSearchCommand(CLI::App& app) {
    auto command = std::make_shared<SearchCommand>();
    CLI::App* search = app.add_subcommand(
        "search", "Find the devices on the segment with one broadcast and list them");
    search->add_option("-s,--sort", command->sort, "List by MAC or by IP address, ascending")
        ->check(CLI::IsMember({"mac", "ip"}))
        ->default_str("mac");
    auto* json = search->add_flag("-j,--json", command->json, "Write the list as JSON");
    search->add_flag("-c,--csv", command->csv, "Write the columns of a plan file, as CSV")
        ->excludes(json);
    search
        ->add_option("-n,--passes", command->settings.passes,
                     "Requests to send, 100 ms apart; 1 is the window's single request")
        ->check(CLI::Range(1, kMostPasses))
        ->default_str(std::to_string(kDefaultSearchPasses));
    search->add_option("-i,--interface", command->settings.interfaceName,
                       "Send the request out of this network interface only, and take only "
                       "the answers that come in on it");
    search
        ->add_option("-w,--first-wait", command->settings.firstWaitSeconds,
                     "Seconds to wait for the first answer")
        ->check(CLI::Range(0, kLongestFirstWaitSeconds))
        ->default_str("2");
    search->footer(
        "Sends its requests 100 ms apart and merges the answers by MAC: a device that\n"
        "answers every request, or on several interfaces, is one row, with each\n"
        "interface it answered on. Ends once no answer has brought a new device for 0.4\n"
        "s after the last request (when nothing answers, after the first wait; 30 s at\n"
        "the most). Three requests find a device whose request or answer is lost now\n"
        "and then (on a segment that loses 5 % of datagrams, one request misses one\n"
        "device in ten). Every device that answers is listed, up to 4096. Devices whose\n"
        "MAC address ends in FF.FF.FF, and MACs that several devices share, are listed\n"
        "and warned about on stderr.");
    return [command] { return command->Run(); };
}
