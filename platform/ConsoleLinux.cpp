#include "platform/Console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr char kDumbTerminal[] = "dumb";

}  // namespace

void PrepareStandardStreams() {}

StderrTerminal InspectStderr() {
    StderrTerminal terminal;
    const char* term = std::getenv("TERM");
    const bool dumb = term == nullptr || std::strcmp(term, kDumbTerminal) == 0;
    terminal.redraws = isatty(STDERR_FILENO) == 1 && !dumb;
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        terminal.columns = size.ws_col;
        terminal.lines = size.ws_row;
    }
    return terminal;
}
