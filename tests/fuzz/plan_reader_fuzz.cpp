// The command line's input side on any bytes. As a plan: a plan or
// refusals, never a crash, and what it accepts holds together; CSV that it
// reads is written back and read again to the same fields. As a command
// line (one word per line): velquint's own parser with every option's
// validator either takes it or refuses it with a parse error, nothing else;
// and each word read as an address is taken exactly when a plain reading of
// the rule (four decimal numbers 0-255, no leading zero, not all ones) takes
// it.
//
// Input: the bytes of a plan file, or the words of a command line.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Csv.h"
#include "cli/Plan.h"
#include "cli/Velquint.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

FUZZ_MODEL bool ModelAddress(const std::string& text, uint32_t* address) {
    std::vector<std::string> parts(1);
    for (const char c : text) {
        if (c == '.') {
            parts.emplace_back();
        } else if (c >= '0' && c <= '9') {
            parts.back() += c;
        } else {
            return false;
        }
    }
    if (parts.size() != 4) {
        return false;
    }
    *address = 0;
    for (const std::string& part : parts) {
        if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0') ||
            std::stoul(part) > 255) {
            return false;
        }
        *address = *address * 256 + static_cast<uint32_t>(std::stoul(part));
    }
    return *address != 0xFFFFFFFF;
}

void CheckCommandLine(std::string_view text) {
    std::vector<std::string> words = {"velquint"};
    std::istringstream lines{std::string(text)};
    for (std::string word; std::getline(lines, word);) {
        words.push_back(word);
        uint32_t modelled = 0;
        const bool taken = ModelAddress(word, &modelled);
        const std::optional<uint32_t> read = ReadAddress(word);
        FUZZ_CHECK(read.has_value() == taken);
        FUZZ_CHECK(!taken || *read == modelled);
    }
    // Building the whole command line costs more than a plan's reading: only
    // for what could be one.
    const bool command =
        words.size() > 1 &&
        (words[1].rfind('-', 0) == 0 ||
         std::any_of(VelquintCommands().begin(), VelquintCommands().end(),
                     [&words](const CommandSpec& spec) { return words[1] == spec.name; }));
    if (!command) {
        return;
    }
    std::vector<const char*> argv;
    for (const std::string& word : words) {
        argv.push_back(word.c_str());
    }
    CLI::App app;
    const VelquintCommandLine line = AddVelquintCommandLine(app);
    try {
        app.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::ParseError&) {
        // Refused, as a person would be told.
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckCommandLine(text);

    std::vector<CsvRecord> records;
    std::string error;
    if (ReadCsv(text, &records, &error)) {
        std::string written;
        for (const CsvRecord& record : records) {
            FUZZ_CHECK(record.line >= 1);
            written += CsvLine(record.fields);
        }
        // A byte-order mark that now opens the text is read as one, not as
        // the first field's: kept out of the second reading.
        const std::string mark = "\xEF\xBB\xBF";
        std::vector<CsvRecord> again;
        FUZZ_CHECK(ReadCsv(written.rfind(mark, 0) == 0 ? mark + written : written, &again, &error));
        // A record of one empty field is written as a blank line, which
        // holds no record.
        size_t next = 0;
        for (const CsvRecord& record : records) {
            if (record.fields.size() == 1 && record.fields[0].empty()) {
                continue;
            }
            FUZZ_CHECK(next < again.size() && again[next++].fields == record.fields);
        }
        FUZZ_CHECK(next == again.size());
    } else {
        FUZZ_CHECK(error.rfind("line ", 0) == 0);
    }

    std::vector<PlanRow> rows;
    std::vector<std::string> refusals;
    const bool accepted = ReadPlan(text, "plan.csv", &rows, &refusals);
    FUZZ_CHECK(accepted == refusals.empty());
    for (const std::string& refusal : refusals) {
        FUZZ_CHECK(refusal.rfind("plan.csv:", 0) == 0);
    }
    if (accepted) {
        std::set<Mac> macs;
        std::set<uint32_t> ips;
        for (const PlanRow& row : rows) {
            FUZZ_CHECK(row.line >= 2);
            FUZZ_CHECK(macs.insert(row.mac).second);
            FUZZ_CHECK(!row.ip || ips.insert(*row.ip).second);
        }
    }
    return 0;
}
