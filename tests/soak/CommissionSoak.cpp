// Commissioning as `velquint apply` runs it, and as its station does, against
// devices that restart, lose datagrams, keep their settings, never come back,
// refuse their ID, appear late or vanish. Each row must end with the outcome
// its device's behaviour decides, within the deadlines of the run.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cli/Apply.h"
#include "cli/Reporter.h"
#include "cli/Search.h"
#include "cli/Station.h"
#include "commission/DeviceCommission.h"
#include "commission/RepeatedSearch.h"
#include "commission/SegmentPort.h"
#include "idassign/DeviceId.h"
#include "tests/soak/Soak.h"
#include "tests/support/LabSupport.h"

namespace {

constexpr unsigned kMostPlanDevices = 4;
constexpr unsigned kMostStationDevices = 5;
constexpr int kFindTimeoutMs = 4000;
constexpr int kSettleTimeoutMs = 6000;
constexpr int kStationTimeoutMs = 6000;
// A write of the ID that starts just before a device's deadline still gets
// its least connect limit and the whole reply limit.
constexpr long kIdWriteOverrunMs = kLeastConnectLimitMs + kDeviceIdReplyLimitMs;
// The search before a station or a plan ends a quiet while after the last
// answer; at the most its first wait, when nothing answers.
constexpr long kFirstSearchMs = kSearchFirstWaitMs + kSearchQuietMs + 200;
// How far the simulator's clock may run behind ours: it starts a little
// before it says it is ready.
constexpr long kSimClockMarginMs = 150;

// Tells nothing: the soak judges the rows, not the messages.
class QuietReporter : public Reporter {
public:
    void Event(const ReportEvent&) override {}
    void Warn(const std::string&) override {}
    void Info(const std::string&) override {}
    void Finish() override {}
};

uint32_t LabAddress(unsigned last) {
    unsigned a = 0, b = 0, c = 0;
    std::sscanf(DeviceNetPrefix(0).c_str(), "%u.%u.%u.", &a, &b, &c);
    return (a << 24) | (b << 16) | (c << 8) | (last & 0xFF);
}

const char* KindToken(OutcomeKind kind) {
    return OutcomeOfKind(kind).token;
}

// A plan row for `device` with random new settings: an address of the
// setups' range (eight of its own per row, so that no two rows share one), a
// port, a baud rate, and an ID when `withId`.
PlanRow RowFor(const SoakDevice& device, unsigned ordinal, size_t line, bool withId,
               std::mt19937& random) {
    PlanRow row;
    row.line = line;
    row.mac = device.mac;
    row.ip = LabAddress(150 + ordinal * 8 + random() % 8);
    row.port = static_cast<uint16_t>(1024 + random() % 60000);
    row.baudCode = static_cast<uint8_t>(random() % 8);
    if (withId) {
        row.id = static_cast<uint8_t>(random());
    }
    return row;
}

std::string Checked(const std::vector<ApplyRow>& rows, size_t i, const ApplySettings& settings,
                    const std::vector<OutcomeKind>& expected) {
    const RowOutcome outcome = OutcomeOf(rows[i], settings);
    if (std::find(expected.begin(), expected.end(), outcome.kind) != expected.end()) {
        return "";
    }
    std::string wanted;
    for (OutcomeKind kind : expected) {
        wanted += (wanted.empty() ? "" : " or ") + std::string(KindToken(kind));
    }
    return "line " + std::to_string(rows[i].row.line) + " (" + MacText(rows[i].row.mac) +
           ") ended " + outcome.Token() + " (" + outcome.detail + "), expected " + wanted;
}

// What a device of a plan does, and the outcome that decides for its row.
struct ApplyFault {
    const char* name;
    std::string (*keys)(std::mt19937& random);
    OutcomeKind outcome;
    bool needsId;   // the fault shows only in the ID write
    bool lossSafe;  // the outcome holds when datagrams are lost too
};

const ApplyFault kApplyFaults[] = {
    {"well-behaved", [](std::mt19937&) { return std::string(); }, OutcomeKind::Verified, false,
     true},
    {"restarts after the setup",
     [](std::mt19937& r) { return "restart=" + std::to_string(500 + r() % 2501); },
     OutcomeKind::Verified, false, true},
    {"loses the first setups",
     [](std::mt19937& r) { return "setup-drop=" + std::to_string(1 + r() % 2); },
     OutcomeKind::Verified, false, true},
    // Seen with the asked values, which proves the setup without its
    // confirmation.
    {"loses its confirmations", [](std::mt19937&) { return std::string("setup-reply=none"); },
     OutcomeKind::Verified, false, true},
    // A lost confirmation would make these "not confirmed": not with loss.
    {"keeps its settings", [](std::mt19937&) { return std::string("setup-keep=1"); },
     OutcomeKind::OtherValues, false, false},
    {"never comes back",
     [](std::mt19937&) { return "restart=" + std::to_string(kSettleTimeoutMs + 5000); },
     OutcomeKind::NotBack, false, false},
    {"refuses the ID", [](std::mt19937&) { return std::string("tcp-result=2"); },
     OutcomeKind::IdNotWritten, true, true},
    {"no answer to the ID", [](std::mt19937&) { return std::string("tcp-reply=none"); },
     OutcomeKind::IdNotWritten, true, true},
};

}  // namespace

SoakOutcome SoakApply(SoakContext& context) {
    std::mt19937& random = context.random;
    SoakOutcome outcome{"apply", {}, true, {}};
    const unsigned count = 1 + random() % kMostPlanDevices;
    const bool lossy = random() % 4 == 0;
    std::vector<const ApplyFault*> safe;
    for (const ApplyFault& fault : kApplyFaults) {
        if (fault.lossSafe || !lossy) {
            safe.push_back(&fault);
        }
    }
    std::vector<std::string> arguments;
    std::vector<PlanRow> plan;
    std::vector<const ApplyFault*> faults;
    for (unsigned i = 0; i < count; ++i) {
        SoakDevice device = RandomSoakDevice(random, i);
        const ApplyFault* fault = safe[random() % safe.size()];
        device.faults = fault->keys(random);
        faults.push_back(fault);
        outcome.faults.push_back(fault->name);
        arguments.push_back("--device");
        arguments.push_back(device.Settings());
        plan.push_back(RowFor(device, i, i + 2, fault->needsId || random() % 2 == 0, random));
    }
    if (lossy) {
        const unsigned percent = 5 + random() % 6;
        arguments.insert(arguments.end(), {"--loss", std::to_string(percent), "--seed",
                                           std::to_string(random())});
        outcome.faults.push_back("datagrams lost (" + std::to_string(percent) + " %)");
    }

    SimProcess sim(arguments);
    if (!Serving(sim, &outcome)) {
        return outcome;
    }
    QuietReporter reporter;
    ApplySettings settings;
    settings.planName = "plan";
    settings.findTimeoutMs = kFindTimeoutMs;
    settings.settleTimeoutMs = kSettleTimeoutMs;
    std::vector<ApplyRow> rows;
    {
        SoakTimer timer(&outcome, kFindTimeoutMs + kSearchQuietMs + kSettleTimeoutMs +
                                      kIdWriteOverrunMs + kSoakSlackMs);
        SegmentPort port;
        if (const std::optional<Failure> failure = OpenPort(port)) {
            AddFinding(&outcome, "the port: " + failure->message);
        } else if (const std::optional<Failure> refused =
                       PrepareApply(port, plan, settings, reporter, &rows)) {
            std::string details;
            for (const std::string& detail : refused->details) {
                details += "; " + detail;
            }
            AddFinding(&outcome, "the plan was refused: " + refused->message + details);
        } else {
            CommissionRows(port, settings, reporter, rows);
        }
    }
    for (size_t i = 0; i < rows.size() && outcome.asDocumented; ++i) {
        AddFinding(&outcome, Checked(rows, i, settings, {faults[i]->outcome}));
    }
    JudgeSimulator(sim, &outcome);
    return outcome;
}

namespace {

// How a device of a station comes and goes.
enum class Presence {
    FromTheStart,   // on the segment from the start
    Appears,        // plugged in during the run, early enough to be seen
    NeverInTime,    // plugged in long after the run
    VanishesEarly,  // there at the start, unplugged during the first search
};

struct StationDevice {
    SoakDevice device;
    Presence presence;
    bool named;  // a row names its MAC
    long vanishMs = 0;
};

}  // namespace

SoakOutcome SoakStation(SoakContext& context) {
    std::mt19937& random = context.random;
    SoakOutcome outcome{"station", {}, true, {}};
    const unsigned count = 1 + random() % kMostStationDevices;
    std::vector<StationDevice> devices;
    std::vector<std::string> arguments;
    std::vector<PlanRow> plan;
    size_t macLessRows = 0;
    for (unsigned i = 0; i < count; ++i) {
        StationDevice d{RandomSoakDevice(random, i), static_cast<Presence>(random() % 4), true};
        // Nothing but its own row can take a device that vanishes so soon.
        d.named = d.presence == Presence::VanishesEarly || random() % 2 == 0;
        std::string keys;
        switch (d.presence) {
            case Presence::FromTheStart:
                outcome.faults.push_back(d.named ? "there from the start"
                                                 : "there from the start, named by no row");
                break;
            case Presence::Appears:
                // Seen by the watch's second search at the latest: its
                // searches go out as the station starts, 2 s later, then 4 s
                // apart while nothing changes, so a device plugged in later
                // than that could first be heard at the time-out.
                keys = "appear=" + std::to_string(600 + random() % 1401);
                outcome.faults.push_back(d.named ? "appears" : "appears, for a row without a MAC");
                macLessRows += d.named ? 0 : 1;
                break;
            case Presence::NeverInTime:
                keys = "appear=600000";
                outcome.faults.push_back("never appears in time");
                break;
            case Presence::VanishesEarly:
                d.vanishMs = 100 + random() % 301;
                keys = "vanish=" + std::to_string(d.vanishMs);
                outcome.faults.push_back("vanishes before its setup");
                break;
        }
        if (d.presence != Presence::NeverInTime && random() % 3 == 0) {
            keys += std::string(keys.empty() ? "" : ",") + "restart=" +
                    std::to_string(500 + random() % 1001);
        }
        d.device.faults = keys;
        arguments.push_back("--device");
        arguments.push_back(d.device.Settings());
        if (d.named) {
            plan.push_back(RowFor(d.device, i, plan.size() + 2, random() % 2 == 0, random));
        }
        devices.push_back(d);
    }
    // A row without a MAC for each device that is to take one, and now and
    // then one that no device takes.
    if (random() % 3 == 0) {
        ++macLessRows;
        outcome.faults.push_back("a row that no device takes");
    }
    for (size_t i = 0; i < macLessRows; ++i) {
        PlanRow row = RowFor(SoakDevice{}, count + static_cast<unsigned>(i), plan.size() + 2,
                             random() % 2 == 0, random);
        row.mac = Mac{};
        row.macNamed = false;
        plan.push_back(row);
    }
    if (plan.empty()) {
        PlanRow row = RowFor(SoakDevice{}, count, 2, false, random);
        row.mac = Mac{};
        row.macNamed = false;
        plan.push_back(row);
        outcome.faults.push_back("a row that no device takes");
    }

    SimProcess sim(arguments);
    const long readyMs = SoakNowMs();
    if (!Serving(sim, &outcome)) {
        return outcome;
    }
    QuietReporter reporter;
    StationSettings settings;
    settings.apply.planName = "plan";
    settings.apply.settleTimeoutMs = kSettleTimeoutMs;
    settings.apply.stationTimeoutMs = kStationTimeoutMs;
    std::vector<ApplyRow> rows = RowsOf(plan);
    DeviceSightings present;
    long searchEndedMs = 0;
    {
        SoakTimer timer(&outcome, kFirstSearchMs + kStationTimeoutMs + kSettleTimeoutMs +
                                      kIdWriteOverrunMs + kSoakSlackMs);
        SegmentPort port;
        if (const std::optional<Failure> failure = OpenPort(port)) {
            AddFinding(&outcome, "the port: " + failure->message);
        } else if (const std::optional<Failure> failed =
                       Search(port, RepeatedSearchOptions{}, "", reporter, &present)) {
            AddFinding(&outcome, "the first search: " + failed->message);
        } else {
            searchEndedMs = SoakNowMs();
            RunStation(port, settings, present, reporter, rows);
        }
    }
    if (!outcome.asDocumented) {
        JudgeSimulator(sim, &outcome);
        return outcome;
    }

    const auto rowOf = [&rows](const Mac& mac) -> const ApplyRow* {
        for (const ApplyRow& row : rows) {
            if (row.row.mac == mac) {
                return &row;
            }
        }
        return nullptr;
    };
    std::set<Mac> known;
    for (const StationDevice& d : devices) {
        known.insert(d.device.mac);
        const ApplyRow* row = rowOf(d.device.mac);
        const size_t i = row != nullptr ? static_cast<size_t>(row - rows.data()) : 0;
        const bool heardFirst = present.Heard(d.device.mac);
        std::vector<OutcomeKind> expected;
        switch (d.presence) {
            case Presence::FromTheStart:
            case Presence::Appears:
                // A device heard by the first search never takes a row
                // without a MAC; a new one takes the next.
                if (d.named || !heardFirst) {
                    expected = {OutcomeKind::Verified};
                }
                break;
            case Presence::NeverInTime:
                if (d.named) {
                    expected = {OutcomeKind::NotFound};
                }
                break;
            case Presence::VanishesEarly:
                if (readyMs + d.vanishMs + kSimClockMarginMs < searchEndedMs) {
                    // Gone before anything was sent to it.
                    expected = {heardFirst ? OutcomeKind::NotConfirmed : OutcomeKind::NotFound};
                } else {
                    expected = {OutcomeKind::NotFound, OutcomeKind::NotConfirmed,
                                OutcomeKind::NotBack, OutcomeKind::Verified};
                }
                break;
        }
        if (expected.empty() && row != nullptr) {
            AddFinding(&outcome, MacText(d.device.mac) + " took line " + std::to_string(row->row.line) +
                              ", which is not its to take");
        } else if (!expected.empty() && row == nullptr) {
            AddFinding(&outcome, MacText(d.device.mac) + " took no row");
        } else if (!expected.empty()) {
            AddFinding(&outcome, Checked(rows, i, settings.apply, expected));
        }
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        const ApplyRow& row = rows[i];
        if (row.row.macNamed || row.row.mac != Mac{}) {
            if (known.count(row.row.mac) == 0) {
                AddFinding(&outcome, "line " + std::to_string(row.row.line) + " taken by an unknown MAC");
            }
        } else {
            AddFinding(&outcome, Checked(rows, i, settings.apply, {OutcomeKind::NotFound}));
        }
    }
    JudgeSimulator(sim, &outcome);
    return outcome;
}
