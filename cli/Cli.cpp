#include "cli/Cli.h"

#include <unistd.h>

#include <algorithm>
#include <iostream>

const char kExitCodesHelp[] =
    "Exit status:\n"
    "  0  everything asked for was done (and verified, where asked)\n"
    "  1  a device did not do what was asked (no confirmation, a failed transaction,\n"
    "     other values than asked after a setup)\n"
    "  2  the command line, a value or a plan was refused\n"
    "  3  no device answered, or not the one named\n"
    "  4  this machine could not do it (port 3195 in use, no such interface, a\n"
    "     serial port or HID device that cannot be opened, a socket error)\n";

void Fail(int code, const std::string& message) {
    throw CommandFailure(code, message);
}

void Warn(const std::string& message) {
    std::cerr << "velquint: warning: " << message << '\n';
}

void Say(const std::string& message) {
    std::cerr << "velquint: " << message << '\n';
}

void PrintTable(std::ostream& out, const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths(header.size(), 0);
    const auto measure = [&widths](const std::vector<std::string>& cells) {
        for (size_t i = 0; i < cells.size() && i < widths.size(); ++i) {
            widths[i] = std::max(widths[i], cells[i].size());
        }
    };
    measure(header);
    for (const auto& row : rows) {
        measure(row);
    }
    const auto print = [&](const std::vector<std::string>& cells) {
        std::string line;
        for (size_t i = 0; i < cells.size(); ++i) {
            line += cells[i];
            if (i + 1 < cells.size()) {
                line += std::string(widths[i] - cells[i].size() + 2, ' ');
            }
        }
        // An empty last cell leaves the padding of the one before it.
        line.erase(line.find_last_not_of(' ') + 1);
        out << line << '\n';
    };
    print(header);
    for (const auto& row : rows) {
        print(row);
    }
}

bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}
