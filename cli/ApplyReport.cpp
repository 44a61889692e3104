#include "cli/ApplyReport.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/Csv.h"
#include "cli/Row.h"

namespace {

// The columns of the asked values, by the name both the CSV ("ip_asked") and
// the JSON ("asked": {"ip": ...}) give them.
constexpr const char* kAskedFields[] = {"ip", "mask", "gateway", "port", "baud", "id"};
constexpr char kAskedSuffix[] = "_asked";
constexpr char kOutcomeField[] = "outcome";
constexpr char kLineField[] = "line";
constexpr char kMacField[] = "mac";

bool IsJsonName(const std::string& path) {
    constexpr char kJsonEnding[] = ".json";
    const size_t length = sizeof kJsonEnding - 1;
    return path.size() >= length && path.compare(path.size() - length, length, kJsonEnding) == 0;
}

// The MAC of the row's device; none for a row without one that no device
// took.
std::string RowMac(const ApplyRow& item) {
    return !item.row.macNamed && item.row.mac == Mac{} ? "" : MacText(item.row.mac);
}

void PutAsked(RowWriter& row, const PlanRow& plan, unsigned formats) {
    row.Begin("asked", true, kAskedSuffix, true);
    row.Address(kAskedFields[0], plan.ip, formats);
    row.Address(kAskedFields[1], plan.mask, formats);
    row.Address(kAskedFields[2], plan.gateway, formats);
    row.Number(kAskedFields[3], plan.port, formats);
    row.Text(kAskedFields[4], plan.baudCode ? BaudText(*plan.baudCode) : "", kInCsv & formats);
    row.Number(
        kAskedFields[4],
        plan.baudCode ? std::optional<int64_t>(std::stoul(BaudText(*plan.baudCode))) : std::nullopt,
        kInJson & formats);
    row.Number(kAskedFields[5], plan.id, formats);
    row.End();
}

std::optional<Failure> Unreadable(const std::string& path, const std::string& why) {
    return Failure{
        kExitUsage,
        "cannot continue from the report " + path + ": " + why + " (--again starts afresh)",
        {}};
}

std::optional<Failure> ReadJsonReport(const std::string& path, const std::string& text,
                                      std::map<size_t, EarlierRow>* rows) {
    const nlohmann::json report = nlohmann::json::parse(text, nullptr, false);
    if (!report.is_array()) {
        return Unreadable(path, "it is no report of velquint apply");
    }
    for (const nlohmann::json& row : report) {
        if (!row.is_object() || !row.contains(kLineField) ||
            !row[kLineField].is_number_unsigned()) {
            return Unreadable(path, "a row without its line");
        }
        // A cell as the CSV has it: a text as it is, a number written out,
        // nothing (a row without a MAC has null) empty.
        const auto cell = [](const nlohmann::json& object, const char* key) -> std::string {
            if (!object.is_object() || !object.contains(key) || object[key].is_null()) {
                return "";
            }
            return object[key].is_string() ? object[key].get<std::string>() : object[key].dump();
        };
        EarlierRow earlier{cell(row, kMacField), {}, cell(row, kOutcomeField)};
        const nlohmann::json asked = row.value("asked", nlohmann::json::object());
        for (const char* field : kAskedFields) {
            earlier.asked.push_back(cell(asked, field));
        }
        (*rows)[row[kLineField].get<size_t>()] = earlier;
    }
    return std::nullopt;
}

std::optional<Failure> ReadCsvReport(const std::string& path, const std::string& text,
                                     std::map<size_t, EarlierRow>* rows) {
    std::vector<CsvRecord> records;
    std::string error;
    if (!ReadCsv(text, &records, &error)) {
        return Unreadable(path, error);
    }
    if (records.empty()) {
        return Unreadable(path, "it is empty");
    }
    const std::vector<std::string>& header = records.front().fields;
    const auto column = [&header](const std::string& name) {
        const auto found = std::find(header.begin(), header.end(), name);
        return found == header.end() ? header.size() : static_cast<size_t>(found - header.begin());
    };
    std::vector<size_t> wanted = {column(kLineField), column(kMacField), column(kOutcomeField)};
    for (const char* field : kAskedFields) {
        wanted.push_back(column(field + std::string(kAskedSuffix)));
    }
    if (std::find(wanted.begin(), wanted.end(), header.size()) != wanted.end()) {
        return Unreadable(path, "it is no report of velquint apply (a column is missing)");
    }
    for (size_t i = 1; i < records.size(); ++i) {
        const std::vector<std::string>& fields = records[i].fields;
        std::string why;
        // A spreadsheet may leave out empty cells at the end of a row.
        const std::optional<uint32_t> line =
            fields.size() > *std::max_element(wanted.begin(), wanted.end())
                ? ReadNumber(fields[wanted[0]], 1, UINT32_MAX, &why)
                : std::nullopt;
        if (!line) {
            return Unreadable(path,
                              "line " + std::to_string(records[i].line) + " is no report row");
        }
        EarlierRow earlier{fields[wanted[1]], {}, fields[wanted[2]]};
        for (size_t field = 3; field < wanted.size(); ++field) {
            earlier.asked.push_back(fields[wanted[field]]);
        }
        (*rows)[*line] = earlier;
    }
    return std::nullopt;
}

}  // namespace

void ApplyReport::Put(RowWriter& row, const ApplyRow& item) const {
    row.Number(kLineField, static_cast<int64_t>(item.row.line), kInCsv | kInJson);
    row.Text(kMacField, RowMac(item));
    PutAsked(row, item.row, kInCsv | kInJson);
    const std::optional<FoundDevice> now = ReportedNow(item);
    row.Begin("now", now.has_value(), "_now");
    PutDevice(row, now.value_or(FoundDevice()), false);
    row.End();
    row.Number({"id", "ID"}, item.row.id, kInTable);
    const RowOutcome outcome = OutcomeOf(item, settings_);
    row.Text(kOutcomeField, outcome.Token(), kInCsv | kInJson);
    row.Text("text", outcome.Text(), kInCsv | kInJson);
    row.Text("detail", outcome.detail, kInCsv | kInJson | kKeepEmpty);
    row.Text(kOutcomeField, outcome.Sentence(), kInTable);
}

void ApplyReport::Table(std::ostream& out) const {
    WriteTable(out, rows_, [this](RowWriter& row, const ApplyRow& item) { Put(row, item); });
}

nlohmann::ordered_json ApplyReport::Json() const {
    return JsonRows(PutRows(FormatRow::Kind::Json, rows_,
                            [this](RowWriter& row, const ApplyRow& item) { Put(row, item); }));
}

void ApplyReport::Csv(std::ostream& out) const {
    WriteCsv(out, rows_, ApplyRow(),
             [this](RowWriter& row, const ApplyRow& item) { Put(row, item); });
}

std::optional<Failure> WriteReportFile(const std::string& path, const ApplyReport& report) {
    std::ostringstream content;
    if (IsJsonName(path)) {
        content << report.Json().dump(2) << '\n';
    } else {
        report.Csv(content);
    }
    return WriteFileAtomically(path, content.str());
}

std::optional<Failure> ReadReportFile(const std::string& path, std::map<size_t, EarlierRow>* rows) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;  // no report yet: the first run
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return IsJsonName(path) ? ReadJsonReport(path, text, rows) : ReadCsvReport(path, text, rows);
}

std::vector<std::string> AskedCells(const PlanRow& row) {
    FormatRow cells(FormatRow::Kind::Csv);
    PutAsked(cells, row, kInCsv);
    return cells.Cells();
}
