#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/Apply.h"
#include "cli/Output.h"

// The report of apply and of the station: one row per plan row, with what it
// asked, what its device reports now and its outcome, as a table for people,
// as CSV or JSON for programs and for the report file; and read back from
// that file by a later run of the station, which continues from it.

class ApplyReport : public Shown {
public:
    ApplyReport(std::vector<ApplyRow> rows, ApplySettings settings)
        : rows_(std::move(rows)), settings_(std::move(settings)) {}

    void Table(std::ostream& out) const override;
    nlohmann::ordered_json Json() const override;
    void Csv(std::ostream& out) const override;

private:
    void Put(RowWriter& row, const ApplyRow& item) const;

    std::vector<ApplyRow> rows_;
    ApplySettings settings_;
};

// Writes the report to `path` as a whole: JSON when its name ends in .json,
// else CSV.
std::optional<Failure> WriteReportFile(const std::string& path, const ApplyReport& report);

// What an earlier report says of one plan line.
struct EarlierRow {
    std::string mac;
    std::vector<std::string> asked;  // as AskedCells gives them
    std::string outcome;             // its token
};

// Reads the report at `path` (CSV or JSON, by its name), by plan line;
// nothing when there is no file yet. A file that is no report of apply is
// refused.
std::optional<Failure> ReadReportFile(const std::string& path, std::map<size_t, EarlierRow>* rows);

// What the row asked, as the report's asked columns write it: ip, mask,
// gateway, port, baud, id; empty where it asked nothing.
std::vector<std::string> AskedCells(const PlanRow& row);
