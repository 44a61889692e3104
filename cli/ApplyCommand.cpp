// velquint apply: commissions the devices of a plan file and reports one
// row per plan row with one outcome each (the work itself is in Apply.cpp).
#include <CLI/CLI.hpp>

#include <algorithm>
#include <ostream>

#include "cli/Apply.h"
#include "cli/ApplyReport.h"
#include "cli/Commands.h"
#include "cli/HelpText.h"
#include "cli/Options.h"
#include "cli/ReportEvent.h"
#include "cli/Reporter.h"
#include "cli/Row.h"
#include "cli/Search.h"
#include "cli/Signals.h"
#include "cli/Station.h"
#include "commission/DeviceCommission.h"
#include "commission/SearchSchedule.h"

namespace {

// Setups in their first seconds at once. Every broadcast setup reaches every
// device on the segment, each of which must look at it: 64 keeps a burst to
// 64 datagrams of 29 bytes (under 2 KB on the wire, and at most 16 KB of
// confirmations waiting in the socket), yet sets up 255 devices that take
// 200 ms to confirm in four rounds, about 0.8 s.
constexpr uint32_t kDefaultParallel = 64;
constexpr uint32_t kLargestParallel = 255;

// What a run would send to whom.
class DryRun : public Shown {
public:
    explicit DryRun(std::vector<ApplyRow> rows) : rows_(std::move(rows)) {}

    void Table(std::ostream& out) const override { WriteTable(out, rows_, Put); }
    nlohmann::ordered_json Json() const override {
        return JsonRows(PutRows(FormatRow::Kind::Json, rows_, Put));
    }

private:
    static void Put(RowWriter& row, const ApplyRow& item) {
        const bool found = !(item.decided && item.decided->kind == OutcomeKind::NotFound);
        const TargetSettings& target = item.target;
        row.Number("line", static_cast<int64_t>(item.row.line), kInJson);
        row.Text("mac", MacText(item.row.mac));
        row.Flag("found", found, kInJson);
        std::string setup;
        if (!found) {
            setup = "nothing (not found)";
        } else if (item.needsSetup) {
            setup = "broadcast setup: " + DottedText(target.ip) + " " + DottedText(target.mask) +
                    " " + DottedText(target.gateway) + " port " + std::to_string(target.port) +
                    " baud " + BaudText(target.baudCode);
        } else if (item.decided) {
            setup = "nothing (already set)";
        }
        row.Text("setup", setup, kInTable);
        row.Begin("setup", found && item.needsSetup);
        row.Address("ip", target.ip, kInJson);
        row.Address("mask", target.mask, kInJson);
        row.Address("gateway", target.gateway, kInJson);
        row.Number("port", target.port, kInJson);
        row.Number("baud", std::stoul(BaudText(target.baudCode)), kInJson);
        row.End();
        const std::optional<uint8_t> id = found ? item.row.id : std::nullopt;
        row.Text({"id", "SET ID"},
                 id ? "ID " + std::to_string(*id) + " to " + DottedText(target.ip) + ":" +
                          std::to_string(target.port)
                    : "",
                 kInTable);
        row.Number("id", id, kInJson);
    }

    std::vector<ApplyRow> rows_;
};

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

    CommandResult Run(const CommandContext& context) const {
        std::vector<PlanRow> plan;
        FailOn(ReadPlanFile(planFile, &plan, watch));
        for (const PlanRow& row : plan) {
            if (row.macNamed && UnprogrammedMac(row.mac)) {
                context.reporter.Warn(
                    planFile + ":" + std::to_string(row.line) + ": MAC " + MacText(row.mac) +
                    " was never programmed (it ends in FF.FF.FF): every device that shares it "
                    "takes its setup");
            }
        }
        const ApplySettings settings = Settings(context);
        SegmentPort port;
        FailOn(OpenPort(port));
        return watch ? RunAsStation(context, port, plan, settings)
                     : ApplyPlan(context, port, plan, settings);
    }

    // What apply and the station run with, from the options.
    ApplySettings Settings(const CommandContext& context) const {
        ApplySettings settings;
        settings.planName = planFile;
        FailOn(FindInterface(interfaceName, &settings.interfaceIndex));
        settings.interfaceName = interfaceName;
        settings.allowMissing = allowMissing;
        settings.setupsAtOnce = parallel;
        settings.findTimeoutMs = findTimeoutSeconds * kMillisecondsPerSecond;
        settings.settleTimeoutMs = settleTimeoutSeconds * kMillisecondsPerSecond;
        settings.stationTimeoutMs = static_cast<int>(timeoutSeconds) * kMillisecondsPerSecond;
        settings.stop = &context.stop;
        return settings;
    }

    CommandResult ApplyPlan(const CommandContext& context, SegmentPort& port,
                            const std::vector<PlanRow>& plan, const ApplySettings& settings) const {
        std::vector<ApplyRow> rows;
        FailOn(PrepareApply(port, plan, settings, context.reporter, &rows));
        if (dryRun) {
            CommandResult result;
            result.shown = std::make_shared<DryRun>(rows);
            result.closing = "dry run: nothing was sent but the search";
            result.closingIsWarning = true;
            return result;
        }
        CommissionRows(port, settings, context.reporter, rows);
        return Reported(context, rows, settings, std::nullopt);
    }

    // The commissioning station: the devices as they are plugged in.
    CommandResult RunAsStation(const CommandContext& context, SegmentPort& port,
                               const std::vector<PlanRow>& plan, const ApplySettings& apply) const {
        std::vector<ApplyRow> rows = RowsOf(plan);
        if (!reportFile.empty() && !again) {
            FailOn(TakeEarlierReport(reportFile, rows));
        }
        // The devices on the segment now: they never take a row without a
        // MAC.
        RepeatedSearchOptions search;
        search.interfaceIndex = apply.interfaceIndex;
        search.stop = context.stop.Check();
        DeviceSightings present;
        FailOn(Search(port, search, interfaceName, context.reporter, &present));
        std::optional<Failure> reportFailure;
        StationSettings settings;
        settings.apply = apply;
        settings.rowEnded = [&](const std::vector<ApplyRow>& now) {
            if (!reportFile.empty()) {
                reportFailure = WriteReportFile(reportFile, ApplyReport(now, apply));
            }
        };
        RunStation(port, settings, present, context.reporter, rows);
        return Reported(context, rows, apply, reportFailure);
    }

    // The report of a run, on stdout (a station's with --json as its last
    // event) and in the report file, and the run's status. The devices were
    // commissioned either way: a report file that cannot be written is told,
    // and the status says so.
    CommandResult Reported(const CommandContext& context, const std::vector<ApplyRow>& rows,
                           const ApplySettings& settings,
                           std::optional<Failure> reportFailure) const {
        const auto report = std::make_shared<ApplyReport>(rows, settings);
        if (!reportFile.empty()) {
            reportFailure = WriteReportFile(reportFile, *report);
        }
        CommandResult result;
        result.status = RunStatus(rows, settings);
        if (reportFailure) {
            context.reporter.Warn(reportFailure->message);
            result.status = std::max(result.status, reportFailure->status);
        }
        if (watch && context.format == Format::Json) {
            // The events went to stdout one by one; the report is the last.
            context.reporter.Event({"report", "", "the report", {{"rows", report->Json()}}});
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
        "Outcomes, as token (text): " +
        OutcomeTokensText() +
        ". Exit status 0 only when every row ended verified or already-set; 3 "
        "when the plan was refused only for devices that did not answer.\n\n"
        "--watch, the commissioning station: the devices on the segment at the start are "
        "listed; then the segment is watched (as velquint watch does) and each device is "
        "commissioned as soon as it answers: one that a row names by its MAC, or any other "
        "new device for the next row that leaves mac empty, in plan order (never one whose MAC "
        "ends in FF.FF.FF, nor one there from the start). The report is rewritten after each "
        "device, and a second run with the same --report continues where the first stopped.");
}

namespace {

// The options of the commissioning station: --watch and what goes with it.
void AddStationOptions(CLI::App& apply, ApplyCommand& command, CLI::Option* dryRun) {
    auto* watch = apply.add_flag(
        "-W,--watch", command.watch,
        "Commissioning station: take the devices as they are plugged in, until every row has "
        "ended, --timeout or Ctrl-C; rows may leave mac empty");
    apply
        .add_option("-T,--timeout", command.timeoutSeconds,
                    "With --watch: take no device after this many seconds; 0 (the default): "
                    "never")
        ->type_name("SECONDS")
        ->check(NumberCheck(0, kLongestWatchSeconds))
        ->default_str("0")
        ->needs(watch);
    watch->excludes(dryRun);
    apply
        .add_flag("--again", command.again,
                  "With --watch: commission every row, also those the --report of an earlier "
                  "run shows verified")
        ->needs(watch);
}

}  // namespace

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
    AddStationOptions(apply, *command, dryRun);
    apply.add_flag("--allow-missing", command->allowMissing,
                   "Report a row whose device does not answer the search instead of refusing "
                   "the plan");
    return {[command](const CommandContext& context) { return command->Run(context); },
            [command] { return command->watch; }};
}
