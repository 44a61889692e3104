#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/Devices.h"
#include "commission/RepeatedSearch.h"
#include "commission/SegmentPort.h"

// Searches as every command runs them. A failure of this machine (port 3195
// taken, no interface to send from) comes back as a value, for the command to
// end with or to live with; more devices than are kept are warned about.

class Reporter;

// The index of interface `name` (0 for an empty name).
std::optional<Failure> FindInterface(const std::string& name, unsigned* index);

// Opens the port for a whole run of searches and setups.
std::optional<Failure> OpenPort(SegmentPort& port);

// One repeated search on `port`; `interfaceName` names options.interfaceIndex
// in messages, and `reporter` hears of devices beyond what is kept.
std::optional<Failure> Search(SegmentPort& port, const RepeatedSearchOptions& options,
                              const std::string& interfaceName, Reporter& reporter,
                              DeviceSightings* sightings);
