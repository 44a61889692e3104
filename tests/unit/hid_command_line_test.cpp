// The command line's HID transport over the report-level seam.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeHid.h"
#include "cli/Velquint.h"
#include "tests/support/TestFrames.h"

namespace {

using fakehid::FakeHidBackend;
using fakehid::InputReport;
using fakehid::ReportOf;
using test_frames::SetIdReply;

}  // namespace

// The command line's --hid reaches the device through the same seam.
TEST(HidCommandLine, SetIdGoesOutAsOneReport) {
    FakeHidBackend backend;
    backend.entries.push_back({0x1234, 0xABCD, true});
    backend.entries[0].state->reads.push_back(InputReport(SetIdReply({0x05})));
    std::vector<std::string> words = {"velquint", "set-id", "5", "--hid", "1234:abcd"};
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    EXPECT_EQ(RunVelquint(static_cast<int>(argv.size()), argv.data()), 0);
    ASSERT_EQ(backend.entries[0].state->written.size(), 1u);
    EXPECT_EQ(backend.entries[0].state->written[0],
              ReportOf({0x01, 0x0E, 0x19, 0x01, 0x01, 0x00, 0x00, 0x00, 0x02, 0xFD, 0x02, 0x5A,
                        0x05, 0x35, 0x06, 0x03}));
    EXPECT_TRUE(backend.entries[0].state->released);
}
