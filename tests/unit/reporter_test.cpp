#include "cli/Reporter.h"
#include "cli/ReportEvent.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

const ReportEvent kStep{"setup-confirmed",
                        "00.1A.2B.3C.4D.5E",
                        "[0/2] 00.1A.2B.3C.4D.5E setup confirmed",
                        {{"datagrams", 2}}};
const ReportEvent kMinor{"waiting", "", "[0/2] waiting for 2 devices to come back, 3 s", {}, true};

// The same calls to each kind of reporter, and what each writes.
TEST(Reporter, EachKindWritesTheSameWorkItsOwnWay) {
    struct Case {
        ReporterKind kind;
        std::string written;
    };
    // Cut to 29 of 30 columns, and drawn again below a message.
    const std::string status = "\r\033[K[0/2] 00.1A.2B.3C.4D.5E setup";
    const std::string waiting = "[0/2] waiting for 2 devices t";
    const Case cases[] = {
        {ReporterKind::Lines,
         "velquint: [0/2] 00.1A.2B.3C.4D.5E setup confirmed\n"
         "velquint: warning: MAC ends in FF.FF.FF\n"},
        {ReporterKind::Terminal, status + "\r\033[K" + waiting +
                                     "\r\033[Kvelquint: warning: MAC ends in FF.FF.FF\n" + waiting +
                                     "\r\033[K"},
    };
    for (const Case& c : cases) {
        std::ostringstream out;
        const std::unique_ptr<Reporter> reporter = MakeReporter(c.kind, out, 30);
        reporter->Event(kStep);
        reporter->Event(kMinor);
        reporter->Warn("MAC ends in FF.FF.FF");
        reporter->Finish();
        EXPECT_EQ(out.str(), c.written) << static_cast<int>(c.kind);
    }
}

TEST(Reporter, JsonLinesAreOneObjectAnEventWithATimestamp) {
    std::ostringstream out;
    const std::unique_ptr<Reporter> reporter = MakeReporter(ReporterKind::JsonLines, out);
    reporter->Event(kStep);
    reporter->Event(kMinor);
    std::istringstream lines(out.str());
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    const nlohmann::json step = nlohmann::json::parse(line);
    EXPECT_EQ(step["event"], "setup-confirmed");
    EXPECT_EQ(step["mac"], "00.1A.2B.3C.4D.5E");
    EXPECT_EQ(step["datagrams"], 2);
    EXPECT_EQ(step["time"].get<std::string>().size(),
              std::string("2026-12-08T21:41:42.123Z").size());
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(nlohmann::json::parse(line)["event"], "waiting");  // a program hears every second
}

}  // namespace

namespace {

// A board of several lines is redrawn in place: every line it had is cleared
// first, and events no longer replace it.
TEST(Reporter, TerminalRedrawsABoardInPlace) {
    std::ostringstream out;
    const std::unique_ptr<Reporter> reporter = MakeReporter(ReporterKind::Terminal, out, 30, 5);
    EXPECT_EQ(reporter->BoardRoom(), 4u);
    reporter->Board({"LINE  STATE", "2     waiting"});
    reporter->Event(kStep);
    reporter->Board({"LINE  STATE", "2     verified"});
    EXPECT_EQ(out.str(),
              "\r\033[KLINE  STATE\n2     waiting"
              "\r\033[K\033[A\r\033[KLINE  STATE\n2     verified");
}

// A line is cut to one column less than the terminal, by characters: a
// character of several bytes is a column, and never cut in two.
TEST(Reporter, TerminalCutsLinesByCharacters) {
    std::ostringstream out;
    const std::unique_ptr<Reporter> reporter = MakeReporter(ReporterKind::Terminal, out, 20, 5);
    std::string accents;  // 25 characters, 50 bytes
    for (int i = 0; i < 25; ++i) {
        accents += "\u00e9";
    }
    reporter->Board({accents, "0123456789012345678"});
    EXPECT_EQ(out.str(), "\r\033[K" + accents.substr(0, 38) + "\n0123456789012345678");
}

}  // namespace
