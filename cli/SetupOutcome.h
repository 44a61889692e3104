#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/Devices.h"
#include "cli/Outcome.h"
#include "commission/Commission.h"
#include "setup/SetupDatagram.h"

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

// True when the device reports every target value already.
bool AlreadySet(const FoundDevice& device, const TargetSettings& target);

// What the setup datagram for device `mac` carries.
SetupValues SetupValuesFor(const Mac& mac, const TargetSettings& target);

struct FieldComparison {
    std::string field;
    std::string asked;
    std::string now;  // "-" when the device did not answer or lacks the field
    bool matches = false;
    // A port or a baud rate: a number for programs, where it is one.
    bool number = false;
};

// Each field: what was asked, what `now` reports (null: no answer).
std::vector<FieldComparison> CompareSettings(const TargetSettings& target, const FoundDevice* now);
bool AllMatch(const std::vector<FieldComparison>& fields);
void PrintComparison(std::ostream& out, const std::vector<FieldComparison>& fields);

// The baud rate of a code as text ("9600"), or the code itself in brackets
// when it is outside the table ("[9]").
std::string BaudText(uint8_t code);

// The outcome of a commissioning task for a device that was to have
// `target` (and ID `id`); `now` is what it reported last.
RowOutcome DescribeResult(const CommissionResult& result, const std::optional<uint8_t>& id,
                          bool setupNeeded, int settleSeconds, const TargetSettings& target,
                          const std::optional<FoundDevice>& now);
