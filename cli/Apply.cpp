#include "cli/Apply.h"

#include <algorithm>

#include "cli/Progress.h"
#include "cli/Reporter.h"
#include "cli/Search.h"

std::optional<Failure> PrepareApply(SegmentPort& port, const std::vector<PlanRow>& plan,
                                    const ApplySettings& settings, std::vector<ApplyRow>* rows) {
    RepeatedSearchOptions search;
    search.interfaceIndex = settings.interfaceIndex;
    search.timeLimitMs = settings.findTimeoutMs;
    search.stop = settings.stop;
    search.complete = [&plan](const DeviceSightings& heard) {
        return std::all_of(plan.begin(), plan.end(),
                           [&heard](const PlanRow& row) { return heard.Heard(row.mac); });
    };
    DeviceSightings found;
    if (std::optional<Failure> failure = Search(port, search, settings.interfaceName, &found)) {
        return failure;
    }
    if (settings.stop != nullptr && settings.stop()) {
        return Failure{
            kExitInterrupted, "stopped during the search; nothing but the search was sent", {}};
    }

    std::vector<std::string> refusals;
    bool onlyMissing = true;
    const auto refuse = [&](const PlanRow& row, const std::string& what, bool missing = false) {
        refusals.push_back(settings.planName + ":" + std::to_string(row.line) + ": " + what);
        onlyMissing = onlyMissing && missing;
    };
    const std::vector<FoundDevice> everyone = ListDevices(found, false);
    rows->clear();
    for (const PlanRow& row : plan) {
        ApplyRow item;
        item.row = row;
        const std::vector<const DeviceSighting*> heard = found.Of(row.mac);
        if (heard.empty()) {
            if (!settings.allowMissing) {
                refuse(row,
                       "no device with MAC " + MacText(row.mac) +
                           " answered the search (--allow-missing skips it)",
                       true);
            }
            item.decided = RowOutcome{RowOutcome::NotFound, "no answer to the search"};
            rows->push_back(item);
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
            rows->push_back(item);
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
        rows->push_back(item);
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
    std::vector<std::string> labels;
    for (ApplyRow& item : rows) {
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
    options.setupsAtOnce = settings.setupsAtOnce;
    options.settleTimeoutMs = settings.settleTimeoutMs;
    options.searchInterface = settings.interfaceIndex;
    options.stop = settings.stop;
    std::vector<CommissionResult> results;
    Progress progress(reporter, tasks, labels);
    Commission(port, tasks, options, &progress, &results);
    reporter.Finish();
    for (ApplyRow& item : rows) {
        if (item.task) {
            item.result = results[*item.task];
        }
    }
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

int ApplyStatus(const std::vector<ApplyRow>& rows, const ApplySettings& settings) {
    int status = kExitOk;
    for (const ApplyRow& row : rows) {
        if (row.task && row.result.outcome == CommissionOutcome::Interrupted) {
            return kExitInterrupted;
        }
        if (row.task && row.needsSetup && row.result.setupDatagrams == 0) {
            status = kExitLocal;
        } else if (status == kExitOk && !OutcomeOf(row, settings).Good()) {
            status = kExitDeviceFailed;
        }
    }
    return status;
}
