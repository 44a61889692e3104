// The command line's plan files on any bytes: a plan or refusals, never a
// crash, and what it accepts holds together; CSV that it reads is written
// back and read again to the same fields. And each line of the same bytes,
// as a word of a command line: read as an address, it is taken exactly when
// a plain reading of the rule (four decimal numbers 0-255, no leading zero,
// not all ones) takes it. Whole command lines go through velquint's parser
// in a target of their own (command_line).
//
// Input: the bytes of a plan file, or the words of a command line (one a
// line).
#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/Csv.h"
#include "cli/Plan.h"
#include "cli/Values.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

FUZZ_MODEL bool ModelAddress(std::string_view text, uint32_t* address) {
    uint32_t parts[4];
    size_t count = 0;
    for (size_t at = 0;;) {
        const size_t dot = text.find('.', at);
        const std::string_view part =
            text.substr(at, dot == std::string_view::npos ? dot : dot - at);
        if (count == 4 || part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0')) {
            return false;
        }
        uint32_t value = 0;
        for (const char c : part) {
            if (c < '0' || c > '9') {
                return false;
            }
            value = value * 10 + static_cast<uint32_t>(c - '0');
        }
        if (value > 255) {
            return false;
        }
        parts[count++] = value;
        if (dot == std::string_view::npos) {
            break;
        }
        at = dot + 1;
    }
    if (count != 4) {
        return false;
    }
    *address = parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
    return *address != 0xFFFFFFFF;
}

void CheckAddressWords(std::string_view text) {
    // One string for the run: it keeps its room from word to word.
    static std::string word;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        word.assign(text.substr(at, end - at));
        uint32_t modelled = 0;
        const bool taken = ModelAddress(word, &modelled);
        const std::optional<uint32_t> read = ReadAddress(word);
        FUZZ_CHECK(read.has_value() == taken);
        FUZZ_CHECK(!taken || *read == modelled);
        at = end + 1;
    }
}

// The CSV read, written back and read again; true, with the records of the
// first reading, when the text is CSV.
bool CheckCsv(std::string_view text, std::vector<CsvRecord>* records) {
    std::vector<CsvRecord> again;
    std::string written;
    std::string error;
    if (!ReadCsv(text, records, &error)) {
        FUZZ_CHECK(error.rfind("line ", 0) == 0);
        return false;
    }
    for (const CsvRecord& record : *records) {
        FUZZ_CHECK(record.line >= 1);
        written += CsvLine(record.fields);
    }
    // A byte-order mark that now opens the text is read as one, not as
    // the first field's: kept out of the second reading.
    const std::string mark = "\xEF\xBB\xBF";
    if (written.rfind(mark, 0) == 0) {
        written.insert(0, mark);
    }
    FUZZ_CHECK(ReadCsv(written, &again, &error));
    // A record of one empty field is written as a blank line, which
    // holds no record.
    size_t next = 0;
    for (const CsvRecord& record : *records) {
        if (record.fields.size() == 1 && record.fields[0].empty()) {
            continue;
        }
        FUZZ_CHECK(next < again.size() && again[next++].fields == record.fields);
    }
    FUZZ_CHECK(next == again.size());
    return true;
}

template <typename T>
FUZZ_MODEL bool AllDifferent(std::vector<T>* values) {
    std::sort(values->begin(), values->end());
    return std::adjacent_find(values->begin(), values->end()) == values->end();
}

// The plan read from the records of the CSV reading (the plan reader's own
// first step), or, when the text is no CSV, refused as such.
void CheckPlan(std::string_view text, bool csv, std::vector<CsvRecord>* records) {
    std::vector<PlanRow> rows;
    std::vector<std::string> refusals;
    if (!csv) {
        FUZZ_CHECK(!ReadPlan(text, "plan.csv", &rows, &refusals));
        FUZZ_CHECK(refusals.size() == 1 && refusals[0].rfind("plan.csv: line ", 0) == 0);
        return;
    }
    const bool accepted = ReadPlanRecords(std::move(*records), "plan.csv", &rows, &refusals);
    FUZZ_CHECK(accepted == refusals.empty());
    for (const std::string& refusal : refusals) {
        FUZZ_CHECK(refusal.rfind("plan.csv:", 0) == 0);
    }
    if (!accepted) {
        return;
    }
    std::vector<Mac> macs;
    std::vector<uint32_t> ips;
    for (const PlanRow& row : rows) {
        FUZZ_CHECK(row.line >= 2);
        macs.push_back(row.mac);
        if (row.ip) {
            ips.push_back(*row.ip);
        }
    }
    FUZZ_CHECK(AllDifferent(&macs));
    FUZZ_CHECK(AllDifferent(&ips));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckAddressWords(text);
    std::vector<CsvRecord> records;
    const bool csv = CheckCsv(text, &records);
    CheckPlan(text, csv, &records);
    return 0;
}
