#include "cli/Row.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <ostream>
#include <sstream>

#include "cli/Cli.h"
#include "cli/Csv.h"
#include "cli/Values.h"

using JsonValue = nlohmann::ordered_json;

struct FormatRow::Group {
    std::string key;
    bool present = true;
    std::string csvSuffix;
    bool sparse = false;
    JsonValue object = JsonValue::object();
};

void RowWriter::Address(Column column, const std::optional<uint32_t>& address, unsigned formats) {
    Text(column, address ? DottedText(*address) : std::string(), formats);
}

FormatRow::FormatRow(Kind kind)
    : kind_(kind), json_(std::make_unique<JsonValue>(JsonValue::object())) {}
FormatRow::~FormatRow() = default;
FormatRow::FormatRow(FormatRow&&) noexcept = default;
FormatRow& FormatRow::operator=(FormatRow&&) noexcept = default;

const JsonValue& FormatRow::Json() const {
    return *json_;
}

bool FormatRow::Shows(unsigned formats) const {
    switch (kind_) {
        case Kind::Table:
            return (formats & kInTable) != 0;
        case Kind::Csv:
            return (formats & kInCsv) != 0;
        case Kind::Json:
            break;
    }
    return (formats & kInJson) != 0;
}

void FormatRow::Put(Column column, const std::string& cell, const JsonValue& value) {
    switch (kind_) {
        case Kind::Table: {
            std::string heading = column.heading != nullptr ? column.heading : column.key;
            if (column.heading == nullptr) {
                std::transform(heading.begin(), heading.end(), heading.begin(),
                               [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
            }
            names_.push_back(heading);
            cells_.push_back(cell.empty() ? "-" : cell);
            return;
        }
        case Kind::Csv:
            names_.push_back(column.key + (groups_.empty() ? "" : groups_.back().csvSuffix));
            cells_.push_back(cell);
            return;
        case Kind::Json:
            break;
    }
    if (!groups_.empty() && groups_.back().sparse && value.is_null()) {
        return;
    }
    (groups_.empty() ? *json_ : groups_.back().object)[column.key] = value;
}

void FormatRow::Text(Column column, const std::string& text, unsigned formats) {
    if (Shows(formats)) {
        const bool none = text.empty() && (formats & kKeepEmpty) == 0;
        Put(column, text, none ? JsonValue(nullptr) : JsonValue(text));
    }
}

void FormatRow::Number(Column column, std::optional<int64_t> number, unsigned formats) {
    if (Shows(formats)) {
        Put(column, number ? std::to_string(*number) : "",
            number ? JsonValue(*number) : JsonValue(nullptr));
    }
}

void FormatRow::Flag(Column column, bool flag, unsigned formats) {
    if (Shows(formats)) {
        Put(column, flag ? "yes" : "no", JsonValue(flag));
    }
}

void FormatRow::Names(Column column, const std::vector<std::string>& names, unsigned formats) {
    if (!Shows(formats)) {
        return;
    }
    std::string joined;
    for (const std::string& name : names) {
        joined += (joined.empty() ? "" : ",") + name;
    }
    Put(column, joined, JsonValue(names));
}

void FormatRow::Begin(const char* key, bool present, const char* csvSuffix, bool sparse) {
    groups_.push_back({key, present, csvSuffix, sparse});
}

void FormatRow::End() {
    Group group = std::move(groups_.back());
    groups_.pop_back();
    if (kind_ == Kind::Json) {
        (groups_.empty() ? *json_ : groups_.back().object)[group.key] =
            group.present ? std::move(group.object) : JsonValue(nullptr);
    }
}

void PrintRows(std::ostream& out, const std::vector<FormatRow>& rows) {
    if (rows.empty()) {
        return;
    }
    std::vector<std::vector<std::string>> cells;
    for (const FormatRow& row : rows) {
        cells.push_back(row.Cells());
    }
    PrintTable(out, rows.front().Names(), cells);
}

std::vector<std::string> TableLines(const std::vector<FormatRow>& rows) {
    std::ostringstream table;
    PrintRows(table, rows);
    std::vector<std::string> lines;
    std::istringstream written(table.str());
    for (std::string line; std::getline(written, line);) {
        lines.push_back(line);
    }
    return lines;
}

void PrintCsvRows(std::ostream& out, const FormatRow& header, const std::vector<FormatRow>& rows) {
    out << CsvLine(header.Names());
    for (const FormatRow& row : rows) {
        out << CsvLine(row.Cells());
    }
}

JsonValue JsonRows(const std::vector<FormatRow>& rows) {
    JsonValue list = JsonValue::array();
    for (const FormatRow& row : rows) {
        list.push_back(row.Json());
    }
    return list;
}
