// velquint apply: commissions the devices of a plan file. Reads and checks
// the whole plan, searches until every planned device has answered, then
// sets each one up, waits for it to come back at its new address, writes its
// ID, and reports one row per plan row with one outcome each.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "cli/Cli.h"
#include "cli/Commands.h"
#include "cli/Csv.h"
#include "cli/Plan.h"
#include "cli/Progress.h"
#include "cli/Search.h"
#include "cli/SetupOutcome.h"
#include "commission/Commission.h"

namespace {

// Setups in their first seconds at once. Every broadcast setup reaches every
// device on the segment, each of which must look at it: 64 keeps a burst to
// 64 datagrams of 29 bytes (under 2 KB on the wire, and at most 16 KB of
// confirmations waiting in the socket), yet sets up 255 devices that take
// 200 ms to confirm in four rounds, about 0.8 s.
constexpr size_t kDefaultParallel = 64;
constexpr size_t kLargestParallel = 255;
constexpr int kDefaultFindTimeoutSeconds = 5;
constexpr int kLongestTimeoutSeconds = 600;

const char kApplyHelp[] =
    "Columns by header: mac (required), ip, mask, gateway, port, baud, id; an empty\n"
    "cell keeps the device's present value, other columns are ignored, so the\n"
    "output of `velquint search --csv` is a plan. The whole plan is checked before\n"
    "anything is sent: malformed values, a MAC or target IP twice, a target IP\n"
    "another device has, a MAC that devices with different settings share.\n"
    "Waits and retries: the search goes on (a request every 0.5 s after the first\n"
    "three) until every planned device has answered or --find-timeout passes; a\n"
    "device still missing refuses the plan. Setups go by broadcast out of the\n"
    "interface the device answered on, several at once (--parallel); an unconfirmed\n"
    "setup goes again 0.5, 1 and 2 s after the first datagram, and whenever the\n"
    "device answers a search with its old values. Then the devices are searched for\n"
    "once a second (every 250 ms while they come back) until each answers with\n"
    "every asked value, since many restart for seconds after a setup; a device seen\n"
    "with the asked values counts as set up even when no confirmation came. Its ID\n"
    "is then written over TCP at the new address and port, 16 at once, a refused or\n"
    "reset connection again every 0.5 s, and the ID in the device's answer must be\n"
    "the ID asked. Each device has --settle-timeout, from its first setup datagram,\n"
    "for all of that.\n"
    "Outcomes, as token (text): verified (applied and verified), already-set\n"
    "(already set), not-confirmed (not confirmed), not-back (confirmed but not\n"
    "back), other-values (confirmed but reports other values), id-not-written (ID\n"
    "not written), not-found (with --allow-missing). Exit status 0 only when every\n"
    "row ended verified or already-set.";

// One plan row on its way through the steps.
struct RowWork {
    PlanRow row;
    std::optional<FoundDevice> before;  // as the first search found it
    TargetSettings target;
    bool needsSetup = false;
    std::optional<RowOutcome> decided;  // already set or not found, before anything was sent
    std::optional<size_t> task;         // its commissioning task
    CommissionResult result;
};

struct ApplyCommand {
    std::string planFile;
    bool dryRun = false;
    bool json = false;
    bool allowMissing = false;
    std::string reportFile;
    std::string interfaceName;
    size_t parallel = kDefaultParallel;
    int findTimeoutSeconds = kDefaultFindTimeoutSeconds;
    int settleTimeoutSeconds = kDefaultSettleTimeoutMs / kMillisecondsPerSecond;

    int Run() const {
        const std::vector<PlanRow> rows = ReadPlanFile();
        for (const PlanRow& row : rows) {
            if (UnprogrammedMac(row.mac)) {
                Warn(planFile + ":" + std::to_string(row.line) + ": MAC " + MacText(row.mac) +
                     " was never programmed (it ends in FF.FF.FF): every device that shares it "
                     "takes its setup");
            }
        }
        SegmentPort port;
        OpenPortOrFail(port);
        RepeatedSearchOptions search;
        search.interfaceIndex = InterfaceOrFail(interfaceName);
        search.timeLimitMs = findTimeoutSeconds * kMillisecondsPerSecond;
        search.complete = [&rows](const DeviceSightings& heard) {
            return std::all_of(rows.begin(), rows.end(),
                               [&heard](const PlanRow& row) { return heard.Heard(row.mac); });
        };
        const DeviceSightings found = SearchOrFail(port, search, interfaceName);
        std::vector<RowWork> work = CheckAgainstSearch(rows, found);
        if (dryRun) {
            PrintDryRun(work);
            return kExitOk;
        }
        Commission(port, search.interfaceIndex, work);
        Report(work);
        for (const RowWork& item : work) {
            if (!Outcome(item).Good()) {
                return kExitDeviceFailed;
            }
        }
        return kExitOk;
    }

    std::vector<PlanRow> ReadPlanFile() const {
        std::ifstream in(planFile, std::ios::binary);
        if (!in) {
            Fail(kExitUsage, "cannot read " + planFile + ": " + std::strerror(errno));
        }
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        std::vector<PlanRow> rows;
        std::vector<std::string> refusals;
        if (!ReadPlan(text, planFile, &rows, &refusals)) {
            for (const std::string& refusal : refusals) {
                std::cerr << refusal << '\n';
            }
            Fail(kExitUsage, "the plan was refused; nothing was sent");
        }
        return rows;
    }

    // The checks that need the search. Any refusal ends the command: nothing
    // but the search has been sent.
    std::vector<RowWork> CheckAgainstSearch(const std::vector<PlanRow>& rows,
                                            const DeviceSightings& found) const {
        std::vector<RowWork> work;
        std::vector<std::string> refusals;
        const auto refuse = [this, &refusals](const PlanRow& row, const std::string& what) {
            refusals.push_back(planFile + ":" + std::to_string(row.line) + ": " + what);
        };
        const std::vector<FoundDevice> everyone = ListDevices(found, false);
        for (const PlanRow& row : rows) {
            RowWork item;
            item.row = row;
            const std::vector<const DeviceSighting*> heard = found.Of(row.mac);
            if (heard.empty()) {
                if (!allowMissing) {
                    refuse(row, "no device with MAC " + MacText(row.mac) +
                                    " answered the search (--allow-missing skips it)");
                }
                item.decided = RowOutcome{RowOutcome::NotFound, "no answer to the search"};
                work.push_back(item);
                continue;
            }
            if (heard.size() > 1) {
                std::string addresses;
                for (const DeviceSighting* sighting : heard) {
                    const FoundDevice twin = ReadFoundDevice(sighting->record);
                    addresses += (addresses.empty() ? "" : ", ") +
                                 (twin.ip ? DottedText(*twin.ip) : std::string("no address"));
                }
                refuse(row, std::to_string(heard.size()) + " devices with different settings (" +
                                addresses + ") answer as MAC " + MacText(row.mac) +
                                ": a setup by that MAC would reach all of them");
                work.push_back(item);
                continue;
            }
            item.before = ReadFoundDevice(heard.front()->record, heard.front()->interfaces);
            std::string missing;
            if (!MergeSettings(*item.before, row, &item.target, &missing)) {
                refuse(row, "device " + MacText(row.mac) + " reports no " + missing +
                                ", and the plan names none");
            }
            for (const FoundDevice& other : everyone) {
                if (other.mac != row.mac && other.ip == item.target.ip) {
                    refuse(row, "IP " + DottedText(item.target.ip) + " is the address of device " +
                                    MacText(other.mac) + " already");
                    break;
                }
            }
            item.needsSetup = !AlreadySet(*item.before, item.target);
            if (!item.needsSetup && !row.id) {
                item.decided = RowOutcome{RowOutcome::AlreadySet, ""};
            }
            work.push_back(item);
        }
        if (!refusals.empty()) {
            for (const std::string& refusal : refusals) {
                std::cerr << refusal << '\n';
            }
            Fail(kExitUsage, "the plan was refused; nothing was sent but the search");
        }
        return work;
    }

    void PrintDryRun(const std::vector<RowWork>& work) const {
        std::vector<std::vector<std::string>> table;
        for (const RowWork& item : work) {
            std::string setup = "-";
            const bool notFound = item.decided && item.decided->kind == RowOutcome::NotFound;
            if (notFound) {
                setup = "nothing (not found)";
            } else if (item.needsSetup) {
                setup = "broadcast setup: " + DottedText(item.target.ip) + " " +
                        DottedText(item.target.mask) + " " + DottedText(item.target.gateway) +
                        " port " + std::to_string(item.target.port) + " baud " +
                        BaudText(item.target.baudCode);
            } else if (item.decided) {
                setup = "nothing (already set)";
            }
            const std::string id = item.row.id && !notFound
                                       ? "ID " + std::to_string(*item.row.id) + " to " +
                                             DottedText(item.target.ip) + ":" +
                                             std::to_string(item.target.port)
                                       : "-";
            table.push_back({MacText(item.row.mac), setup, id});
        }
        PrintTable(std::cout, {"MAC", "SETUP", "SET ID"}, table);
        Say("dry run: nothing was sent but the search");
    }

    void Commission(SegmentPort& port, unsigned searchInterface, std::vector<RowWork>& work) const {
        std::vector<CommissionTask> tasks;
        std::vector<std::string> labels;
        for (size_t i = 0; i < work.size(); ++i) {
            RowWork& item = work[i];
            if (item.decided) {
                continue;
            }
            CommissionTask task;
            task.target = SetupValuesFor(item.row.mac, item.target);
            task.setupNeeded = item.needsSetup;
            task.id = item.row.id;
            task.interfaces = item.before->interfaceIndexes;
            item.task = tasks.size();
            tasks.push_back(task);
            labels.push_back(MacText(item.row.mac));
        }
        CommissionOptions options;
        options.setupsAtOnce = parallel;
        options.settleTimeoutMs = settleTimeoutSeconds * kMillisecondsPerSecond;
        options.searchInterface = searchInterface;
        std::vector<CommissionResult> results;
        {
            Progress progress(tasks, labels);
            ::Commission(port, tasks, options, &progress, &results);
        }
        for (RowWork& item : work) {
            if (item.task) {
                item.result = results[*item.task];
            }
        }
    }

    RowOutcome Outcome(const RowWork& item) const {
        if (item.decided) {
            return *item.decided;
        }
        return DescribeResult(item.result, item.row.id, item.needsSetup, settleTimeoutSeconds,
                              item.target, Now(item));
    }

    // What the device reported last: during the run, or in the first search.
    static std::optional<FoundDevice> Now(const RowWork& item) {
        if (!item.result.lastRecord.empty()) {
            return ReadFoundDevice(item.result.lastRecord, item.before->interfaceIndexes);
        }
        return item.before;
    }

    void Report(const std::vector<RowWork>& work) const {
        if (json) {
            std::cout << ReportJson(work).dump(2) << '\n';
        } else {
            PrintReportTable(work);
        }
        if (reportFile.empty()) {
            return;
        }
        std::ofstream out(reportFile, std::ios::binary | std::ios::trunc);
        const bool asJson =
            reportFile.size() >= 5 && reportFile.compare(reportFile.size() - 5, 5, ".json") == 0;
        if (asJson) {
            out << ReportJson(work).dump(2) << '\n';
        } else {
            WriteReportCsv(out, work);
        }
        if (!out) {
            Fail(kExitLocal, "cannot write the report " + reportFile);
        }
    }

    static std::string Asked(const std::optional<uint32_t>& address) {
        return address ? DottedText(*address) : std::string();
    }

    nlohmann::ordered_json ReportJson(const std::vector<RowWork>& work) const {
        nlohmann::ordered_json rows = nlohmann::ordered_json::array();
        for (const RowWork& item : work) {
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
            const RowOutcome outcome = Outcome(item);
            const std::optional<FoundDevice> now = item.before ? Now(item) : std::nullopt;
            rows.push_back({{"line", row.line},
                            {"mac", MacText(row.mac)},
                            {"asked", asked},
                            {"now", now ? DeviceJson(*now) : nullptr},
                            {"outcome", outcome.Token()},
                            {"text", outcome.Text()},
                            {"detail", outcome.detail}});
        }
        return rows;
    }

    // The device's values now: "-" where it reports none.
    std::vector<std::string> NowCells(const RowWork& item) const {
        std::vector<std::string> cells(5, "-");
        if (!item.before) {
            return cells;
        }
        const std::optional<FoundDevice> now = Now(item);
        const std::vector<FieldComparison> fields = CompareSettings(item.target, &*now);
        for (size_t i = 0; i < fields.size() && i < cells.size(); ++i) {
            cells[i] = fields[i].now;
        }
        return cells;
    }

    void PrintReportTable(const std::vector<RowWork>& work) const {
        std::vector<std::vector<std::string>> table;
        for (const RowWork& item : work) {
            std::vector<std::string> cells = {MacText(item.row.mac)};
            for (const std::string& cell : NowCells(item)) {
                cells.push_back(cell);
            }
            cells.push_back(item.row.id ? std::to_string(*item.row.id) : "-");
            const RowOutcome outcome = Outcome(item);
            cells.push_back(outcome.Text() +
                            (outcome.detail.empty() ? "" : " (" + outcome.detail + ")"));
            table.push_back(cells);
        }
        PrintTable(std::cout, {"MAC", "IP", "MASK", "GATEWAY", "PORT", "BAUD", "ID", "OUTCOME"},
                   table);
    }

    void WriteReportCsv(std::ostream& out, const std::vector<RowWork>& work) const {
        out << CsvLine({"line", "mac", "ip_asked", "mask_asked", "gateway_asked", "port_asked",
                        "baud_asked", "id_asked", "ip_now", "mask_now", "gateway_now", "port_now",
                        "baud_now", "outcome", "text", "detail"});
        for (const RowWork& item : work) {
            const PlanRow& row = item.row;
            std::vector<std::string> cells = {std::to_string(row.line),
                                              MacText(row.mac),
                                              Asked(row.ip),
                                              Asked(row.mask),
                                              Asked(row.gateway),
                                              row.port ? std::to_string(*row.port) : "",
                                              row.baudCode ? BaudText(*row.baudCode) : "",
                                              row.id ? std::to_string(*row.id) : ""};
            for (const std::string& cell : NowCells(item)) {
                cells.push_back(cell == "-" ? "" : cell);
            }
            const RowOutcome outcome = Outcome(item);
            cells.push_back(outcome.Token());
            cells.push_back(outcome.Text());
            cells.push_back(outcome.detail);
            out << CsvLine(cells);
        }
    }
};

}  // namespace

CommandRun AddApplyCommand(CLI::App& app) {
    auto command = std::make_shared<ApplyCommand>();
    CLI::App* apply = app.add_subcommand(
        "apply", "Commission the devices of a plan file and report what each now has");
    apply->add_option("PLAN", command->planFile, "The plan: CSV with a header row")->required();
    apply->add_flag("-n,--dry-run", command->dryRun,
                    "Check the plan, search, and show what would be sent to whom; send nothing "
                    "else");
    apply->add_option("-r,--report", command->reportFile,
                      "Also write the report to FILE: JSON when it ends in .json, else CSV");
    apply->add_flag("-j,--json", command->json, "Write the report as JSON");
    apply
        ->add_option("-P,--parallel", command->parallel,
                     "Setups in their first seconds (sent again by the clock) at once")
        ->check(CLI::Range(size_t{1}, kLargestParallel))
        ->default_str(std::to_string(kDefaultParallel));
    apply
        ->add_option("-f,--find-timeout", command->findTimeoutSeconds,
                     "Seconds to search for the plan's devices before refusing those missing")
        ->check(CLI::Range(1, kLongestTimeoutSeconds))
        ->default_str(std::to_string(kDefaultFindTimeoutSeconds));
    apply
        ->add_option("-t,--settle-timeout", command->settleTimeoutSeconds,
                     "Seconds each device has, from its first setup datagram, to take the setup, "
                     "come back with the asked values and take its ID")
        ->check(CLI::Range(1, kLongestTimeoutSeconds))
        ->default_str(std::to_string(kDefaultSettleTimeoutMs / kMillisecondsPerSecond));
    apply->add_option("-i,--interface", command->interfaceName,
                      "Search out of this network interface only, and take only the answers that "
                      "come in on it");
    apply->add_flag("--allow-missing", command->allowMissing,
                    "Report a row whose device does not answer the search instead of refusing "
                    "the plan");
    apply->footer(kApplyHelp);
    return [command] { return command->Run(); };
}
