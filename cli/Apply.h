#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/Plan.h"
#include "cli/SetupOutcome.h"
#include "commission/Commission.h"
#include "commission/SegmentPort.h"

class Reporter;

// The work of `velquint apply`, apart from its command line: find the plan's
// devices, check the plan against them, commission them, and give one
// result per plan row. Failures come back as values; the command decides
// what they end with.

struct ApplySettings {
    std::string planName;         // how refusals name the plan file
    unsigned interfaceIndex = 0;  // searches out of this interface only (0: every way)
    std::string interfaceName;
    bool allowMissing = false;
    size_t setupsAtOnce = 64;
    int findTimeoutMs = 5000;
    int settleTimeoutMs = kDefaultSettleTimeoutMs;
    bool (*stop)() = nullptr;
};

// One plan row on its way through the steps.
struct ApplyRow {
    PlanRow row;
    std::optional<FoundDevice> before;  // as the search found it
    TargetSettings target;
    bool needsSetup = false;
    std::optional<RowOutcome> decided;  // already set or not found, before anything was sent
    std::optional<size_t> task;         // its commissioning task
    CommissionResult result;
};

// Searches until every planned device has answered (or the find time-out
// passes) and checks each row against the devices: a device that did not
// answer (unless allowed), a MAC that several devices share, a value that
// neither the row nor the device gives, a target IP that another device has.
// The failure, if any, holds every refusal among its details.
std::optional<Failure> PrepareApply(SegmentPort& port, const std::vector<PlanRow>& plan,
                                    const ApplySettings& settings, std::vector<ApplyRow>* rows);

// Whose device another than `self` has address `ip`, if any's.
using AddressOwner = std::function<std::optional<Mac>(uint32_t ip, const Mac& self)>;

// Checks the row against its device, found as `device`: the values that the
// row and the device give together, and that no other device has the target
// IP. Sets the row's before, target and needsSetup, and decides a row that
// has nothing to do ("already set"). Returns why the row cannot be carried
// out, if it cannot.
std::vector<std::string> MatchRowToDevice(ApplyRow& item, FoundDevice device,
                                          const AddressOwner& owner);

// The commissioning task of a row checked against its device.
CommissionTask TaskOf(const ApplyRow& row);

// Commissions the rows that need it, telling `reporter` each step.
void CommissionRows(SegmentPort& port, const ApplySettings& settings, Reporter& reporter,
                    std::vector<ApplyRow>& rows);

// What the row asked, as the report's *_asked columns write it: ip, mask,
// gateway, port, baud, id; empty where it asked nothing.
std::vector<std::string> AskedCells(const PlanRow& row);

// What the device reported last: during the run, or in the search.
std::optional<FoundDevice> ReportedNow(const ApplyRow& row);

// The row's outcome.
RowOutcome OutcomeOf(const ApplyRow& row, const ApplySettings& settings);

// The exit status of a whole run: 130 when it was stopped, 4 when a setup
// could not be sent at all, 1 when a row is not verified or already set, 0
// otherwise.
int ApplyStatus(const std::vector<ApplyRow>& rows, const ApplySettings& settings);
