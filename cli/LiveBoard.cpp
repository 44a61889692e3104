#include "cli/LiveBoard.h"

#include <cstddef>

#include "cli/Reporter.h"

namespace {

// The table's heading and the summary.
constexpr size_t kBoardFrameLines = 2;

}  // namespace

bool LiveBoard::Shown() const {
    return reporter_.BoardRoom() >= kBoardFrameLines;
}

void LiveBoard::Draw(std::vector<FormatRow> rows, std::string summary) {
    if (!Shown()) {
        return;
    }
    const size_t room = reporter_.BoardRoom() - kBoardFrameLines;
    if (rows.size() > room) {
        summary += "; " + std::to_string(rows.size() - room) + " rows more than fit";
        rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(room), rows.end());
    }
    std::vector<std::string> lines = TableLines(rows);
    lines.push_back(summary);
    reporter_.Board(lines);
}
