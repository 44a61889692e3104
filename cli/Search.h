#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "cli/Devices.h"
#include "commission/RepeatedSearch.h"
#include "commission/SegmentPort.h"

// Searches as every command runs them. A failure of this machine (port 3195
// taken, no interface to send from) ends the command with its own message;
// more devices than are kept are warned about on stderr.

// The index of interface `name` (0 for an empty name); ends the command when
// there is no such interface.
unsigned InterfaceOrFail(const std::string& name);

// Opens the port for a whole run of searches and setups.
void OpenPortOrFail(SegmentPort& port);

// One repeated search on `port`; `interfaceName` names options.interfaceIndex
// in messages.
DeviceSightings SearchOrFail(SegmentPort& port, const RepeatedSearchOptions& options,
                             const std::string& interfaceName);

// The devices of one repeated search with `settings`, sorted.
std::vector<FoundDevice> SearchOrFail(const SearchSettings& settings);

// The device's fields for JSON output; null for what its record lacks.
nlohmann::ordered_json DeviceJson(const FoundDevice& device);
