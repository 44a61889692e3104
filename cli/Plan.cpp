#include "cli/Plan.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <utility>

#include "cli/Csv.h"

const std::vector<std::string> kPlanColumns = {"mac",  "ip",   "mask", "gateway",
                                               "port", "baud", "id"};

namespace {

constexpr char kCommentMark = '#';
constexpr char kStandardInput[] = "-";

enum Column { kMac, kIp, kMask, kGateway, kPort, kBaud, kId, kColumnCount };

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Blanks around a cell are a spreadsheet's, not part of the value.
std::string_view Trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Rows a spreadsheet leaves that hold nothing to plan: every cell empty, or
// a first cell that starts with '#'.
bool HoldsNothing(const CsvRecord& record) {
    if (!record.fields.empty() && Trimmed(record.fields.front()).rfind(kCommentMark, 0) == 0) {
        return true;
    }
    return std::all_of(record.fields.begin(), record.fields.end(),
                       [](const std::string& field) { return Trimmed(field).empty(); });
}

class PlanReader {
public:
    PlanReader(const std::string& fileName, std::vector<std::string>* refusals, bool macLessRows)
        : fileName_(fileName), refusals_(refusals), macLessRows_(macLessRows) {}

    void Refuse(const CsvPlace& place, const std::string& what) {
        refusals_->push_back(fileName_ + ":" + std::to_string(place.line) + ":" +
                             std::to_string(place.column) + ": " + what);
    }

    // Where each plan column stands in the file (0: absent), from the header.
    bool ReadHeader(const CsvRecord& header) {
        for (size_t i = 0; i < header.fields.size(); ++i) {
            const auto known = std::find(kPlanColumns.begin(), kPlanColumns.end(),
                                         Lower(std::string(Trimmed(header.fields[i]))));
            if (known == kPlanColumns.end()) {
                continue;
            }
            const size_t column = static_cast<size_t>(known - kPlanColumns.begin());
            if (positions_[column] != 0) {
                Refuse(header.places[i], "column " + *known + " appears twice");
                return false;
            }
            positions_[column] = i + 1;
        }
        if (positions_[kMac] == 0) {
            Refuse(header.places.front(), "the header names no mac column");
            return false;
        }
        return true;
    }

    bool ReadRow(const CsvRecord& record, PlanRow* row) {
        row->line = record.line;
        bool good = true;
        const auto present = [&](Column column) {
            const size_t at = positions_[column];
            return at != 0 && at <= record.fields.size();
        };
        const auto cell = [&](Column column) {
            return present(column) ? std::string(Trimmed(record.fields[positions_[column] - 1]))
                                   : std::string();
        };
        // A cell that is missing from a short row stands where it would begin.
        const auto place = [&](Column column) {
            return present(column) ? record.places[positions_[column] - 1]
                                   : CsvPlace{record.line, record.places.back().column};
        };
        const auto refuse = [&](Column column, const std::string& value, const std::string& why) {
            Refuse(place(column), kPlanColumns[column] + " '" + value + "' is " + why);
            good = false;
        };
        // Each cell: empty keeps the device's value, else the reader's value.
        const auto read = [&](Column column, auto reader, auto* target) {
            const std::string text = cell(column);
            std::string why;
            if (text.empty()) {
                return;
            }
            if (const auto value = reader(text, &why)) {
                *target = *value;
            } else {
                refuse(column, text, why);
            }
        };
        const std::string mac = cell(kMac);
        row->macNamed = !mac.empty();
        if (mac.empty() && !macLessRows_) {
            Refuse(place(kMac), "the row names no MAC (rows without one need --watch)");
            good = false;
        }
        std::optional<Mac> macRead;
        read(
            kMac, [](const std::string& t, std::string* w) { return ReadMac(t, w); }, &macRead);
        row->mac = macRead.value_or(Mac{});
        const auto address = [](const std::string& t, std::string* w) { return ReadAddress(t, w); };
        read(kIp, address, &row->ip);
        read(kMask, address, &row->mask);
        read(kGateway, address, &row->gateway);
        read(
            kPort, [](const std::string& t, std::string* w) { return ReadPort(t, w); }, &row->port);
        read(
            kBaud, [](const std::string& t, std::string* w) { return ReadBaudRate(t, w); },
            &row->baudCode);
        read(
            kId, [](const std::string& t, std::string* w) { return ReadId(t, w); }, &row->id);
        if (good) {
            places_[row->line] = {place(kMac), place(kIp)};
        }
        return good;
    }

    // A MAC or a target IP that two rows name.
    void RefuseTwice(const std::vector<PlanRow>& rows) {
        std::map<Mac, size_t> macs;
        std::map<uint32_t, size_t> ips;
        for (const PlanRow& row : rows) {
            const auto [mac, newMac] =
                row.macNamed ? macs.emplace(row.mac, row.line) : std::make_pair(macs.end(), true);
            if (row.macNamed && !newMac) {
                Refuse(places_[row.line].first, "MAC " + MacText(row.mac) + " is planned on line " +
                                                    std::to_string(mac->second) + " already");
            }
            if (!row.ip) {
                continue;
            }
            const auto [ip, newIp] = ips.emplace(*row.ip, row.line);
            if (!newIp) {
                Refuse(places_[row.line].second, "IP " + DottedText(*row.ip) +
                                                     " is the target of line " +
                                                     std::to_string(ip->second) + " already");
            }
        }
    }

private:
    std::string fileName_;
    std::vector<std::string>* refusals_;
    bool macLessRows_;
    size_t positions_[kColumnCount] = {};
    // Where each good row's MAC and IP stand, by the row's line.
    std::map<size_t, std::pair<CsvPlace, CsvPlace>> places_;
};

}  // namespace

bool ReadPlan(std::string_view text, const std::string& fileName, std::vector<PlanRow>* rows,
              std::vector<std::string>* refusals, bool macLessRows) {
    std::vector<CsvRecord> records;
    std::string error;
    if (!ReadCsv(text, &records, &error)) {
        rows->clear();
        refusals->clear();
        refusals->push_back(fileName + ": " + error);
        return false;
    }
    return ReadPlanRecords(std::move(records), fileName, rows, refusals, macLessRows);
}

bool ReadPlanRecords(std::vector<CsvRecord> records, const std::string& fileName,
                     std::vector<PlanRow>* rows, std::vector<std::string>* refusals,
                     bool macLessRows) {
    rows->clear();
    refusals->clear();
    records.erase(std::remove_if(records.begin(), records.end(), HoldsNothing), records.end());
    if (records.empty()) {
        refusals->push_back(fileName + ": the plan is empty: no header, no rows");
        return false;
    }
    PlanReader reader(fileName, refusals, macLessRows);
    if (!reader.ReadHeader(records.front())) {
        return false;
    }
    if (records.size() == 1) {
        refusals->push_back(fileName + ": the plan has a header but no rows");
        return false;
    }
    if (records.size() - 1 > kMostPlanRows) {
        refusals->push_back(fileName + ": the plan has " + std::to_string(records.size() - 1) +
                            " rows; no segment needs more than " + std::to_string(kMostPlanRows));
        return false;
    }
    for (size_t i = 1; i < records.size(); ++i) {
        PlanRow row;
        if (reader.ReadRow(records[i], &row)) {
            rows->push_back(row);
        }
    }
    reader.RefuseTwice(*rows);
    return refusals->empty();
}

std::optional<Failure> ReadPlanFile(const std::string& path, std::vector<PlanRow>* rows,
                                    bool macLessRows) {
    const auto cannot = [&path](const std::string& why) {
        return Failure{kExitUsage, "cannot read the plan " + path + ": " + why, {}};
    };
    const bool standardInput = path == kStandardInput;
    if (!standardInput) {
        std::error_code error;
        const std::filesystem::file_status status = std::filesystem::status(path, error);
        if (error) {
            return cannot(error.message());
        }
        if (!std::filesystem::is_regular_file(status)) {
            return cannot(std::filesystem::is_directory(status) ? "it is a directory"
                                                                : "it is no plain file");
        }
    }
    std::ifstream file;
    if (!standardInput) {
        file.open(path, std::ios::binary);
        if (!file) {
            return cannot(std::strerror(errno));
        }
    }
    std::istream& in = standardInput ? std::cin : file;
    // One byte more than allowed tells a file that is too large.
    std::string text(kLargestPlanBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        return cannot("a read failed");
    }
    text.resize(static_cast<size_t>(in.gcount()));
    if (text.size() > kLargestPlanBytes) {
        return cannot("it is larger than 1 MiB, more than any plan needs");
    }
    std::vector<std::string> refusals;
    if (!ReadPlan(text, path, rows, &refusals, macLessRows)) {
        return Failure{kExitUsage, "the plan was refused; nothing was sent", refusals};
    }
    return std::nullopt;
}
