#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/Plan.h"
#include "cli/SetupOutcome.h"
#include "commission/Commission.h"
#include "commission/SegmentPort.h"

class Reporter;
class StopSignal;

// The work of `velquint apply` and of its commissioning station, apart from
// the command line: find the plan's devices, check each row against its
// device, commission them, and give one result per plan row. Failures come
// back as values; the command decides what they end with.

struct ApplySettings {
    std::string planName;         // how refusals name the plan file
    unsigned interfaceIndex = 0;  // searches out of this interface only (0: every way)
    std::string interfaceName;
    bool allowMissing = false;
    size_t setupsAtOnce = 64;
    int findTimeoutMs = 5000;
    int settleTimeoutMs = kDefaultSettleTimeoutMs;
    // A station: no device is taken after this (0: none).
    int stationTimeoutMs = 0;
    const StopSignal* stop = nullptr;

    bool Stopped() const;
};

// The engine's options for a run with `settings` (a station's: `station`).
CommissionOptions CommissionOptionsOf(const ApplySettings& settings, bool station);

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

// Rows of `plan`, none of them checked against a device yet.
std::vector<ApplyRow> RowsOf(const std::vector<PlanRow>& plan);

// Searches until every planned device has answered (or the find time-out
// passes) and checks each row against the devices: a device that did not
// answer (unless allowed), a MAC that several devices share, a value that
// neither the row nor the device gives, a target IP that another device has.
// The failure, if any, holds every refusal among its details.
std::optional<Failure> PrepareApply(SegmentPort& port, const std::vector<PlanRow>& plan,
                                    const ApplySettings& settings, Reporter& reporter,
                                    std::vector<ApplyRow>* rows);

// Checks the row against its device, found as `device`: the values that the
// row and the device give together, and that no other device has the target
// IP in `addresses`. Sets the row's before, target and needsSetup, and
// decides a row that has nothing to do ("already set"). Returns why the row
// cannot be carried out, if it cannot.
std::vector<std::string> MatchRowToDevice(ApplyRow& item, FoundDevice device,
                                          const AddressBook& addresses);

// The commissioning task of a row checked against its device.
CommissionTask TaskOf(const ApplyRow& row);

// Commissions the rows that need it, telling `reporter` each step.
void CommissionRows(SegmentPort& port, const ApplySettings& settings, Reporter& reporter,
                    std::vector<ApplyRow>& rows);

// What the device reported last: during the run, or in the search.
std::optional<FoundDevice> ReportedNow(const ApplyRow& row);

// The row's outcome.
RowOutcome OutcomeOf(const ApplyRow& row, const ApplySettings& settings);

// The exit status of a run of apply or of a station: the stop's status when
// the run was stopped, 4 when a setup could not be sent at all, 1 when a row
// ended otherwise than verified or already set, 0 otherwise.
int RunStatus(const std::vector<ApplyRow>& rows, const ApplySettings& settings);
