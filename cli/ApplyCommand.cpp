// velquint apply: commissions the devices of a plan file and reports one
// row per plan row with one outcome each (the work itself is in Apply.cpp).
#include <CLI/CLI.hpp>

#include <iostream>
#include <ostream>
#include <sstream>

#include "cli/Apply.h"
#include "cli/Commands.h"
#include "cli/Csv.h"
#include "cli/HelpText.h"
#include "cli/Reporter.h"
#include "cli/Search.h"
#include "cli/Station.h"
#include "cli/ValueChecks.h"
#include "commission/DeviceCommission.h"

namespace {

// Setups in their first seconds at once. Every broadcast setup reaches every
// device on the segment, each of which must look at it: 64 keeps a burst to
// 64 datagrams of 29 bytes (under 2 KB on the wire, and at most 16 KB of
// confirmations waiting in the socket), yet sets up 255 devices that take
// 200 ms to confirm in four rounds, about 0.8 s.
constexpr uint32_t kDefaultParallel = 64;
constexpr uint32_t kLargestParallel = 255;
// At 5 % of datagrams lost each way, a present device goes unheard by the
// requests of 5 s (three, then one every 0.5 s) with a chance below one in
// a billion, and a mistyped MAC is refused without a long wait.
constexpr int kDefaultFindTimeoutSeconds = 5;
constexpr int kLongestTimeoutSeconds = 600;
// A station may run a whole week of shifts.
constexpr uint32_t kLongestStationSeconds = 7 * 24 * 3600;

// The MAC of the row's device; none for a row without one that no device
// took.
std::optional<std::string> RowMac(const ApplyRow& item) {
    if (!item.row.macNamed && item.row.mac == Mac{}) {
        return std::nullopt;
    }
    return MacText(item.row.mac);
}

std::string MacCell(const ApplyRow& item) {
    return RowMac(item).value_or("");
}

// The report: one row per plan row, with what its device reports now.
class ApplyReport : public Shown {
public:
    ApplyReport(std::vector<ApplyRow> rows, ApplySettings settings)
        : rows_(std::move(rows)), settings_(std::move(settings)) {}

    void Table(std::ostream& out) const override {
        std::vector<std::vector<std::string>> table;
        for (const ApplyRow& item : rows_) {
            std::vector<std::string> cells = {RowMac(item).value_or("-")};
            for (const FieldComparison& field : Fields(item)) {
                cells.push_back(field.now);
            }
            cells.push_back(item.row.id ? std::to_string(*item.row.id) : "-");
            const RowOutcome outcome = OutcomeOf(item, settings_);
            cells.push_back(outcome.Text() +
                            (outcome.detail.empty() ? "" : " (" + outcome.detail + ")"));
            table.push_back(cells);
        }
        PrintTable(out, {"MAC", "IP", "MASK", "GATEWAY", "PORT", "BAUD", "ID", "OUTCOME"}, table);
    }

    nlohmann::ordered_json Json() const override {
        nlohmann::ordered_json rows = nlohmann::ordered_json::array();
        for (const ApplyRow& item : rows_) {
            const PlanRow& row = item.row;
            nlohmann::ordered_json asked = nlohmann::ordered_json::object();
            if (row.ip)
                asked["ip"] = DottedText(*row.ip);
            if (row.mask)
                asked["mask"] = DottedText(*row.mask);
            if (row.gateway)
                asked["gateway"] = DottedText(*row.gateway);
            if (row.port)
                asked["port"] = *row.port;
            if (row.baudCode)
                asked["baud"] = std::stoul(BaudText(*row.baudCode));
            if (row.id)
                asked["id"] = *row.id;
            const RowOutcome outcome = OutcomeOf(item, settings_);
            const std::optional<FoundDevice> now = ReportedNow(item);
            rows.push_back({{"line", row.line},
                            {"mac", RowMac(item) ? nlohmann::ordered_json(*RowMac(item))
                                                 : nlohmann::ordered_json(nullptr)},
                            {"asked", asked},
                            {"now", now ? DeviceJson(*now) : nullptr},
                            {"outcome", outcome.Token()},
                            {"text", outcome.Text()},
                            {"detail", outcome.detail}});
        }
        return rows;
    }

    void Csv(std::ostream& out) const override {
        out << CsvLine({"line", "mac", "ip_asked", "mask_asked", "gateway_asked", "port_asked",
                        "baud_asked", "id_asked", "ip_now", "mask_now", "gateway_now", "port_now",
                        "baud_now", "outcome", "text", "detail"});
        for (const ApplyRow& item : rows_) {
            const PlanRow& row = item.row;
            std::vector<std::string> cells = {std::to_string(row.line), MacCell(item)};
            for (const std::string& cell : AskedCells(row)) {
                cells.push_back(cell);
            }
            for (const FieldComparison& field : Fields(item)) {
                cells.push_back(field.now == "-" ? "" : field.now);
            }
            const RowOutcome outcome = OutcomeOf(item, settings_);
            cells.push_back(outcome.Token());
            cells.push_back(outcome.Text());
            cells.push_back(outcome.detail);
            out << CsvLine(cells);
        }
    }

private:
    // The device's values now, in the order of the columns; "-" for none.
    static std::vector<FieldComparison> Fields(const ApplyRow& item) {
        const std::optional<FoundDevice> now = ReportedNow(item);
        return CompareSettings(item.target, now ? &*now : nullptr);
    }

    std::vector<ApplyRow> rows_;
    ApplySettings settings_;
};

// What a run would send to whom.
class DryRun : public Shown {
public:
    explicit DryRun(std::vector<ApplyRow> rows) : rows_(std::move(rows)) {}

    void Table(std::ostream& out) const override {
        std::vector<std::vector<std::string>> table;
        for (const ApplyRow& item : rows_) {
            std::string setup = "-";
            if (NotFound(item)) {
                setup = "nothing (not found)";
            } else if (item.needsSetup) {
                setup = "broadcast setup: " + DottedText(item.target.ip) + " " +
                        DottedText(item.target.mask) + " " + DottedText(item.target.gateway) +
                        " port " + std::to_string(item.target.port) + " baud " +
                        BaudText(item.target.baudCode);
            } else if (item.decided) {
                setup = "nothing (already set)";
            }
            const std::string id = item.row.id && !NotFound(item)
                                       ? "ID " + std::to_string(*item.row.id) + " to " +
                                             DottedText(item.target.ip) + ":" +
                                             std::to_string(item.target.port)
                                       : "-";
            table.push_back({MacText(item.row.mac), setup, id});
        }
        PrintTable(out, {"MAC", "SETUP", "SET ID"}, table);
    }

    nlohmann::ordered_json Json() const override {
        nlohmann::ordered_json rows = nlohmann::ordered_json::array();
        for (const ApplyRow& item : rows_) {
            nlohmann::ordered_json setup = nullptr;
            if (item.needsSetup && !NotFound(item)) {
                setup = {{"ip", DottedText(item.target.ip)},
                         {"mask", DottedText(item.target.mask)},
                         {"gateway", DottedText(item.target.gateway)},
                         {"port", item.target.port},
                         {"baud", std::stoul(BaudText(item.target.baudCode))}};
            }
            rows.push_back(
                {{"line", item.row.line},
                 {"mac", MacText(item.row.mac)},
                 {"found", !NotFound(item)},
                 {"setup", setup},
                 {"id", item.row.id && !NotFound(item) ? nlohmann::ordered_json(*item.row.id)
                                                       : nlohmann::ordered_json(nullptr)}});
        }
        return rows;
    }

private:
    static bool NotFound(const ApplyRow& item) {
        return item.decided && item.decided->kind == RowOutcome::NotFound;
    }

    std::vector<ApplyRow> rows_;
};

// The report file, whole: JSON when its name ends in .json, else CSV.
std::optional<Failure> WriteReport(const std::string& path, const ApplyReport& report) {
    std::ostringstream content;
    if (path.size() >= 5 && path.compare(path.size() - 5, 5, ".json") == 0) {
        content << report.Json().dump(2) << '\n';
    } else {
        report.Csv(content);
    }
    return WriteFileAtomically(path, content.str());
}

struct ApplyCommand {
    std::string planFile;
    bool dryRun = false;
    bool allowMissing = false;
    std::string reportFile;
    std::string interfaceName;
    uint32_t parallel = kDefaultParallel;
    int findTimeoutSeconds = kDefaultFindTimeoutSeconds;
    int settleTimeoutSeconds = kDefaultSettleTimeoutMs / kMillisecondsPerSecond;
    bool watch = false;
    uint32_t timeoutSeconds = 0;
    bool again = false;

    CommandResult Run(Format format) const {
        std::vector<PlanRow> plan;
        FailOn(ReadPlanFile(planFile, &plan, watch));
        for (const PlanRow& row : plan) {
            if (row.macNamed && UnprogrammedMac(row.mac)) {
                Warn(planFile + ":" + std::to_string(row.line) + ": MAC " + MacText(row.mac) +
                     " was never programmed (it ends in FF.FF.FF): every device that shares it "
                     "takes its setup");
            }
        }
        ApplySettings settings;
        settings.planName = planFile;
        FailOn(FindInterface(interfaceName, &settings.interfaceIndex));
        settings.interfaceName = interfaceName;
        settings.allowMissing = allowMissing;
        settings.setupsAtOnce = parallel;
        settings.findTimeoutMs = findTimeoutSeconds * kMillisecondsPerSecond;
        settings.settleTimeoutMs = settleTimeoutSeconds * kMillisecondsPerSecond;
        settings.stop = Interrupted;

        SegmentPort port;
        FailOn(OpenPort(port));
        if (watch) {
            return RunStation(port, plan, settings, format);
        }
        std::vector<ApplyRow> rows;
        FailOn(PrepareApply(port, plan, settings, &rows));
        CommandResult result;
        if (dryRun) {
            result.shown = std::make_shared<DryRun>(rows);
            result.closing = "dry run: nothing was sent but the search";
            result.closingIsWarning = true;
            return result;
        }
        CommissionRows(port, settings, CurrentReporter(), rows);
        result.status = ApplyStatus(rows, settings);
        const auto report = std::make_shared<ApplyReport>(rows, settings);
        result.shown = report;
        // The devices were commissioned: the report on stdout still shows
        // it, and the status says that the file is missing.
        if (!reportFile.empty()) {
            if (const std::optional<Failure> failure = WriteReport(reportFile, *report)) {
                Warn(failure->message);
                result.status = std::max(result.status, failure->status);
            }
        }
        return result;
    }

    // The commissioning station: the devices as they are plugged in.
    CommandResult RunStation(SegmentPort& port, const std::vector<PlanRow>& plan,
                             const ApplySettings& apply, Format format) const {
        std::vector<ApplyRow> rows;
        for (const PlanRow& row : plan) {
            ApplyRow item;
            item.row = row;
            rows.push_back(item);
        }
        if (!reportFile.empty() && !again) {
            FailOn(TakeEarlierReport(reportFile, rows));
        }
        // The devices on the segment now: they never take a row without a
        // MAC.
        RepeatedSearchOptions search;
        search.interfaceIndex = apply.interfaceIndex;
        search.stop = apply.stop;
        DeviceSightings present;
        FailOn(Search(port, search, interfaceName, &present));

        if (format == Format::Json) {
            SetCurrentReporter(MakeReporter(ReporterKind::JsonLines, std::cout));
        }
        std::optional<Failure> reportFailure;
        StationSettings settings;
        settings.apply = apply;
        settings.timeoutMs = static_cast<int>(timeoutSeconds) * kMillisecondsPerSecond;
        settings.rowEnded = [&](const std::vector<ApplyRow>& now) {
            if (!reportFile.empty()) {
                reportFailure = WriteReport(reportFile, ApplyReport(now, apply));
            }
        };
        ::RunStation(port, settings, present, CurrentReporter(), rows);

        CommandResult result;
        const auto report = std::make_shared<ApplyReport>(rows, apply);
        if (!reportFile.empty()) {
            reportFailure = WriteReport(reportFile, *report);
        }
        result.status = Interrupted() ? InterruptedStatus() : kExitOk;
        for (const ApplyRow& row : rows) {
            if (result.status == kExitOk && !OutcomeOf(row, apply).Good()) {
                result.status = kExitDeviceFailed;
            }
        }
        if (reportFailure) {
            Warn(reportFailure->message);
            result.status = std::max(result.status, reportFailure->status);
        }
        if (format == Format::Json) {
            // The events went to stdout one by one; the report is the last.
            CurrentReporter().Event({"report", "", "the report", {{"rows", report->Json()}}});
        } else {
            result.shown = report;
        }
        return result;
    }
};

}  // namespace

std::string ApplyFooter() {
    const auto ms = [](int milliseconds) { return Duration(milliseconds); };
    return Wrapped(
        "Columns by header: mac (required), ip, mask, gateway, port, baud, id; an empty cell "
        "keeps the device's present value, other columns are ignored, so the output of "
        "`velquint search --csv` is a plan. Blank rows and rows whose first cell starts with # "
        "are skipped. The whole plan is checked before anything is sent: malformed values, a "
        "MAC or target IP twice, a target IP another device has, a MAC that devices with "
        "different settings share.\n\n"
        "Waits and retries: the search goes on (a request every " +
        ms(kSearchMorePassIntervalMs) +
        " after the first three) until every planned device has answered or --find-timeout "
        "passes; a device still missing refuses the plan. Setups go by broadcast out of the "
        "interface the device answered on, several at once (--parallel); an unconfirmed setup "
        "goes again " +
        ms(kSetupResendAfterMs[0]) + ", " + ms(kSetupResendAfterMs[1]) + " and " +
        ms(kSetupResendAfterMs[2]) +
        " after the first datagram, and whenever the device answers a search with its old "
        "values. Then the devices are searched for every " +
        ms(kReturnSearchSlowMs) + " (every " + ms(kReturnSearchFastMs) +
        " while they come back) until each answers with every asked value, since many restart "
        "for seconds after a setup; a device seen with the asked values counts as set up even "
        "when no confirmation came. Its ID is then written over TCP at the new address and "
        "port, " +
        std::to_string(kIdWritesAtOnce) + " at once, a refused or reset connection again every " +
        ms(kIdRetryAfterMs) +
        ", and the ID in the device's answer must be the ID asked. Each device has "
        "--settle-timeout, from its first setup datagram, for all of that.\n\n"
        "Outcomes, as token (text): verified (applied and verified), already-set (already set), "
        "not-confirmed (not confirmed), not-back (confirmed but not back), other-values "
        "(confirmed but reports other values), id-not-written (ID not written), not-found (with "
        "--allow-missing, and with --watch for devices that never came), interrupted "
        "(stopped, by Ctrl-C or SIGTERM), refused (with --watch: the device that came cannot "
        "take the row). Exit status 0 only when every row ended verified or already-set; 3 "
        "when the plan was refused only for devices that did not answer.\n\n"
        "--watch, the commissioning station: the devices on the segment at the start are "
        "listed; then the segment is watched (as velquint watch does) and each device is "
        "commissioned as soon as it answers: one that a row names by its MAC, or any other "
        "new device for the next row that leaves mac empty, in plan order (never one whose MAC "
        "ends in FF.FF.FF, nor one there from the start). The report is rewritten after each "
        "device, and a second run with the same --report continues where the first stopped.");
}

CommandRun AddApplyCommand(CLI::App& apply) {
    auto command = std::make_shared<ApplyCommand>();
    apply.add_option("PLAN", command->planFile, "The plan: CSV with a header row; - reads stdin")
        ->type_name("FILE")
        ->required();
    auto* dryRun =
        apply.add_flag("-n,--dry-run", command->dryRun,
                       "Check the plan, search, and show what would be sent to whom; send nothing "
                       "else");
    apply
        .add_option("-r,--report", command->reportFile,
                    "Also write the report to FILE: JSON when it ends in .json, else CSV")
        ->type_name("FILE");
    apply
        .add_option("-P,--parallel", command->parallel,
                    "Setups in their first seconds (sent again by the clock) at once, 1 to " +
                        std::to_string(kLargestParallel))
        ->type_name("N")
        ->check(NumberCheck(1, kLargestParallel))
        ->default_str(std::to_string(kDefaultParallel));
    apply
        .add_option("-f,--find-timeout", command->findTimeoutSeconds,
                    "Seconds to search for the plan's devices before refusing those missing, 1 "
                    "to " +
                        std::to_string(kLongestTimeoutSeconds))
        ->type_name("SECONDS")
        ->check(NumberCheck(1, kLongestTimeoutSeconds))
        ->default_str(std::to_string(kDefaultFindTimeoutSeconds));
    apply
        .add_option("-t,--settle-timeout", command->settleTimeoutSeconds,
                    "Seconds each device has, from its first setup datagram, to take the setup, "
                    "come back with the asked values and take its ID, 1 to " +
                        std::to_string(kLongestTimeoutSeconds))
        ->type_name("SECONDS")
        ->check(NumberCheck(1, kLongestTimeoutSeconds))
        ->default_str(std::to_string(kDefaultSettleTimeoutMs / kMillisecondsPerSecond));
    AddInterfaceOption(apply, &command->interfaceName);
    auto* watch = apply.add_flag(
        "-W,--watch", command->watch,
        "Commissioning station: take the devices as they are plugged in, until every row has "
        "ended, --timeout or Ctrl-C; rows may leave mac empty");
    apply
        .add_option("-T,--timeout", command->timeoutSeconds,
                    "With --watch: take no device after this many seconds; 0 (the default): "
                    "never")
        ->type_name("SECONDS")
        ->check(NumberCheck(0, kLongestStationSeconds))
        ->default_str("0")
        ->needs(watch);
    watch->excludes(dryRun);
    apply
        .add_flag("--again", command->again,
                  "With --watch: commission every row, also those the --report of an earlier "
                  "run shows verified")
        ->needs(watch);
    apply.add_flag("--allow-missing", command->allowMissing,
                   "Report a row whose device does not answer the search instead of refusing "
                   "the plan");
    return [command](Format format) { return command->Run(format); };
}
