#include "cli/Cli.h"

#include <algorithm>
#include <iostream>

const char kExitCodesHelp[] =
    "Exit status:\n"
    "  0    everything asked for was done (and verified, where asked)\n"
    "  1    a device did not do what was asked (no confirmation, a failed\n"
    "       transaction, other values than asked, a plan row not verified)\n"
    "  2    the command line, a value or a plan was refused; nothing was sent\n"
    "       but, for a plan checked against the devices, the search\n"
    "  3    no device answered, or not the one named (an empty search too, and\n"
    "       a probe of doctor that nothing answered)\n"
    "  4    this machine could not do it (port 3195 in use, no such interface,\n"
    "       nothing sent, a serial port or HID device that cannot be opened, a\n"
    "       file or the output that cannot be written; for doctor, something\n"
    "       on this machine that stands in the way of a search)\n"
    "  130  stopped by Ctrl-C (143: by SIGTERM); what was done until then is\n"
    "       reported\n";

const char* StatusToken(int status) {
    switch (status) {
        case kExitOk:
            return "ok";
        case kExitDeviceFailed:
            return "device-failed";
        case kExitUsage:
            return "refused";
        case kExitNotFound:
            return "not-found";
        case kExitInterrupted:
        case kExitTerminated:
            return "interrupted";
        default:
            return "local-failure";
    }
}

void Fail(int code, const std::string& message) {
    throw CommandFailure(Failure{code, message, {}});
}

void Fail(Failure failure) {
    throw CommandFailure(std::move(failure));
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
            if (i + 1 < cells.size() && i < widths.size()) {
                line += std::string(widths[i] - cells[i].size() + 2, ' ');
            } else if (i + 1 < cells.size()) {
                line += "  ";
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
