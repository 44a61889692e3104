// velquint watch: the segment live, without changing anything: devices that
// appear, change their settings or are gone, as a live table on a terminal,
// one line per event elsewhere, and JSON Lines with --json.
#include <CLI/CLI.hpp>

#include <iostream>
#include <sstream>

#include "cli/Commands.h"
#include "cli/HelpText.h"
#include "cli/Reporter.h"
#include "cli/Search.h"
#include "cli/ValueChecks.h"
#include "commission/SegmentDriver.h"
#include "commission/Watch.h"

namespace {

constexpr uint32_t kLongestTimeoutSeconds = 7 * 24 * 3600;

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
    explicit WatchView(Reporter& reporter) : reporter_(reporter) {}

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
        nlohmann::ordered_json devices = nlohmann::ordered_json::array();
        std::string now;
        for (const FoundDevice& device : DevicesOf(change.device)) {
            devices.push_back(DeviceJson(device));
            now += (now.empty() ? "" : "; ") + SettingsText(device);
        }
        ReportEvent event;
        event.subject = mac;
        event.values["devices"] = devices;
        switch (change.kind) {
            case SegmentChange::Appeared:
                event.event = "appeared";
                event.text = mac + " appeared: " + now;
                break;
            case SegmentChange::Changed: {
                WatchedDevice before = change.device;
                before.records = change.before;
                std::string was;
                for (const FoundDevice& device : DevicesOf(before)) {
                    was += (was.empty() ? "" : "; ") + SettingsText(device);
                }
                event.event = "changed";
                event.text = mac + " changed: " + was + " -> " + now;
                break;
            }
            case SegmentChange::Gone:
                event.event = "gone";
                event.text = mac + " gone: no answer to " +
                             std::to_string(SegmentWatch::kMissesForGone) + " searches in a row";
                break;
        }
        if (change.device.records.size() > 1) {
            event.text +=
                " (" + std::to_string(change.device.records.size()) + " devices share this MAC)";
        }
        reporter_.Event(event);
    }

    void Draw() {
        const size_t room = reporter_.BoardRoom();
        if (room < 2) {
            return;
        }
        std::vector<std::vector<std::string>> rows;
        const SegmentWatch& segment = watch_->Segment();
        for (const auto& entry : segment.Devices()) {
            for (const FoundDevice& device : DevicesOf(entry.second)) {
                const auto address = [](const std::optional<uint32_t>& value) {
                    return value ? DottedText(*value) : std::string("-");
                };
                rows.push_back({MacText(device.mac), address(device.ip), address(device.mask),
                                address(device.gateway),
                                device.port ? std::to_string(*device.port) : "-",
                                device.baudRate.empty() ? "-" : device.baudRate,
                                entry.second.gone ? "gone" : "present"});
            }
        }
        const size_t shown = std::min(rows.size(), room - 2);
        std::ostringstream table;
        PrintTable(table, {"MAC", "IP", "MASK", "GATEWAY", "PORT", "BAUD", "STATE"},
                   std::vector<std::vector<std::string>>(rows.begin(), rows.begin() + shown));
        std::vector<std::string> lines;
        std::istringstream written(table.str());
        for (std::string line; std::getline(written, line);) {
            lines.push_back(line);
        }
        const size_t present = segment.Present();
        lines.push_back(std::to_string(present) + " present, " +
                        std::to_string(segment.Devices().size() - present) + " gone, " +
                        std::to_string(watch_->Searches()) + " searches" +
                        (shown < rows.size()
                             ? "; " + std::to_string(rows.size() - shown) + " rows more than fit"
                             : ""));
        reporter_.Board(lines);
    }

    Reporter& reporter_;
    const Watch* watch_ = nullptr;
};

struct WatchCommand {
    std::string interfaceName;
    uint32_t timeoutSeconds = 0;

    CommandResult Run(Format format) const {
        unsigned searchInterface = 0;
        FailOn(FindInterface(interfaceName, &searchInterface));
        if (format == Format::Json) {
            SetCurrentReporter(MakeReporter(ReporterKind::JsonLines, std::cout));
        }
        WatchView view(CurrentReporter());
        SegmentPort port;  // opened for each search, given back between them
        SegmentDriver driver(port, searchInterface);
        Watch watch(driver, view, RunClock::now(),
                    static_cast<int>(timeoutSeconds) * kMillisecondsPerSecond);
        view.Follow(watch);
        driver.Run(
            watch, [&watch](Instant now) { return watch.Over(now); }, Interrupted);
        CurrentReporter().Finish();

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
        "--json one JSON object per event on stdout (JSON Lines). Ends on Ctrl-C, SIGTERM or "
        "--timeout; the exit status is 0 when a device answered, 3 when none did.");
}

CommandRun AddWatchCommand(CLI::App& watch) {
    auto command = std::make_shared<WatchCommand>();
    AddInterfaceOption(watch, &command->interfaceName);
    watch
        .add_option("-t,--timeout", command->timeoutSeconds,
                    "End after this many seconds; 0 (the default) only on Ctrl-C")
        ->type_name("SECONDS")
        ->check(NumberCheck(0, kLongestTimeoutSeconds))
        ->default_str("0");
    return [command](Format format) { return command->Run(format); };
}
