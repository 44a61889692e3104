#include "cli/Plan.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "cli/Csv.h"

const std::vector<std::string> kPlanColumns = {"mac",  "ip",   "mask", "gateway",
                                               "port", "baud", "id"};

namespace {

constexpr uint32_t kLargestPort = 65535;
constexpr uint32_t kLargestId = 255;

enum Column { kMac, kIp, kMask, kGateway, kPort, kBaud, kId, kColumnCount };

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Blanks around a cell are a spreadsheet's, not part of the value.
std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

class PlanReader {
public:
    PlanReader(const std::string& fileName, std::vector<std::string>* refusals)
        : fileName_(fileName), refusals_(refusals) {}

    void Refuse(size_t line, size_t column, const std::string& what) {
        refusals_->push_back(fileName_ + ":" + std::to_string(line) + ":" + std::to_string(column) +
                             ": " + what);
    }

    // Where each plan column stands in the file (0: absent), from the header.
    bool ReadHeader(const CsvRecord& header) {
        for (size_t i = 0; i < header.fields.size(); ++i) {
            const auto known = std::find(kPlanColumns.begin(), kPlanColumns.end(),
                                         Lower(Trimmed(header.fields[i])));
            if (known == kPlanColumns.end()) {
                continue;
            }
            const size_t column = static_cast<size_t>(known - kPlanColumns.begin());
            if (positions_[column] != 0) {
                Refuse(header.line, i + 1, "column " + *known + " appears twice");
                return false;
            }
            positions_[column] = i + 1;
        }
        if (positions_[kMac] == 0) {
            Refuse(header.line, 1, "the header names no mac column");
            return false;
        }
        return true;
    }

    bool ReadRow(const CsvRecord& record, PlanRow* row) {
        row->line = record.line;
        bool good = true;
        const auto cell = [&](Column column) {
            const size_t at = positions_[column];
            return at == 0 || at > record.fields.size() ? std::string()
                                                        : Trimmed(record.fields[at - 1]);
        };
        const auto refuse = [&](Column column, const std::string& value, const std::string& why) {
            Refuse(record.line, positions_[column],
                   kPlanColumns[column] + " '" + value + "' is " + why);
            good = false;
        };
        std::string why;

        const std::string mac = cell(kMac);
        if (mac.empty()) {
            Refuse(record.line, positions_[kMac], "the row names no MAC");
            good = false;
        } else if (const auto read = ReadMac(mac, &why)) {
            row->mac = *read;
        } else {
            refuse(kMac, mac, why);
        }
        const auto address = [&](Column column, std::optional<uint32_t>* target) {
            const std::string text = cell(column);
            if (text.empty()) {
                return;
            }
            if (const auto read = ReadAddress(text, &why)) {
                *target = *read;
            } else {
                refuse(column, text, why);
            }
        };
        address(kIp, &row->ip);
        address(kMask, &row->mask);
        address(kGateway, &row->gateway);
        if (const std::string text = cell(kPort); !text.empty()) {
            if (const auto read = ReadNumber(text, 0, kLargestPort, &why)) {
                row->port = static_cast<uint16_t>(*read);
            } else {
                refuse(kPort, text, why);
            }
        }
        if (const std::string text = cell(kBaud); !text.empty()) {
            if (const auto read = ReadBaudRate(text, &why)) {
                row->baudCode = *read;
            } else {
                refuse(kBaud, text, why);
            }
        }
        if (const std::string text = cell(kId); !text.empty()) {
            if (const auto read = ReadNumber(text, 0, kLargestId, &why)) {
                row->id = static_cast<uint8_t>(*read);
            } else {
                refuse(kId, text, why);
            }
        }
        return good;
    }

    // A MAC or a target IP that two rows name.
    void RefuseTwice(const std::vector<PlanRow>& rows) {
        std::map<Mac, size_t> macs;
        std::map<uint32_t, size_t> ips;
        for (const PlanRow& row : rows) {
            const auto [mac, newMac] = macs.emplace(row.mac, row.line);
            if (!newMac) {
                Refuse(row.line, positions_[kMac],
                       "MAC " + MacText(row.mac) + " is planned on line " +
                           std::to_string(mac->second) + " already");
            }
            if (!row.ip) {
                continue;
            }
            const auto [ip, newIp] = ips.emplace(*row.ip, row.line);
            if (!newIp) {
                Refuse(row.line, positions_[kIp],
                       "IP " + DottedText(*row.ip) + " is the target of line " +
                           std::to_string(ip->second) + " already");
            }
        }
    }

private:
    std::string fileName_;
    std::vector<std::string>* refusals_;
    size_t positions_[kColumnCount] = {};
};

}  // namespace

bool ReadPlan(std::string_view text, const std::string& fileName, std::vector<PlanRow>* rows,
              std::vector<std::string>* refusals) {
    rows->clear();
    refusals->clear();
    std::vector<CsvRecord> records;
    std::string error;
    if (!ReadCsv(text, &records, &error)) {
        refusals->push_back(fileName + ": " + error);
        return false;
    }
    PlanReader reader(fileName, refusals);
    if (records.empty()) {
        refusals->push_back(fileName + ": the plan is empty");
        return false;
    }
    if (!reader.ReadHeader(records.front())) {
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
