// velquint watch: the segment live, without changing anything: devices that
// appear, change their settings or are gone, as a live table on a terminal,
// one line per event elsewhere, and JSON Lines with --json.
#include <CLI/CLI.hpp>

#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "cli/Events.h"
#include "cli/HelpText.h"
#include "cli/LiveBoard.h"
#include "cli/Options.h"
#include "cli/ReportEvent.h"
#include "cli/Reporter.h"
#include "cli/Row.h"
#include "cli/Search.h"
#include "cli/Signals.h"
#include "commission/SegmentDriver.h"
#include "commission/Watch.h"

namespace {

// "10.231.101.10 255.255.0.0 10.231.0.1 port 4001 baud 115200".
std::string SettingsText(const FoundDevice& device) {
    const auto address = [](const std::optional<uint32_t>& value) {
        return value ? DottedText(*value) : std::string("-");
    };
    return address(device.ip) + " " + address(device.mask) + " " + address(device.gateway) +
           " port " + (device.port ? std::to_string(*device.port) : "-") + " baud " +
           (device.baudRate.empty() ? "-" : device.baudRate);
}

std::vector<FoundDevice> DevicesOf(const WatchedDevice& watched) {
    std::vector<FoundDevice> devices;
    for (const std::vector<uint8_t>& record : watched.records) {
        devices.push_back(ReadFoundDevice(
            record, std::vector<unsigned>(watched.interfaces.begin(), watched.interfaces.end())));
    }
    return devices;
}

// Tells each change of the segment, and keeps the live table.
class WatchView : public WatchListener {
public:
    explicit WatchView(Reporter& reporter) : reporter_(reporter), board_(reporter) {}

    void Follow(const Watch& watch) { watch_ = &watch; }

    void OnSearchEnded(const std::vector<SegmentChange>& changes) override {
        for (const SegmentChange& change : changes) {
            Tell(change);
        }
        Draw();
    }

    void OnPortBusy() override {
        reporter_.Event(
            {"port-busy", "", "port 3195 is taken (another search?); the next search tries again"});
    }

private:
    void Tell(const SegmentChange& change) {
        const std::string mac = MacText(change.device.mac);
        const std::vector<FoundDevice> devices = DevicesOf(change.device);
        std::string now;
        for (const FoundDevice& device : devices) {
            now += (now.empty() ? "" : "; ") + SettingsText(device);
        }
        ReportEvent event;
        switch (change.kind) {
            case SegmentChange::Appeared:
                event = SegmentEvent("appeared", mac + " appeared: " + now, devices);
                break;
            case SegmentChange::Changed: {
                WatchedDevice before = change.device;
                before.records = change.before;
                std::string was;
                nlohmann::ordered_json earlier = nlohmann::ordered_json::array();
                for (const FoundDevice& device : DevicesOf(before)) {
                    was += (was.empty() ? "" : "; ") + SettingsText(device);
                    earlier.push_back(DeviceJson(device));
                }
                event = SegmentEvent("changed", mac + " changed: " + was + " -> " + now, devices);
                event.values["before"] = earlier.front();
                break;
            }
            case SegmentChange::Gone:
                event = SegmentEvent("gone",
                                     mac + " gone: no answer to " +
                                         std::to_string(SegmentWatch::kMissesForGone) +
                                         " searches in a row",
                                     devices);
                break;
        }
        if (devices.size() > 1) {
            event.text += " (" + std::to_string(devices.size()) + " devices share this MAC)";
        }
        reporter_.Event(event);
    }

    void Draw() {
        if (!board_.Shown()) {
            return;
        }
        const SegmentWatch& segment = watch_->Segment();
        std::vector<FormatRow> rows;
        for (const auto& entry : segment.Devices()) {
            for (const FoundDevice& device : DevicesOf(entry.second)) {
                rows.emplace_back(FormatRow::Kind::Table);
                PutDevice(rows.back(), device, true);
                rows.back().Text("state", entry.second.gone ? "gone" : "present");
            }
        }
        const size_t present = segment.Present();
        board_.Draw(std::move(rows), std::to_string(present) + " present, " +
                                         std::to_string(segment.Devices().size() - present) +
                                         " gone, " + std::to_string(watch_->Searches()) +
                                         " searches");
    }

    Reporter& reporter_;
    LiveBoard board_;
    const Watch* watch_ = nullptr;
};

struct WatchCommand {
    std::string interfaceName;
    uint32_t timeoutSeconds = 0;

    CommandResult Run(const CommandContext& context) const {
        unsigned searchInterface = 0;
        FailOn(FindInterface(interfaceName, &searchInterface));
        WatchView view(context.reporter);
        SegmentPort port;  // opened for each search, given back between them
        SegmentDriver driver(port, searchInterface);
        Watch watch(driver, view, RunClock::now(),
                    static_cast<int>(timeoutSeconds) * kMillisecondsPerSecond);
        view.Follow(watch);
        driver.Run(
            watch, [&watch](Instant now) { return watch.Over(now); }, context.stop.Check());

        CommandResult result;
        if (!watch.Segment().AnyAnswered()) {
            result.status = kExitNotFound;
            result.closing = "no device answered during the watch";
            result.closingIsWarning = true;
        }
        return result;
    }
};

}  // namespace

std::string WatchFooter() {
    return Wrapped(
        "Changes nothing: searches about every " + Duration(kWatchSearchMs) + " (" +
        std::to_string(kWatchPasses) + " requests " + Duration(kSearchPassIntervalMs) +
        " apart), every " + Duration(kWatchQuietestMs) +
        " at the most while nothing changes, and tells of each device that appears, "
        "changes its settings, or is gone (no answer to " +
        std::to_string(SegmentWatch::kMissesForGone) +
        " searches in a row). Each search is one request per interface and one answer per "
        "device. Between its searches the watch holds no socket on port 3195, so that the "
        "window or another velquint on this machine can search; a search that finds the "
        "port taken is tried again " +
        Duration(kWatchPortRetryMs) +
        " later. On a terminal a live table; elsewhere one line per event on stderr; with "
        "--json one JSON object per event on stdout (JSON Lines; see EVENTS in the manual). At "
        "--timeout the exit status is 0 when a device answered, 3 when none did; Ctrl-C and "
        "SIGTERM end it with 130 and 143.");
}

CommandRun AddWatchCommand(CLI::App& watch) {
    auto command = std::make_shared<WatchCommand>();
    AddInterfaceOption(watch, &command->interfaceName);
    watch
        .add_option("-t,--timeout", command->timeoutSeconds,
                    "End after this many seconds; 0 (the default) only on Ctrl-C")
        ->type_name("SECONDS")
        ->check(NumberCheck(0, kLongestWatchSeconds))
        ->default_str("0");
    return {[command](const CommandContext& context) { return command->Run(context); },
            [] { return true; }};
}
