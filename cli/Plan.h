#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Cli.h"
#include "cli/Csv.h"
#include "cli/Devices.h"
#include "cli/Values.h"

// A commissioning plan: one row per device, named by its MAC, with the
// settings it is to have. An empty cell keeps the device's present value.
// Columns by their header: mac (required), ip, mask, gateway, port, baud, id;
// any other column (version, interface, a note) is ignored, so the output of
// `velquint search --csv` is a valid plan.

struct PlanRow : NetworkSettings {
    size_t line = 0;  // the file line the row starts on
    Mac mac{};
    // False on a row that names no MAC (a station's "the next device gets
    // these"); `mac` is then the device's that took the row, if any.
    bool macNamed = true;
    std::optional<uint8_t> id;
};

// The column names a plan takes, in the order `search --csv` writes them.
extern const std::vector<std::string> kPlanColumns;

// No real segment needs a larger plan; a bound on what a mistaken file
// (a log, a disk image) can make the command read.
constexpr size_t kLargestPlanBytes = 1 << 20;
constexpr size_t kMostPlanRows = 10000;

// Reads and checks a whole plan, as spreadsheets write it: a byte-order mark,
// any line ends, blank and all-empty rows and rows whose first cell starts
// with '#' (comments) are taken. Every refusal is one message in the GNU
// form "<file>:<line>:<column>: <what>", the column counted in characters: a
// row that is not CSV, a header without a mac column, a malformed MAC or
// address, a port or ID out of range, a baud rate the devices do not have,
// a MAC twice, a target IP twice, no row at all, too many rows. False when
// there is any.
// With `macLessRows`, a row may leave its MAC empty.
bool ReadPlan(std::string_view text, const std::string& fileName, std::vector<PlanRow>* rows,
              std::vector<std::string>* refusals, bool macLessRows = false);

// The same for a plan's records, already read from its CSV.
bool ReadPlanRecords(std::vector<CsvRecord> records, const std::string& fileName,
                     std::vector<PlanRow>* rows, std::vector<std::string>* refusals,
                     bool macLessRows = false);

// Reads the plan file `path` (a regular file of at most kLargestPlanBytes;
// "-" is standard input) and checks it. Nothing, or the failure that refuses
// it, with every refusal among its details.
std::optional<Failure> ReadPlanFile(const std::string& path, std::vector<PlanRow>* rows,
                                    bool macLessRows = false);
