#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/Devices.h"
#include "setup/SetupRequest.h"

// What the setup and apply commands share: the values asked for, merged with
// what a device reports, the request that carries them, and the comparison
// with what the device reports afterwards.

// Values a person named; the others stay as the device has them.
using SettingsWanted = NetworkSettings;

// Every value a setup datagram carries.
struct TargetSettings {
    uint32_t ip = 0;
    uint32_t mask = 0;
    uint32_t gateway = 0;
    uint16_t port = 0;
    uint8_t baudCode = 0;
};

// The wanted values, and the device's own where none is wanted. False, with
// `missing` naming the field, when the device reports no value for a field
// that is not wanted either.
bool MergeSettings(const FoundDevice& device, const SettingsWanted& wanted, TargetSettings* target,
                   std::string* missing);

// As MergeSettings, ending the command when a value is missing.
TargetSettings MergeSettings(const FoundDevice& device, const SettingsWanted& wanted);

// True when the device reports every target value already.
bool AlreadySet(const FoundDevice& device, const TargetSettings& target);

// The request for the device, by broadcast or to its present address.
SetupRequest MakeSetupRequest(const FoundDevice& device, const TargetSettings& target,
                              bool broadcast);

// Ends the command for a result of SendSetupRequest that is this machine's
// failing (no socket, port 3195 taken, the send) rather than the device's.
void FailOnLocalSetupError(int result);

struct FieldComparison {
    std::string field;
    std::string asked;
    std::string now;  // "-" when the device did not answer or lacks the field
    bool matches = false;
};

// Each field: what was asked, what `now` reports (null: no answer).
std::vector<FieldComparison> CompareSettings(const TargetSettings& target, const FoundDevice* now);
bool AllMatch(const std::vector<FieldComparison>& fields);
nlohmann::ordered_json ComparisonJson(const std::vector<FieldComparison>& fields);
void PrintComparison(std::ostream& out, const std::vector<FieldComparison>& fields);

// The baud rate of a code as text ("9600"), or the code itself in brackets
// when it is outside the table ("[9]").
std::string BaudText(uint8_t code);
