// velquint search: the devices on the segment, found with several requests
// and merged by MAC, as a table, JSON or the CSV that a plan file takes.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <map>
#include <ostream>

#include "cli/Commands.h"
#include "cli/HelpText.h"
#include "cli/Options.h"
#include "cli/Reporter.h"
#include "cli/Row.h"
#include "cli/Search.h"
#include "cli/Signals.h"
#include "discovery/DiscoverDevices.h"

namespace {

constexpr int kMostPasses = 20;
// No first wait outlasts the search's own time limit.
constexpr int kLongestFirstWaitSeconds = kSearchTimeLimitMs / kMillisecondsPerSecond;

// The devices of one search: a table, JSON, or the CSV of a plan file (its
// columns, with an empty id), so that the output is a plan.
class DeviceList : public Shown {
public:
    explicit DeviceList(std::vector<FoundDevice> devices) : devices_(std::move(devices)) {}

    void Table(std::ostream& out) const override { WriteTable(out, devices_, Put); }
    nlohmann::ordered_json Json() const override {
        return JsonRows(PutRows(FormatRow::Kind::Json, devices_, Put));
    }
    void Csv(std::ostream& out) const override { WriteCsv(out, devices_, FoundDevice(), Put); }

private:
    static void Put(RowWriter& row, const FoundDevice& device) {
        PutDevice(row, device, true);
        row.Text("id", "", kInCsv);
    }

    std::vector<FoundDevice> devices_;
};

struct SearchCommand {
    std::string sort = "mac";
    std::string interfaceName;
    int passes = kDefaultSearchPasses;
    int firstWaitSeconds = kSearchFirstWaitMs / kMillisecondsPerSecond;

    CommandResult Run(const CommandContext& context) const {
        RepeatedSearchOptions options;
        FailOn(FindInterface(interfaceName, &options.interfaceIndex));
        options.passes = passes;
        options.firstWaitMs = firstWaitSeconds * kMillisecondsPerSecond;
        options.timeLimitMs = kSearchTimeLimitMs;
        options.stop = context.stop.Check();
        SegmentPort port;
        FailOn(OpenPort(port));
        DeviceSightings sightings;
        FailOn(Search(port, options, interfaceName, context.reporter, &sightings));
        const std::vector<FoundDevice> devices = ListDevices(sightings, sort == "ip");

        std::map<Mac, size_t> records;
        for (const FoundDevice& device : devices) {
            ++records[device.mac];
        }
        for (const auto& [mac, count] : records) {
            if (UnprogrammedMac(mac)) {
                context.reporter.Warn("device " + MacText(mac) +
                                      " has an unprogrammed MAC address (it ends in FF.FF.FF)");
            }
            if (count > 1) {
                context.reporter.Warn(std::to_string(count) +
                                      " devices with different settings share MAC " + MacText(mac) +
                                      "; a setup by that MAC reaches all of them");
            }
        }
        CommandResult result;
        result.shown = std::make_shared<DeviceList>(devices);
        if (context.stop.Asked()) {
            result.status = context.stop.Status();
            result.closing = "the search was stopped; these devices had answered until then";
            result.closingIsWarning = true;
        } else if (devices.empty()) {
            result.status = kExitNotFound;
            result.closing = "no device answered the search";
            result.closingIsWarning = true;
        }
        return result;
    }
};

}  // namespace

std::string SearchFooter() {
    return Wrapped(
        "Sends " + std::to_string(kDefaultSearchPasses) + " requests " +
        Duration(kSearchPassIntervalMs) +
        " apart and merges the answers by MAC: a device that answers every request, or on "
        "several interfaces, is one row, with each interface it answered on. Ends once no "
        "answer has brought a new device for " +
        Duration(kSearchQuietMs) +
        " after the last request (when nothing answers, after the first wait; " +
        Duration(kSearchTimeLimitMs) +
        " at the most). On a segment that loses 5 % of all datagrams each way, one request "
        "misses one device in ten, three requests about one in a thousand. Every device that "
        "answers is listed, up to " +
        std::to_string(DeviceSightings::kMostSightings) +
        ". Devices whose MAC address ends in FF.FF.FF, and MACs that several devices share, "
        "are listed and warned about on stderr. When no device answers, the list is empty "
        "and the exit status is 3.");
}

CommandRun AddSearchCommand(CLI::App& search) {
    auto command = std::make_shared<SearchCommand>();
    search.add_option("-s,--sort", command->sort, "List by MAC or by IP address, ascending")
        ->type_name("KEY")
        ->check(CLI::IsMember({"mac", "ip"}))
        ->default_str("mac");
    search
        .add_option("-n,--passes", command->passes,
                    "Requests to send; 1 is the window's single request")
        ->type_name("N")
        ->check(NumberCheck(1, kMostPasses))
        ->default_str(std::to_string(kDefaultSearchPasses));
    AddInterfaceOption(search, &command->interfaceName);
    search
        .add_option("-w,--first-wait", command->firstWaitSeconds,
                    "Seconds to wait for the first answer, 0 to " +
                        std::to_string(kLongestFirstWaitSeconds))
        ->type_name("SECONDS")
        ->check(NumberCheck(0, kLongestFirstWaitSeconds))
        ->default_str(std::to_string(kSearchFirstWaitMs / kMillisecondsPerSecond));
    return {[command](const CommandContext& context) { return command->Run(context); }};
}
