// The plan reader on any bytes: a plan or refusals, never a crash, and what
// it accepts holds together. CSV that it reads is written back and read
// again to the same fields.
//
// Input: the bytes of a plan file.
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Csv.h"
#include "cli/Plan.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    std::vector<CsvRecord> records;
    std::string error;
    if (ReadCsv(text, &records, &error)) {
        std::string written;
        for (const CsvRecord& record : records) {
            FUZZ_CHECK(record.line >= 1);
            written += CsvLine(record.fields);
        }
        std::vector<CsvRecord> again;
        FUZZ_CHECK(ReadCsv(written, &again, &error));
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
