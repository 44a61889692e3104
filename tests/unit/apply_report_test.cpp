#include "cli/ApplyReport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "cli/Station.h"

namespace {

// Rows as a run leaves them: each way a row can end, asked values of each
// kind, and a station's row that no device took.
std::vector<ApplyRow> Rows() {
    std::vector<ApplyRow> rows(4);
    rows[0].row.line = 2;
    rows[0].row.mac = {0x00, 0x1A, 0x2B, 0x00, 0x00, 0x01};
    rows[0].row.ip = 0x0AE76529;
    rows[0].row.port = 4002;
    rows[0].row.baudCode = 7;
    rows[0].row.id = 41;
    rows[0].task = 0;
    rows[0].result.outcome = CommissionOutcome::Verified;
    rows[0].before = ReadFoundDevice({0x00, 0x1A, 0x2B, 0x00, 0x00, 0x01});
    rows[1].row.line = 3;
    rows[1].row.mac = {0x00, 0x1A, 0x2B, 0x00, 0x00, 0x02};
    rows[1].row.mask = 0xFFFF0000;
    rows[1].decided = RowOutcome{OutcomeKind::AlreadySet, ""};
    rows[2].row.line = 5;
    rows[2].row.mac = {0x00, 0x1A, 0x2B, 0x00, 0x00, 0x03};
    rows[2].row.gateway = 0x0AE70001;
    rows[2].task = 1;
    rows[2].result.outcome = CommissionOutcome::IdNotWritten;
    rows[2].result.idResult = -7;
    rows[3].row.line = 6;
    rows[3].row.macNamed = false;
    rows[3].row.ip = 0x0AE7652D;
    rows[3].decided = RowOutcome{OutcomeKind::NotFound, "stopped before its device appeared"};
    return rows;
}

// What the report file says comes back as it was written, in both formats,
// and a later station run takes exactly the rows verified with the same
// values.
TEST(ApplyReport, WhatItWritesReadsBackInBothFormats) {
    const std::vector<ApplyRow> rows = Rows();
    for (const char* name : {"report.csv", "report.json"}) {
        const std::string path = testing::TempDir() + name;
        ASSERT_FALSE(WriteReportFile(path, ApplyReport(rows, ApplySettings()))) << name;
        std::map<size_t, EarlierRow> earlier;
        ASSERT_FALSE(ReadReportFile(path, &earlier)) << name;
        ASSERT_EQ(earlier.size(), rows.size()) << name;
        for (const ApplyRow& row : rows) {
            const EarlierRow& read = earlier.at(row.row.line);
            EXPECT_EQ(read.mac, row.row.macNamed ? MacText(row.row.mac) : "") << name;
            EXPECT_EQ(read.asked, AskedCells(row.row)) << name;
            EXPECT_EQ(read.outcome, OutcomeOf(row, ApplySettings()).Token()) << name;
        }

        std::vector<ApplyRow> again = Rows();
        again[0].row.port = 4003;  // asks for another port now: not taken
        for (ApplyRow& row : again) {
            row.decided.reset();
        }
        ASSERT_FALSE(TakeEarlierReport(path, again)) << name;
        EXPECT_FALSE(again[0].decided) << name;
        std::vector<ApplyRow> same = Rows();
        same[1].decided.reset();
        ASSERT_FALSE(TakeEarlierReport(path, same)) << name;
        ASSERT_TRUE(same[0].decided) << name;
        EXPECT_EQ(same[0].decided->kind, OutcomeKind::Verified) << name;
        EXPECT_FALSE(same[1].decided) << name;  // already set is not verified
    }
}

TEST(ApplyReport, AFileThatIsNoReportIsRefused) {
    const struct {
        const char* name;
        const char* content;
    } cases[] = {
        {"plan.csv", "mac,ip\n00.1A.2B.00.00.01,10.0.0.1\n"},
        {"rows.csv",
         "line,mac,outcome,ip_asked,mask_asked,gateway_asked,port_asked,baud_asked,"
         "id_asked\nseven,,verified,,,,,,\n"},
        {"other.json", "{\"rows\": []}"},
        {"lines.json", "[{\"mac\": \"00.1A.2B.00.00.01\"}]"},
    };
    for (const auto& c : cases) {
        const std::string path = testing::TempDir() + c.name;
        std::ofstream(path) << c.content;
        std::map<size_t, EarlierRow> earlier;
        const std::optional<Failure> failure = ReadReportFile(path, &earlier);
        ASSERT_TRUE(failure) << c.name;
        EXPECT_EQ(failure->status, kExitUsage) << c.name;
        EXPECT_NE(failure->message.find("cannot continue from the report " + path),
                  std::string::npos)
            << failure->message;
    }
}

}  // namespace
