#include "cli/Apply.h"

#include <algorithm>

#include "cli/Progress.h"
#include "cli/Reporter.h"
#include "cli/Search.h"
#include "commission/SegmentDriver.h"

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
            InterruptedStatus(), "stopped during the search; nothing but the search was sent", {}};
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
        const AddressOwner owner = [&everyone](uint32_t ip, const Mac& self) -> std::optional<Mac> {
            for (const FoundDevice& other : everyone) {
                if (other.mac != self && other.ip == ip) {
                    return other.mac;
                }
            }
            return std::nullopt;
        };
        for (const std::string& why : MatchRowToDevice(
                 item, ReadFoundDevice(heard.front()->record, heard.front()->interfaces), owner)) {
            refuse(row, why);
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
    CommissionOptions options;
    options.setupsAtOnce = settings.setupsAtOnce;
    options.settleTimeoutMs = settings.settleTimeoutMs;
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
    const std::vector<CommissionResult> results =
        CommissionOnPort(port, settings.interfaceIndex, tasks, options, &progress, settings.stop);
    reporter.Finish();
    for (ApplyRow& item : rows) {
        if (item.task) {
            item.result = results[*item.task];
        }
    }
}

std::vector<std::string> MatchRowToDevice(ApplyRow& item, FoundDevice device,
                                          const AddressOwner& owner) {
    std::vector<std::string> refusals;
    item.before = std::move(device);
    std::string missing;
    if (!MergeSettings(*item.before, item.row, &item.target, &missing)) {
        refusals.push_back("device " + MacText(item.row.mac) + " reports no " + missing +
                           ", and the plan names none");
    }
    if (const std::optional<Mac> other = owner(item.target.ip, item.row.mac)) {
        refusals.push_back("IP " + DottedText(item.target.ip) + " is the address of device " +
                           MacText(*other) + " already");
    }
    item.needsSetup = !AlreadySet(*item.before, item.target);
    if (refusals.empty() && !item.needsSetup && !item.row.id) {
        item.decided = RowOutcome{RowOutcome::AlreadySet, ""};
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

std::vector<std::string> AskedCells(const PlanRow& row) {
    const auto address = [](const std::optional<uint32_t>& value) {
        return value ? DottedText(*value) : std::string();
    };
    return {address(row.ip),
            address(row.mask),
            address(row.gateway),
            row.port ? std::to_string(*row.port) : "",
            row.baudCode ? BaudText(*row.baudCode) : "",
            row.id ? std::to_string(*row.id) : ""};
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
            return InterruptedStatus();
        }
        if (row.task && row.needsSetup && row.result.setupDatagrams == 0) {
            status = kExitLocal;
        } else if (status == kExitOk && !OutcomeOf(row, settings).Good()) {
            status = kExitDeviceFailed;
        }
    }
    return status;
}
