#include "cli/Plan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/Csv.h"

namespace {

// Records as CSV reads them, and the texts it refuses with where.
TEST(Csv, ReadsQuotedFieldsAndBothLineEnds) {
    struct Case {
        const char* text;
        std::vector<std::vector<std::string>> fields;
        std::vector<size_t> lines;
    };
    const Case cases[] = {
        {"a,b\r\nc,d\n", {{"a", "b"}, {"c", "d"}}, {1, 2}},
        {"a,\"b,c\",\"say \"\"hi\"\"\"\n", {{"a", "b,c", "say \"hi\""}}, {1}},
        {"\"two\nlines\",x\ny,\n", {{"two\nlines", "x"}, {"y", ""}}, {1, 3}},
        {"a\n\n\r\nb", {{"a"}, {"b"}}, {1, 4}},
        {"", {}, {}},
    };
    for (const Case& c : cases) {
        std::vector<CsvRecord> records;
        std::string error;
        ASSERT_TRUE(ReadCsv(c.text, &records, &error)) << c.text << ": " << error;
        ASSERT_EQ(records.size(), c.fields.size()) << c.text;
        for (size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].fields, c.fields[i]) << c.text;
            EXPECT_EQ(records[i].line, c.lines[i]) << c.text;
        }
    }
    for (const char* broken : {"a,b\"c\n", "\"a\"b,c\n", "a,\"b\nc\n", "a\0b"}) {
        std::vector<CsvRecord> records;
        std::string error;
        EXPECT_FALSE(
            ReadCsv(std::string_view(broken, std::string(broken).size() + 2), &records, &error))
            << broken;
    }
    EXPECT_EQ(CsvLine({"a", "b,c", "say \"hi\"", ""}), "a,\"b,c\",\"say \"\"hi\"\"\",\n");
}

TEST(Plan, ReadsTheColumnsByTheirHeaderAndIgnoresOthers) {
    std::vector<PlanRow> rows;
    std::vector<std::string> refusals;
    ASSERT_TRUE(
        ReadPlan("Version, ID ,mac,ip,port,baud\n"
                 "1.05,7,00:1a:2b:3c:4d:5e,10.0.0.9,4001,9600\n"
                 "1.05,,00-1A-2B-3C-4D-5F,,,\n",
                 "plan.csv", &rows, &refusals))
        << refusals.front();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].line, 2u);
    EXPECT_EQ(MacText(rows[0].mac), "00.1A.2B.3C.4D.5E");
    EXPECT_EQ(rows[0].id, 7);
    EXPECT_EQ(rows[0].ip, 0x0A000009u);
    EXPECT_EQ(rows[0].port, 4001);
    EXPECT_EQ(rows[0].baudCode, 3);
    EXPECT_FALSE(rows[0].mask);
    EXPECT_FALSE(rows[1].ip || rows[1].port || rows[1].baudCode || rows[1].id);
}

// Every refusal names the file, line and column (in characters), and says
// what is wrong.
TEST(Plan, RefusesWithFileLineAndColumn) {
    struct Case {
        std::string text;
        std::vector<std::string> refusals;
    };
    const std::string header = "mac,ip\n";
    const std::string row = "00.1A.2B.3C.4D.5E,";
    std::string tooMany = header;
    for (unsigned n = 0; n <= kMostPlanRows; ++n) {
        tooMany += "00.1A.2B.3C." + std::string(1, "0123456789ABCDEF"[n >> 12 & 15]) +
                   std::string(1, "0123456789ABCDEF"[n >> 8 & 15]) + "." +
                   std::string(1, "0123456789ABCDEF"[n >> 4 & 15]) +
                   std::string(1, "0123456789ABCDEF"[n & 15]) + ",\n";
    }
    const Case cases[] = {
        {"ip,port\n10.0.0.1,1\n", {"p.csv:1:1: the header names no mac column"}},
        {"mac,mac\n", {"p.csv:1:5: column mac appears twice"}},
        {"", {"p.csv: the plan is empty: no header, no rows"}},
        {"# only a note\n,,\n", {"p.csv: the plan is empty: no header, no rows"}},
        {"mac,ip\r\n\r\n", {"p.csv: the plan has a header but no rows"}},
        {"mac,ip\r" + row + "10.0.0.1\r", {}},  // lone CR line ends: one row
        {tooMany, {"p.csv: the plan has 10001 rows; no segment needs more than 10000"}},
        {header + "\"00.1A.2B.3C.4D.5E\n", {"p.csv: line 2: a quoted field does not end"}},
        // Addresses as four decimal numbers, nothing else.
        {"mac,ip,mask,gateway\n00.1A.2B.3C.4D.5X,10.0.0.256,255.255.255.255,1.2.3.04\n",
         {"p.csv:2:1: mac '00.1A.2B.3C.4D.5X' is not a MAC address (six hexadecimal pairs such "
          "as 00.1A.2B.3C.4D.5E)",
          "p.csv:2:19: ip '10.0.0.256' is not a dotted IPv4 address (four numbers 0-255)",
          "p.csv:2:30: mask '255.255.255.255' is the broadcast address, no device's",
          "p.csv:2:46: gateway '1.2.3.04' is not a dotted IPv4 address (a number starts with 0)"}},
        {"mac,note,ip\n" + row + "\xC3\xA9t\xC3\xA9,10.231.101\n",
         {"p.csv:2:23: ip '10.231.101' is not a dotted IPv4 address (four numbers 0-255)"}},
        {header + row + "167772163\n",
         {"p.csv:2:19: ip '167772163' is not a dotted IPv4 address (four numbers 0-255)"}},
        {header + row + "0x0a.0.0.2\n",
         {"p.csv:2:19: ip '0x0a.0.0.2' is not a dotted IPv4 address (four numbers 0-255)"}},
        {header + row + "10.0.0.1 junk\n",
         {"p.csv:2:19: ip '10.0.0.1 junk' is not a dotted IPv4 address (four numbers 0-255)"}},
        {"mac,port,baud,id\n,70000,9601,-1\n",
         {"p.csv:2:1: the row names no MAC (rows without one need --watch)",
          "p.csv:2:2: port '70000' is not a port number (1 to 65535)",
          "p.csv:2:8: baud '9601' is not a baud rate the devices have (300, 1200, 4800, 9600, "
          "19200, 38400, 57600 or 115200)",
          "p.csv:2:13: id '-1' is not an ID (a number from 0 to 255)"}},
        {"mac,port\n" + row + "0\n", {"p.csv:2:19: port '0' is not a port number (1 to 65535)"}},
        {header + row + "10.0.0.1\n00:1A:2B:3C:4D:5E,10.0.0.2\n00.1A.2B.3C.4D.60,10.0.0.1\n",
         {"p.csv:3:1: MAC 00.1A.2B.3C.4D.5E is planned on line 2 already",
          "p.csv:4:19: IP 10.0.0.1 is the target of line 2 already"}},
    };
    for (const Case& c : cases) {
        std::vector<PlanRow> rows;
        std::vector<std::string> refusals;
        EXPECT_EQ(ReadPlan(c.text, "p.csv", &rows, &refusals), c.refusals.empty())
            << c.text.substr(0, 80);
        EXPECT_EQ(refusals, c.refusals) << c.text.substr(0, 80);
    }
}

// What spreadsheets leave in a plan: a byte-order mark, CRLF, blank and
// all-empty rows, comments.
TEST(Plan, TakesPlansAsSpreadsheetsWriteThem) {
    std::vector<PlanRow> rows;
    std::vector<std::string> refusals;
    ASSERT_TRUE(
        ReadPlan("\xEF\xBB\xBF# commissioning of line 3\r\nmac,ip\r\n,\r\n\r\n"
                 "00.1A.2B.3C.4D.5E,10.0.0.9\r\n#00.1A.2B.3C.4D.5F,10.0.0.8\r\n",
                 "plan.csv", &rows, &refusals))
        << refusals.front();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].line, 5u);
    EXPECT_EQ(rows[0].ip, 0x0A000009u);
}

}  // namespace
