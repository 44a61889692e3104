#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/Apply.h"
#include "commission/DeviceSightings.h"

class Reporter;

// The commissioning station, `velquint apply --watch`: a plan drives a line
// of devices that are plugged in one after another. The segment is watched;
// each device the plan names is commissioned as soon as it answers, and each
// new device that no row names takes the next row without a MAC, in plan
// order. Devices already on the segment at the start never take such a row,
// nor does a MAC ending in FF.FF.FF (its twins could not be told apart).

struct StationSettings {
    ApplySettings apply;  // its stationTimeoutMs: no device is taken after it
    // Called after each row ends, with every row as it stands: the report is
    // written there, so that an interruption leaves the last complete state.
    std::function<void(const std::vector<ApplyRow>&)> rowEnded;
};

// Rows that an earlier run verified, read from its report (CSV or JSON, by
// the name as --report writes them): the row of plan line N counts when the
// report's row of line N asked the same values (and names the same MAC, if
// the plan row does). Such rows become verified without anything sent, and
// the MAC that took a row without one keeps it.
std::optional<Failure> TakeEarlierReport(const std::string& path, std::vector<ApplyRow>& rows);

// Runs the station on `port` (open) until every row has ended, the time-out
// has passed and the devices under way are done, or Ctrl-C. `present` is
// what the first search heard.
void RunStation(SegmentPort& port, const StationSettings& settings, const DeviceSightings& present,
                Reporter& reporter, std::vector<ApplyRow>& rows);
