#include "cli/Station.h"

#include <algorithm>
#include <map>
#include <set>

#include "cli/ApplyReport.h"
#include "cli/Events.h"
#include "cli/LiveBoard.h"
#include "cli/Progress.h"
#include "cli/ReportEvent.h"
#include "cli/Reporter.h"
#include "cli/Signals.h"
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

// The station around the engine: it looks at each answer first, and a device
// that came may take a row; then the engine takes the answer.
class Station : public CommissionObserver, public SegmentClient {
public:
    Station(const StationSettings& settings, Reporter& reporter, std::vector<ApplyRow>& rows)
        : settings_(settings),
          reporter_(reporter),
          rows_(rows),
          progress_(reporter, rows.size()),
          board_(reporter),
          states_(rows.size(), RowState::Waiting),
          started_(rows.size()) {}

    void Begin(Commissioner& run, const DeviceSightings& present, Instant now);
    // Rows without an outcome when the run ended.
    void Close(bool stopped);
    // The run may end: every row has ended, or the time-out has passed, and
    // the devices under way are done.
    bool Over(Instant now) const { return run_->AllDone() && run_->WatchOver(now); }

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

    void OnStep(size_t task, CommissionStep step, const CommissionResult& result) override;
    void OnWaiting(size_t devices, int waitedMs) override {
        progress_.OnWaiting(devices, waitedMs);
        Draw();
    }
    void OnPortBusy() override {
        reporter_.Event(
            {"port-busy", "", "port 3195 is taken (another search?); the next search tries again"});
    }

private:
    void Appeared(const uint8_t* record, size_t length, unsigned interfaceIndex);
    std::optional<size_t> RowFor(const Mac& mac, ReportEvent& appeared);
    void Take(size_t i, const FoundDevice& device);
    void Refuse(size_t i, const std::string& why);
    void Ended(size_t i, bool tell);
    void Draw();
    void PutRow(RowWriter& row, size_t i, size_t* verified, size_t* failed) const;

    const StationSettings& settings_;
    Reporter& reporter_;
    std::vector<ApplyRow>& rows_;
    Commissioner* run_ = nullptr;
    Progress progress_;
    LiveBoard board_;
    std::vector<RowState> states_;
    std::vector<Instant> started_;
    std::map<size_t, size_t> rowOf_;  // task -> row
    std::set<Mac> known_;             // every MAC heard
    std::set<Mac> taken_;             // MACs that took a row
    AddressBook addresses_;
    size_t ended_ = 0;
    Instant now_{};
    Instant nextBoard_{};
};

// Rows that ended before (in an earlier run) count, and their devices take no
// other row; named rows whose devices are on the segment already start.
void Station::Begin(Commissioner& run, const DeviceSightings& present, Instant now) {
    run_ = &run;
    now_ = now;
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].decided) {
            taken_.insert(rows_[i].row.mac);
            Ended(i, false);
        }
    }
    for (const DeviceSighting& sighting : present.All()) {
        known_.insert(sighting.mac);
    }
    std::string listed;
    for (const Mac& mac : known_) {
        listed += (listed.empty() ? "" : ", ") + MacText(mac);
    }
    addresses_.AddAll(present);
    if (!listed.empty()) {
        reporter_.Info("on the segment at the start, and so never given a row without a MAC: " +
                       listed);
    }
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].decided || !rows_[i].row.macNamed || !present.Heard(rows_[i].row.mac)) {
            continue;
        }
        const DeviceLookup lookup = LookUpDevice(present, rows_[i].row.mac);
        if (lookup.device) {
            Take(i, *lookup.device);
        } else {
            Refuse(i, lookup.refusal);
        }
    }
    Draw();
}

void Station::Close(bool stopped) {
    for (ApplyRow& row : rows_) {
        if (row.task) {
            row.result = run_->Result(*row.task);
        } else if (!row.decided) {
            row.decided = RowOutcome{OutcomeKind::NotFound,
                                     stopped ? "stopped before its device appeared"
                                             : "no device for it appeared within " +
                                                   std::to_string(settings_.apply.stationTimeoutMs /
                                                                  kMillisecondsPerSecond) +
                                                   " s"};
        }
    }
}

void Station::OnStep(size_t task, CommissionStep step, const CommissionResult& result) {
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
            Ended(i, true);
            break;
    }
    Draw();
}

// A device heard for the first time may take a row: the one that names it,
// or the next without a MAC.
void Station::Appeared(const uint8_t* record, size_t length, unsigned interfaceIndex) {
    const Mac mac = RecordMac(record, length);
    if (!known_.insert(mac).second) {
        return;
    }
    run_->SegmentChanged();
    const FoundDevice device =
        ReadFoundDevice(std::vector<uint8_t>(record, record + length), {interfaceIndex});
    if (device.ip) {
        addresses_.Add(*device.ip, mac);
    }
    if (taken_.count(mac) != 0) {
        return;
    }
    ReportEvent appeared = SegmentEvent("appeared", MacText(mac) + " appeared", {device});
    const std::optional<size_t> row = RowFor(mac, appeared);
    if (!row) {
        return;
    }
    appeared.text += ": line " + std::to_string(rows_[*row].row.line);
    reporter_.Event(appeared);
    Take(*row, device);
    Draw();
}

// The row a new device takes: the one that names it, else the next without
// a MAC (while the station still takes devices). None, with the reason told
// when there is one to tell.
std::optional<size_t> Station::RowFor(const Mac& mac, ReportEvent& appeared) {
    const auto open = [](const ApplyRow& row) { return !row.decided && !row.task; };
    const auto named = std::find_if(rows_.begin(), rows_.end(), [&](const ApplyRow& row) {
        return row.row.macNamed && row.row.mac == mac && open(row);
    });
    if (named != rows_.end()) {
        return static_cast<size_t>(named - rows_.begin());
    }
    if (run_->TimedOut(now_)) {
        return std::nullopt;
    }
    if (UnprogrammedMac(mac)) {
        reporter_.Warn(MacText(mac) +
                       " appeared: a MAC ending in FF.FF.FF takes no row without a MAC (its "
                       "twins could not be told apart)");
        return std::nullopt;
    }
    const auto next = std::find_if(rows_.begin(), rows_.end(), [&](const ApplyRow& row) {
        return !row.row.macNamed && open(row);
    });
    if (next == rows_.end()) {
        appeared.text += "; no row is left for it";
        reporter_.Event(appeared);
        return std::nullopt;
    }
    next->row.mac = mac;
    return static_cast<size_t>(next - rows_.begin());
}

void Station::Take(size_t i, const FoundDevice& device) {
    ApplyRow& row = rows_[i];
    taken_.insert(row.row.mac);
    const std::vector<std::string> refusals = MatchRowToDevice(row, device, addresses_);
    if (!refusals.empty()) {
        Refuse(i, refusals.front());
        return;
    }
    addresses_.Take(row.target.ip, row.row.mac);
    if (row.decided) {
        Ended(i, true);
        return;
    }
    row.task = run_->Add(TaskOf(row));
    rowOf_[*row.task] = i;
    started_[i] = now_;
    states_[i] = row.needsSetup ? RowState::SettingUp : RowState::WritingId;
    progress_.Name(*row.task, MacText(row.row.mac), row.row.id, row.row.line);
}

void Station::Refuse(size_t i, const std::string& why) {
    rows_[i].decided = RowOutcome{OutcomeKind::Refused, why};
    reporter_.Warn("line " + std::to_string(rows_[i].row.line) + ": " + why);
    Ended(i, true);
}

void Station::Ended(size_t i, bool tell) {
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

// The live table: the rows under way first, then the ended ones, then the
// waiting ones, as many as fit, and a summary.
void Station::Draw() {
    nextBoard_ = After(now_, kBoardEveryMs);
    if (!board_.Shown()) {
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
    std::vector<FormatRow> table;
    for (const size_t i : order) {
        table.emplace_back(FormatRow::Kind::Table);
        PutRow(table.back(), i, &verified, &failed);
    }
    const size_t waiting =
        static_cast<size_t>(std::count(states_.begin(), states_.end(), RowState::Waiting));
    const size_t underWay = rows_.size() - verified - failed - waiting;
    board_.Draw(std::move(table),
                std::to_string(verified) + " of " + std::to_string(rows_.size()) + " verified, " +
                    std::to_string(failed) + " failed, " +
                    (underWay > 0 ? std::to_string(underWay) + " under way, " : "") +
                    std::to_string(waiting) + " waiting" +
                    (run_->TimedOut(now_) ? "; the time-out has passed" : ""));
}

void Station::PutRow(RowWriter& table, size_t i, size_t* verified, size_t* failed) const {
    const ApplyRow& row = rows_[i];
    std::string state = StateText(states_[i]);
    std::string took;
    if (states_[i] == RowState::Ended) {
        const RowOutcome outcome = OutcomeOf(row, settings_.apply);
        state = outcome.Text();
        (outcome.Good() ? *verified : *failed) += 1;
        if (row.task) {
            took = std::to_string(row.result.elapsedMs / kMillisecondsPerSecond) + " s";
        }
    } else if (states_[i] != RowState::Waiting) {
        took =
            std::to_string(MillisecondsBetween(started_[i], now_) / kMillisecondsPerSecond) + " s";
    }
    table.Number("line", static_cast<int64_t>(row.row.line));
    table.Text("mac", row.row.macNamed || row.row.mac != Mac{} ? MacText(row.row.mac) : "");
    table.Address("ip", row.row.ip);
    table.Number("id", row.row.id);
    table.Text("state", state);
    table.Text("time", took);
}

}  // namespace

std::optional<Failure> TakeEarlierReport(const std::string& path, std::vector<ApplyRow>& rows) {
    std::map<size_t, EarlierRow> earlier;
    if (std::optional<Failure> failure = ReadReportFile(path, &earlier)) {
        return failure;
    }
    for (ApplyRow& row : rows) {
        const auto found = earlier.find(row.row.line);
        if (found == earlier.end() ||
            found->second.outcome != OutcomeOfKind(OutcomeKind::Verified).token ||
            found->second.asked != AskedCells(row.row)) {
            continue;
        }
        const std::optional<Mac> mac = ReadMac(found->second.mac);
        if (!mac || (row.row.macNamed && *mac != row.row.mac)) {
            continue;
        }
        row.row.mac = *mac;
        row.decided = RowOutcome{OutcomeKind::Verified, "verified in an earlier run; nothing sent"};
    }
    return std::nullopt;
}

void RunStation(SegmentPort& port, const StationSettings& settings, const DeviceSightings& present,
                Reporter& reporter, std::vector<ApplyRow>& rows) {
    SegmentDriver driver(port, settings.apply.interfaceIndex);
    Station station(settings, reporter, rows);
    const Instant start = RunClock::now();
    Commissioner run(CommissionOptionsOf(settings.apply, true), driver, &station, start);
    station.Begin(run, present, start);
    const bool finished = driver.Run(
        station, [&station](Instant now) { return station.Over(now); },
        settings.apply.stop != nullptr ? settings.apply.stop->Check() : std::function<bool()>());
    station.Close(!finished);
}
