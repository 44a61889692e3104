#include "cli/Station.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "cli/Csv.h"
#include "cli/Progress.h"
#include "cli/Reporter.h"
#include "cli/Search.h"
#include "commission/Commissioner.h"
#include "commission/SegmentDriver.h"

namespace {

// The live table is drawn again at least this often, for its times.
constexpr int kBoardEveryMs = 1000;

// What the live table shows of a row.
enum class RowState { Waiting, SettingUp, Restarting, WritingId, Ended };

const char* StateText(RowState state) {
    switch (state) {
        case RowState::Waiting:
            return "waiting";
        case RowState::SettingUp:
            return "setting up";
        case RowState::Restarting:
            return "restarting";
        case RowState::WritingId:
            return "writing ID";
        case RowState::Ended:
            break;
    }
    return "";
}

class Station : public CommissionObserver, public SegmentClient {
public:
    Station(const StationSettings& settings, Reporter& reporter, std::vector<ApplyRow>& rows,
            const DeviceSightings& present)
        : settings_(settings),
          reporter_(reporter),
          rows_(rows),
          present_(present),
          progress_(reporter, rows.size()),
          states_(rows.size(), RowState::Waiting),
          started_(rows.size()) {}

    // Rows that ended before (in an earlier run) count, and their devices
    // take no other row; named rows whose devices are on the segment already
    // start.
    void Begin(Commissioner& run, Instant now) {
        run_ = &run;
        now_ = now;
        for (size_t i = 0; i < rows_.size(); ++i) {
            if (rows_[i].decided) {
                taken_.insert(rows_[i].row.mac);
                End(i, false);
            }
        }
        for (const DeviceSighting& sighting : present_.All()) {
            known_.insert(sighting.mac);
            const FoundDevice device = ReadFoundDevice(sighting.record);
            if (device.ip) {
                ips_.emplace(*device.ip, sighting.mac);
            }
        }
        std::string present;
        for (const Mac& mac : known_) {
            present += (present.empty() ? "" : ", ") + MacText(mac);
        }
        if (!present.empty()) {
            Say("on the segment at the start, and so never given a row without a MAC: " + present);
        }
        for (size_t i = 0; i < rows_.size(); ++i) {
            ApplyRow& row = rows_[i];
            const std::vector<const DeviceSighting*> heard = present_.Of(row.row.mac);
            if (row.decided || !row.row.macNamed || heard.empty()) {
                continue;
            }
            if (heard.size() > 1) {
                Refuse(i, std::to_string(heard.size()) +
                              " devices with different settings answer as this MAC");
                continue;
            }
            Take(i, heard.front()->record.data(), heard.front()->record.size(),
                 heard.front()->interfaces);
        }
        Draw();
    }

    // The run: the engine's, with the station's own look at each answer
    // first (a device that came may take a row).
    void Advance(Instant now) override {
        now_ = now;
        run_->Advance(now);
        if (now >= nextBoard_) {
            Draw();
        }
    }
    Instant NextWake() const override { return std::min(run_->NextWake(), nextBoard_); }
    void Answer(Instant now, const uint8_t* record, size_t length,
                unsigned interfaceIndex) override {
        now_ = now;
        Appeared(record, length, interfaceIndex);
        run_->Answer(now, record, length, interfaceIndex);
    }
    void Confirmation(Instant now, const uint8_t* mac) override { run_->Confirmation(now, mac); }
    void IdWritten(Instant now, const IdWriteDone& done) override { run_->IdWritten(now, done); }
    void End(Instant now) override {
        run_->End(now);
        Draw();
    }
    void Stop(Instant now) override { run_->Stop(now); }

    // The run may end: every row has ended, or the time-out has passed, and
    // the devices under way are done.
    bool Over(Instant now) const { return run_->AllDone() && run_->WatchOver(now); }

    // Rows without an outcome when the run ended.
    void Close(bool stopped) {
        for (size_t i = 0; i < rows_.size(); ++i) {
            ApplyRow& row = rows_[i];
            if (row.task) {
                row.result = run_->Result(*row.task);
            } else if (!row.decided) {
                row.decided = RowOutcome{
                    RowOutcome::NotFound,
                    stopped
                        ? "stopped before its device appeared"
                        : "no device for it appeared within " +
                              std::to_string(settings_.timeoutMs / kMillisecondsPerSecond) + " s"};
            }
        }
    }

    void OnStep(size_t task, CommissionStep step, const CommissionResult& result) override {
        progress_.OnStep(task, step, result);
        const size_t i = rowOf_.at(task);
        switch (step) {
            case CommissionStep::SetupSent:
                states_[i] = RowState::SettingUp;
                break;
            case CommissionStep::Confirmed:
                states_[i] = RowState::Restarting;
                break;
            case CommissionStep::Back:
            case CommissionStep::IdFailed:
                states_[i] = rows_[i].row.id ? RowState::WritingId : states_[i];
                break;
            case CommissionStep::Finished:
                rows_[i].result = result;
                End(i, true);
                break;
        }
        Draw();
    }

    void OnWaiting(size_t devices, int waitedMs) override {
        progress_.OnWaiting(devices, waitedMs);
        Draw();
    }

    void OnPortBusy() override {
        reporter_.Event(
            {"port-busy", "", "port 3195 is taken (another search?); the next search tries again"});
    }

private:
    // A device heard for the first time may take a row: the one that names
    // it, or the next without a MAC.
    void Appeared(const uint8_t* record, size_t length, unsigned interfaceIndex) {
        const Mac mac = RecordMac(record, length);
        if (!known_.insert(mac).second) {
            return;
        }
        run_->SegmentChanged();
        const FoundDevice device = ReadFoundDevice(std::vector<uint8_t>(record, record + length));
        if (device.ip) {
            ips_.emplace(*device.ip, mac);
        }
        if (taken_.count(mac) != 0) {
            return;
        }
        ReportEvent appeared{"appeared", MacText(mac), MacText(mac) + " appeared"};
        appeared.values["device"] = DeviceJson(
            ReadFoundDevice(std::vector<uint8_t>(record, record + length), {interfaceIndex}));
        const auto named = std::find_if(rows_.begin(), rows_.end(), [&mac](const ApplyRow& row) {
            return row.row.macNamed && row.row.mac == mac && !row.decided && !row.task;
        });
        size_t row = named - rows_.begin();
        if (named == rows_.end()) {
            if (run_->TimedOut(now_)) {
                return;
            }
            if (UnprogrammedMac(mac)) {
                Warn(MacText(mac) +
                     " appeared: a MAC ending in FF.FF.FF takes no row without a MAC (its twins "
                     "could not be told apart)");
                return;
            }
            const auto next = std::find_if(rows_.begin(), rows_.end(), [](const ApplyRow& row) {
                return !row.row.macNamed && !row.decided && !row.task;
            });
            if (next == rows_.end()) {
                appeared.text += "; no row is left for it";
                reporter_.Event(appeared);
                return;
            }
            row = next - rows_.begin();
            rows_[row].row.mac = mac;
        }
        appeared.text += ": line " + std::to_string(rows_[row].row.line);
        appeared.values["row"] = rows_[row].row.line;
        reporter_.Event(appeared);
        Take(row, record, length, {interfaceIndex});
        Draw();
    }

    void Take(size_t i, const uint8_t* record, size_t length,
              const std::vector<unsigned>& interfaces) {
        ApplyRow& row = rows_[i];
        taken_.insert(row.row.mac);
        const AddressOwner owner = [this](uint32_t ip, const Mac& self) -> std::optional<Mac> {
            const auto known = ips_.find(ip);
            return known != ips_.end() && known->second != self ? std::optional<Mac>(known->second)
                                                                : std::nullopt;
        };
        const std::vector<std::string> refusals = MatchRowToDevice(
            row, ReadFoundDevice(std::vector<uint8_t>(record, record + length), interfaces), owner);
        if (!refusals.empty()) {
            Refuse(i, refusals.front());
            return;
        }
        ips_[row.target.ip] = row.row.mac;
        if (row.decided) {
            End(i, true);
            return;
        }
        row.task = run_->Add(TaskOf(row));
        rowOf_[*row.task] = i;
        started_[i] = now_;
        states_[i] = row.needsSetup ? RowState::SettingUp : RowState::WritingId;
        progress_.Name(*row.task, MacText(row.row.mac), row.row.id, row.row.line);
    }

    void Refuse(size_t i, const std::string& why) {
        rows_[i].decided = RowOutcome{RowOutcome::Refused, why};
        Warn("line " + std::to_string(rows_[i].row.line) + ": " + why);
        End(i, true);
    }

    void End(size_t i, bool tell) {
        states_[i] = RowState::Ended;
        ++ended_;
        if (!rows_[i].task) {
            progress_.CountEnded();
        }
        if (ended_ == rows_.size()) {
            run_->EndWatch();
        }
        if (tell && settings_.rowEnded) {
            settings_.rowEnded(rows_);
        }
    }

    // The live table: the rows under way first, then the ended ones, then
    // the waiting ones, as many as fit, and a summary.
    void Draw() {
        nextBoard_ = After(now_, kBoardEveryMs);
        const size_t room = reporter_.BoardRoom();
        if (room < 2) {
            return;
        }
        const auto rank = [this](size_t i) {
            return states_[i] == RowState::Ended ? 1 : states_[i] == RowState::Waiting ? 2 : 0;
        };
        std::vector<size_t> order(rows_.size());
        for (size_t i = 0; i < order.size(); ++i) {
            order[i] = i;
        }
        std::stable_sort(order.begin(), order.end(),
                         [&rank](size_t a, size_t b) { return rank(a) < rank(b); });
        size_t verified = 0;
        size_t failed = 0;
        size_t waiting = 0;
        std::vector<std::vector<std::string>> table;
        for (const size_t i : order) {
            const ApplyRow& row = rows_[i];
            std::string state = StateText(states_[i]);
            std::string took = "-";
            if (states_[i] == RowState::Ended) {
                const RowOutcome outcome = OutcomeOf(row, settings_.apply);
                state = outcome.Text();
                verified += outcome.Good() ? 1 : 0;
                failed += outcome.Good() ? 0 : 1;
                if (row.task) {
                    took = std::to_string(row.result.elapsedMs / kMillisecondsPerSecond) + " s";
                }
            } else if (states_[i] == RowState::Waiting) {
                ++waiting;
            } else {
                took = std::to_string(MillisecondsBetween(started_[i], now_) /
                                      kMillisecondsPerSecond) +
                       " s";
            }
            if (table.size() + 2 < room) {
                table.push_back(
                    {std::to_string(row.row.line),
                     row.row.macNamed || row.row.mac != Mac{} ? MacText(row.row.mac) : "-",
                     row.row.ip ? DottedText(*row.row.ip) : "-",
                     row.row.id ? std::to_string(*row.row.id) : "-", state, took});
            }
        }
        std::ostringstream text;
        PrintTable(text, {"LINE", "MAC", "IP", "ID", "STATE", "TIME"}, table);
        std::vector<std::string> lines;
        std::istringstream written(text.str());
        for (std::string line; std::getline(written, line);) {
            lines.push_back(line);
        }
        const size_t underWay = rows_.size() - verified - failed - waiting;
        lines.push_back(std::to_string(verified) + " of " + std::to_string(rows_.size()) +
                        " verified, " + std::to_string(failed) + " failed, " +
                        (underWay > 0 ? std::to_string(underWay) + " under way, " : "") +
                        std::to_string(waiting) + " waiting" +
                        (run_->TimedOut(now_) ? "; the time-out has passed" : ""));
        reporter_.Board(lines);
    }

    const StationSettings& settings_;
    Reporter& reporter_;
    std::vector<ApplyRow>& rows_;
    Commissioner* run_ = nullptr;
    const DeviceSightings& present_;
    Progress progress_;
    std::vector<RowState> states_;
    std::vector<Instant> started_;
    std::map<size_t, size_t> rowOf_;  // task -> row
    std::set<Mac> known_;             // every MAC heard
    std::set<Mac> taken_;             // MACs that took a row
    std::map<uint32_t, Mac> ips_;     // addresses in use, and whose
    size_t ended_ = 0;
    Instant now_{};
    Instant nextBoard_{};
};

// The earlier report's rows, by plan line: the MAC, what was asked, the outcome.
struct EarlierRow {
    std::string mac;
    std::vector<std::string> asked;
    std::string outcome;
};

std::optional<Failure> ReadEarlierRows(const std::string& path,
                                       std::map<size_t, EarlierRow>* rows) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;  // no report yet: the first run
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto unreadable = [&path](const std::string& why) {
        return Failure{
            kExitUsage,
            "cannot continue from the report " + path + ": " + why + " (--again starts afresh)",
            {}};
    };
    const bool json = path.size() >= 5 && path.compare(path.size() - 5, 5, ".json") == 0;
    if (json) {
        const nlohmann::json report = nlohmann::json::parse(text, nullptr, false);
        if (!report.is_array()) {
            return unreadable("it is no report of velquint apply");
        }
        for (const nlohmann::json& row : report) {
            const nlohmann::json asked = row.value("asked", nlohmann::json::object());
            const auto cell = [&asked](const char* name) -> std::string {
                if (!asked.contains(name)) {
                    return "";
                }
                return asked[name].is_string() ? asked[name].get<std::string>()
                                               : asked[name].dump();
            };
            if (!row.contains("line") || !row["line"].is_number_unsigned()) {
                return unreadable("a row without its line");
            }
            (*rows)[row["line"].get<size_t>()] = {
                row.value("mac", ""),
                {cell("ip"), cell("mask"), cell("gateway"), cell("port"), cell("baud"), cell("id")},
                row.value("outcome", "")};
        }
        return std::nullopt;
    }
    std::vector<CsvRecord> records;
    std::string error;
    if (!ReadCsv(text, &records, &error)) {
        return unreadable(error);
    }
    // line, mac, six asked columns, five now columns, outcome
    constexpr size_t kOutcomeColumn = 13;
    for (size_t i = 1; i < records.size(); ++i) {
        const std::vector<std::string>& fields = records[i].fields;
        std::string why;
        const std::optional<uint32_t> line = ReadNumber(fields.front(), 1, UINT32_MAX, &why);
        if (fields.size() <= kOutcomeColumn || !line) {
            return unreadable("line " + std::to_string(records[i].line) + " is no report row");
        }
        (*rows)[*line] = {fields[1],
                          std::vector<std::string>(fields.begin() + 2, fields.begin() + 8),
                          fields[kOutcomeColumn]};
    }
    return std::nullopt;
}

}  // namespace

std::optional<Failure> TakeEarlierReport(const std::string& path, std::vector<ApplyRow>& rows) {
    std::map<size_t, EarlierRow> earlier;
    if (std::optional<Failure> failure = ReadEarlierRows(path, &earlier)) {
        return failure;
    }
    for (ApplyRow& row : rows) {
        const auto found = earlier.find(row.row.line);
        if (found == earlier.end() || found->second.outcome != "verified" ||
            found->second.asked != AskedCells(row.row)) {
            continue;
        }
        const std::optional<Mac> mac = ReadMac(found->second.mac);
        if (!mac || (row.row.macNamed && *mac != row.row.mac)) {
            continue;
        }
        row.row.mac = *mac;
        row.decided = RowOutcome{RowOutcome::Verified, "verified in an earlier run; nothing sent"};
    }
    return std::nullopt;
}

void RunStation(SegmentPort& port, const StationSettings& settings, const DeviceSightings& present,
                Reporter& reporter, std::vector<ApplyRow>& rows) {
    CommissionOptions options;
    options.setupsAtOnce = settings.apply.setupsAtOnce;
    options.settleTimeoutMs = settings.apply.settleTimeoutMs;
    options.watch = true;
    options.watchTimeoutMs = settings.timeoutMs;
    SegmentDriver driver(port, settings.apply.interfaceIndex);
    Station station(settings, reporter, rows, present);
    const Instant start = RunClock::now();
    Commissioner run(options, driver, &station, start);
    station.Begin(run, start);
    const bool finished = driver.Run(
        station, [&station](Instant now) { return station.Over(now); }, settings.apply.stop);
    reporter.Finish();
    station.Close(!finished);
}
