#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

// How work that takes a while tells the person or program at the other end
// what it does. The work calls a Reporter; which one depends on where the
// output goes:
//   - a terminal (stderr is one, and TERM is not "dumb"): one status line,
//     redrawn in place and cut to the terminal's width; messages and events
//     each on a line of their own above it;
//   - anything else (a pipe, a file, a dumb terminal): one line per event,
//     "velquint: ...";
//   - JSON Lines, for programs: one JSON object per line, with a timestamp.

struct ReportEvent;  // ReportEvent.h

class Reporter {
public:
    virtual ~Reporter() = default;

    // A step of an item, or what the work waits for now: the status line on
    // a terminal, redrawn in place; elsewhere a line of its own.
    virtual void Event(const ReportEvent& event) = 0;
    // A live view of several lines (a table and its summary): redrawn in
    // place on a terminal, where it takes the status line's place and events
    // no longer show; nothing elsewhere, where the events tell the story.
    virtual void Board(const std::vector<std::string>& /*lines*/) {}
    // How many lines a board may have (0: none is shown).
    virtual size_t BoardRoom() const { return 0; }
    // "velquint: warning: ..." and "velquint: ...": always lines of their own.
    virtual void Warn(const std::string& message) = 0;
    virtual void Info(const std::string& message) = 0;
    // The work is over: a status line still shown goes.
    virtual void Finish() = 0;
};

enum class ReporterKind { Terminal, Lines, JsonLines };

// A reporter of `kind` writing to `out` (a terminal of `width` columns and
// `height` lines).
std::unique_ptr<Reporter> MakeReporter(ReporterKind kind, std::ostream& out, size_t width = 80,
                                       size_t height = 24);

// The one reporter of a command, chosen by the program from the format, the
// terminal and whether the command streams: with --json, one that streams
// (apply --watch, watch) writes JSON Lines to stdout; any other writes for
// people to stderr (Terminal or Lines).
std::unique_ptr<Reporter> ChooseReporter(bool jsonLines);
