#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "cli/Devices.h"

// A search as every command runs it: a failure of this machine ends the
// command with its own message; a full table is warned about on stderr.
std::vector<FoundDevice> SearchOrFail(const SearchSettings& settings);

// The device's fields for JSON output; null for what its record lacks.
nlohmann::ordered_json DeviceJson(const FoundDevice& device);
