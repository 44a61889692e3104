// velquint apply: commissions the devices of a plan file. Reads and checks
// the whole plan, searches once, sends the setups (several in flight at
// once), writes the IDs, searches again to verify, and reports one row per
// plan row.
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
#include "cli/Search.h"
#include "cli/SetupOutcome.h"
#include "idassign/DeviceId.h"
#include "setup/SetupBatch.h"

namespace {

// Setups in flight at once. Every broadcast setup reaches every device on the
// segment, each of which must look at it: 64 keeps a burst to 64 datagrams of
// 29 bytes (under 2 KB on the wire, and at most 16 KB of confirmations
// waiting in the socket), yet does the setups of 255 devices that take 200 ms
// to confirm in four rounds, about 0.8 s, where one at a time would need 51 s.
constexpr size_t kDefaultParallel = 64;
constexpr size_t kLargestParallel = 255;
constexpr int kSetupAttempts = 2;

enum class Outcome {
    AlreadySet,
    Verified,
    OtherValues,
    NotConfirmed,
    IdNotWritten,
    NotFound,
};

const char* OutcomeText(Outcome outcome) {
    switch (outcome) {
        case Outcome::AlreadySet:
            return "already set";
        case Outcome::Verified:
            return "applied and verified";
        case Outcome::OtherValues:
            return "confirmed but reports other values";
        case Outcome::NotConfirmed:
            return "not confirmed";
        case Outcome::IdNotWritten:
            return "ID not written";
        case Outcome::NotFound:
            return "not found";
    }
    return "";
}

// One plan row on its way through the steps.
struct RowWork {
    PlanRow row;
    const FoundDevice* before = nullptr;  // as the first search found it
    TargetSettings target;
    bool needsSetup = false;
    bool confirmed = false;
    int setupResult = 0;
    int idResult = 0;
    std::string idWhy;  // why the ID was not written
    std::vector<FieldComparison> fields;
    std::optional<FoundDevice> now;  // as the verification search found it
    Outcome outcome = Outcome::Verified;
    std::string detail;

    bool Good() const { return outcome == Outcome::AlreadySet || outcome == Outcome::Verified; }
};

// "[3/40] 00.1A.2B.3C.4D.5E applied": one line redrawn on a terminal, one
// line per step elsewhere.
class Progress {
public:
    explicit Progress(size_t total) : total_(total), terminal_(StderrIsTerminal()) {}
    ~Progress() {
        if (terminal_ && drawn_) {
            std::cerr << "\r\033[K" << std::flush;
        }
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // A row has finished a step; `finished` when it has nothing more to do.
    void Step(const RowWork& work, const std::string& what, bool finished) {
        done_ += finished ? 1 : 0;
        const std::string line = "[" + std::to_string(done_) + "/" + std::to_string(total_) + "] " +
                                 MacText(work.row.mac) + " " + what;
        if (terminal_) {
            std::cerr << "\r\033[K" << line << std::flush;
            drawn_ = true;
        } else {
            std::cerr << "velquint: " << line << '\n';
        }
    }

private:
    size_t total_;
    size_t done_ = 0;
    bool terminal_;
    bool drawn_ = false;
};

struct ApplyCommand {
    std::string planFile;
    bool dryRun = false;
    bool json = false;
    bool allowMissing = false;
    std::string reportFile;
    size_t parallel = kDefaultParallel;

    int Run() const {
        std::vector<PlanRow> rows = ReadPlanFile();
        const std::vector<FoundDevice> found = SearchOrFail(SearchSettings{});
        std::vector<RowWork> work = CheckAgainstSearch(rows, found);
        if (dryRun) {
            PrintDryRun(work);
            return kExitOk;
        }
        size_t active = 0;
        for (const RowWork& item : work) {
            active +=
                item.outcome == Outcome::NotFound || item.outcome == Outcome::AlreadySet ? 0 : 1;
        }
        {
            Progress progress(active);
            RunSetups(work, progress);
            WriteIds(work, progress);
        }
        Verify(work, SearchOrFail(SearchSettings{}));
        Report(work);
        for (const RowWork& item : work) {
            if (!item.Good()) {
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
                                            const std::vector<FoundDevice>& found) const {
        std::vector<RowWork> work;
        std::vector<std::string> refusals;
        const auto refuse = [this, &refusals](const PlanRow& row, const std::string& what) {
            refusals.push_back(planFile + ":" + std::to_string(row.line) + ": " + what);
        };
        for (const PlanRow& row : rows) {
            RowWork item;
            item.row = row;
            item.before = FindDevice(found, row.mac);
            if (item.before == nullptr) {
                if (!allowMissing) {
                    refuse(row, "no device with MAC " + MacText(row.mac) +
                                    " answered the search (--allow-missing skips it)");
                }
                item.outcome = Outcome::NotFound;
                item.detail = "no answer to the search";
                work.push_back(item);
                continue;
            }
            std::string missing;
            if (!MergeSettings(*item.before, row, &item.target, &missing)) {
                refuse(row, "device " + MacText(row.mac) + " reports no " + missing +
                                ", and the plan names none");
            }
            for (const FoundDevice& other : found) {
                if (other.mac != row.mac && other.ip == item.target.ip) {
                    refuse(row, "IP " + DottedText(item.target.ip) + " is the address of device " +
                                    MacText(other.mac) + " already");
                    break;
                }
            }
            item.needsSetup = !AlreadySet(*item.before, item.target);
            if (!item.needsSetup && !row.id) {
                item.outcome = Outcome::AlreadySet;
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
            if (item.outcome == Outcome::NotFound) {
                setup = "nothing (not found)";
            } else if (item.needsSetup) {
                setup = "broadcast setup: " + DottedText(item.target.ip) + " " +
                        DottedText(item.target.mask) + " " + DottedText(item.target.gateway) +
                        " port " + std::to_string(item.target.port) + " baud " +
                        BaudText(item.target.baudCode);
            } else if (item.outcome == Outcome::AlreadySet) {
                setup = "nothing (already set)";
            }
            const std::string id = item.row.id && item.outcome != Outcome::NotFound
                                       ? "ID " + std::to_string(*item.row.id) + " to " +
                                             DottedText(item.target.ip) + ":" +
                                             std::to_string(item.target.port)
                                       : "-";
            table.push_back({MacText(item.row.mac), setup, id});
        }
        PrintTable(std::cout, {"MAC", "SETUP", "SET ID"}, table);
        Say("dry run: nothing was sent but the search");
    }

    void RunSetups(std::vector<RowWork>& work, Progress& progress) const {
        std::vector<SetupBatchEntry> entries;
        std::vector<size_t> rowOf;
        for (size_t i = 0; i < work.size(); ++i) {
            if (work[i].needsSetup && work[i].outcome != Outcome::NotFound) {
                entries.push_back({MakeSetupRequest(*work[i].before, work[i].target, true)});
                rowOf.push_back(i);
            }
        }
        if (entries.empty()) {
            return;
        }
        SetupBatchOptions options;
        options.window = parallel;
        options.attempts = kSetupAttempts;
        options.onDone = [&](size_t index) {
            RowWork& item = work[rowOf[index]];
            item.setupResult = entries[index].result;
            item.confirmed = item.setupResult == kSetupSuccess;
            const bool finished = !item.confirmed || !item.row.id;
            progress.Step(item, item.confirmed ? "setup confirmed" : "setup not confirmed",
                          finished);
        };
        FailOnLocalSetupError(SendSetupRequests(entries, options));
    }

    // At each device's new address and port, over TCP, one after the other.
    static void WriteIds(std::vector<RowWork>& work, Progress& progress) {
        for (RowWork& item : work) {
            if (!item.row.id || item.outcome == Outcome::NotFound ||
                (item.needsSetup && !item.confirmed)) {
                continue;
            }
            COM_Class channel;
            channel.Kind = TransportKind::Tcp;
            CopyAddressText(channel.HostAddress, DottedText(item.target.ip));
            channel.HostPort = item.target.port;
            const DeviceIdOutcome outcome = WriteDeviceId(channel, *item.row.id);
            item.idResult = outcome.openResult < 0 ? outcome.openResult : outcome.result;
            if (!outcome.Written()) {
                item.idWhy = ChannelResultText(item.idResult, TransportKind::Tcp);
            }
            progress.Step(item,
                          outcome.Written() ? "ID " + std::to_string(*item.row.id) + " written"
                                            : "ID not written",
                          true);
        }
    }

    static void Verify(std::vector<RowWork>& work, const std::vector<FoundDevice>& now) {
        for (RowWork& item : work) {
            if (item.outcome == Outcome::NotFound) {
                continue;
            }
            const FoundDevice* device = FindDevice(now, item.row.mac);
            item.fields = CompareSettings(item.target, device);
            if (device != nullptr) {
                item.now = *device;
            }
            if (item.needsSetup && !item.confirmed) {
                item.outcome = Outcome::NotConfirmed;
                item.detail = item.setupResult == kSetupSendFailed
                                  ? "the setup datagram could not be sent"
                                  : "no confirmation, also after a second datagram";
            } else if (device == nullptr) {
                item.outcome = Outcome::OtherValues;
                item.detail = "no answer to the verification search";
            } else if (!AllMatch(item.fields)) {
                item.outcome = Outcome::OtherValues;
                for (const FieldComparison& field : item.fields) {
                    if (!field.matches) {
                        item.detail += (item.detail.empty() ? "" : ", ") + field.field +
                                       ": asked " + field.asked + ", now " + field.now;
                    }
                }
            } else if (!item.idWhy.empty()) {
                item.outcome = Outcome::IdNotWritten;
                item.detail = item.idWhy;
            } else if (item.outcome != Outcome::AlreadySet) {
                item.outcome = Outcome::Verified;
            }
        }
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

    static nlohmann::ordered_json ReportJson(const std::vector<RowWork>& work) {
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
            rows.push_back({{"line", row.line},
                            {"mac", MacText(row.mac)},
                            {"asked", asked},
                            {"now", item.now ? DeviceJson(*item.now) : nullptr},
                            {"outcome", OutcomeText(item.outcome)},
                            {"detail", item.detail}});
        }
        return rows;
    }

    static std::vector<std::string> NowCells(const RowWork& item) {
        std::vector<std::string> cells(5, "-");
        for (size_t i = 0; i < item.fields.size() && i < cells.size(); ++i) {
            cells[i] = item.fields[i].now;
        }
        return cells;
    }

    static void PrintReportTable(const std::vector<RowWork>& work) {
        std::vector<std::vector<std::string>> table;
        for (const RowWork& item : work) {
            std::vector<std::string> cells = {MacText(item.row.mac)};
            for (const std::string& cell : NowCells(item)) {
                cells.push_back(cell);
            }
            cells.push_back(item.row.id ? std::to_string(*item.row.id) : "-");
            cells.push_back(std::string(OutcomeText(item.outcome)) +
                            (item.detail.empty() ? "" : " (" + item.detail + ")"));
            table.push_back(cells);
        }
        PrintTable(std::cout, {"MAC", "IP", "MASK", "GATEWAY", "PORT", "BAUD", "ID", "OUTCOME"},
                   table);
    }

    static void WriteReportCsv(std::ostream& out, const std::vector<RowWork>& work) {
        out << CsvLine({"line", "mac", "ip_asked", "mask_asked", "gateway_asked", "port_asked",
                        "baud_asked", "id_asked", "ip_now", "mask_now", "gateway_now", "port_now",
                        "baud_now", "outcome", "detail"});
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
            cells.push_back(OutcomeText(item.outcome));
            cells.push_back(item.detail);
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
                     "Setups awaiting their confirmation at once")
        ->check(CLI::Range(size_t{1}, kLargestParallel))
        ->default_str(std::to_string(kDefaultParallel));
    apply->add_flag("--allow-missing", command->allowMissing,
                    "Report a row whose device does not answer the search instead of refusing "
                    "the plan");
    apply->footer(
        "Columns by header: mac (required), ip, mask, gateway, port, baud, id; an empty cell "
        "keeps the device's present value, other columns are ignored, so the output of "
        "`velquint search --csv` is a plan. The whole plan is checked before anything is sent: "
        "malformed values, a MAC or target IP twice, a target IP another device has, a device "
        "that does not answer. Setups go by broadcast, several at once, each retried once; IDs "
        "are written over TCP at the new address and port; a second search verifies. Exit status "
        "0 only when every row ended verified or already set.");
    return [command] { return command->Run(); };
}
