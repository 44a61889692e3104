#include "cli/Apply.h"

#include <algorithm>

#include "cli/Progress.h"
#include "cli/Reporter.h"
#include "cli/Search.h"
#include "cli/Signals.h"
#include "commission/SegmentDriver.h"

namespace {

// Searches until every planned device has answered, or the find time-out.
std::optional<Failure> FindPlanned(SegmentPort& port, const std::vector<PlanRow>& plan,
                                   const ApplySettings& settings, Reporter& reporter,
                                   DeviceSightings* found) {
    RepeatedSearchOptions search;
    search.interfaceIndex = settings.interfaceIndex;
    search.timeLimitMs = settings.findTimeoutMs;
    if (settings.stop != nullptr) {
        search.stop = settings.stop->Check();
    }
    search.complete = [&plan](const DeviceSightings& heard) {
        return std::all_of(plan.begin(), plan.end(),
                           [&heard](const PlanRow& row) { return heard.Heard(row.mac); });
    };
    return Search(port, search, settings.interfaceName, reporter, found);
}

}  // namespace

bool ApplySettings::Stopped() const {
    return stop != nullptr && stop->Asked();
}

CommissionOptions CommissionOptionsOf(const ApplySettings& settings, bool station) {
    CommissionOptions options;
    options.setupsAtOnce = settings.setupsAtOnce;
    options.settleTimeoutMs = settings.settleTimeoutMs;
    options.watch = station;
    options.watchTimeoutMs = station ? settings.stationTimeoutMs : 0;
    return options;
}

std::vector<ApplyRow> RowsOf(const std::vector<PlanRow>& plan) {
    std::vector<ApplyRow> rows;
    for (const PlanRow& row : plan) {
        ApplyRow item;
        item.row = row;
        rows.push_back(item);
    }
    return rows;
}

std::optional<Failure> PrepareApply(SegmentPort& port, const std::vector<PlanRow>& plan,
                                    const ApplySettings& settings, Reporter& reporter,
                                    std::vector<ApplyRow>* rows) {
    DeviceSightings found;
    if (std::optional<Failure> failure = FindPlanned(port, plan, settings, reporter, &found)) {
        return failure;
    }
    if (settings.Stopped()) {
        return Failure{settings.stop->Status(),
                       "stopped during the search; nothing but the search was sent",
                       {}};
    }
    std::vector<std::string> refusals;
    bool onlyMissing = true;
    AddressBook addresses;
    addresses.AddAll(found);
    *rows = RowsOf(plan);
    for (ApplyRow& item : *rows) {
        const auto refuse = [&](const std::string& what, bool missing) {
            refusals.push_back(settings.planName + ":" + std::to_string(item.row.line) + ": " +
                               what);
            onlyMissing = onlyMissing && missing;
        };
        const DeviceLookup lookup = LookUpDevice(found, item.row.mac);
        if (lookup.missing) {
            if (!settings.allowMissing) {
                refuse(lookup.refusal + " (--allow-missing skips it)", true);
            }
            item.decided = RowOutcome{OutcomeKind::NotFound, "no answer to the search"};
        } else if (!lookup.device) {
            refuse(lookup.refusal, false);
        } else {
            for (const std::string& why : MatchRowToDevice(item, *lookup.device, addresses)) {
                refuse(why, false);
            }
        }
    }
    if (refusals.empty()) {
        return std::nullopt;
    }
    // A plan that is right but for devices that are not there is a plan
    // whose devices were not found; anything else wrong is the plan's.
    return Failure{onlyMissing ? kExitNotFound : kExitUsage,
                   "the plan was refused; nothing was sent but the search", refusals};
}

void CommissionRows(SegmentPort& port, const ApplySettings& settings, Reporter& reporter,
                    std::vector<ApplyRow>& rows) {
    std::vector<CommissionTask> tasks;
    for (ApplyRow& item : rows) {
        if (!item.decided) {
            item.task = tasks.size();
            tasks.push_back(TaskOf(item));
        }
    }
    Progress progress(reporter, tasks.size());
    for (const ApplyRow& item : rows) {
        if (item.task) {
            progress.Name(*item.task, MacText(item.row.mac), item.row.id, 0);
        }
    }
    const std::vector<CommissionResult> results = CommissionOnPort(
        port, settings.interfaceIndex, tasks, CommissionOptionsOf(settings, false), &progress,
        settings.stop != nullptr ? settings.stop->Check() : std::function<bool()>());
    for (ApplyRow& item : rows) {
        if (item.task) {
            item.result = results[*item.task];
        }
    }
}

std::vector<std::string> MatchRowToDevice(ApplyRow& item, FoundDevice device,
                                          const AddressBook& addresses) {
    std::vector<std::string> refusals;
    item.before = std::move(device);
    std::string missing;
    if (!MergeSettings(*item.before, item.row, &item.target, &missing)) {
        refusals.push_back("device " + MacText(item.row.mac) + " reports no " + missing +
                           ", and the plan names none");
    }
    if (const std::optional<Mac> other = addresses.OtherOwner(item.target.ip, item.row.mac)) {
        refusals.push_back("IP " + DottedText(item.target.ip) + " is the address of device " +
                           MacText(*other) + " already");
    }
    item.needsSetup = !AlreadySet(*item.before, item.target);
    if (refusals.empty() && !item.needsSetup && !item.row.id) {
        item.decided = RowOutcome{OutcomeKind::AlreadySet, ""};
    }
    return refusals;
}

CommissionTask TaskOf(const ApplyRow& row) {
    CommissionTask task;
    task.target = SetupValuesFor(row.row.mac, row.target);
    task.setupNeeded = row.needsSetup;
    task.id = row.row.id;
    task.interfaces = row.before->interfaceIndexes;
    return task;
}

std::optional<FoundDevice> ReportedNow(const ApplyRow& row) {
    if (row.before && !row.result.lastRecord.empty()) {
        return ReadFoundDevice(row.result.lastRecord, row.before->interfaceIndexes);
    }
    return row.before;
}

RowOutcome OutcomeOf(const ApplyRow& row, const ApplySettings& settings) {
    if (row.decided) {
        return *row.decided;
    }
    return DescribeResult(row.result, row.row.id, row.needsSetup,
                          settings.settleTimeoutMs / kMillisecondsPerSecond, row.target,
                          ReportedNow(row));
}

int RunStatus(const std::vector<ApplyRow>& rows, const ApplySettings& settings) {
    const bool interrupted = std::any_of(rows.begin(), rows.end(), [](const ApplyRow& row) {
        return row.task && row.result.outcome == CommissionOutcome::Interrupted;
    });
    if (settings.stop != nullptr && (interrupted || settings.stop->Asked())) {
        return settings.stop->Status();
    }
    int status = kExitOk;
    for (const ApplyRow& row : rows) {
        if (row.task && row.needsSetup && row.result.setupDatagrams == 0) {
            status = kExitLocal;
        } else if (status == kExitOk && !OutcomeOf(row, settings).Good()) {
            status = kExitDeviceFailed;
        }
    }
    return status;
}
