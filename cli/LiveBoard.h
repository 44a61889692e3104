#pragma once

#include <string>
#include <vector>

#include "cli/Row.h"

class Reporter;

// The live table of a run over time (the station's rows, the watch's
// devices): a table and a summary below it, redrawn in place on a terminal,
// with as many rows as fit. Elsewhere nothing: the events tell the story.
class LiveBoard {
public:
    explicit LiveBoard(Reporter& reporter) : reporter_(reporter) {}

    // Whether a board is shown at all: worth building its rows.
    bool Shown() const;
    // `rows`: table rows, put already. Rows that do not fit are left out,
    // and the summary says how many.
    void Draw(std::vector<FormatRow> rows, std::string summary);

private:
    Reporter& reporter_;
};
