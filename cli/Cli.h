#pragma once

#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Tick.h"

// What every command of the command line shares: its exit statuses, how a
// failure travels, and the table that people read.

// Exit statuses, the same for every command, listed in `velquint --help`,
// every command's --help and the manual.
enum ExitCode : int {
    kExitOk = 0,             // everything asked for was done (and verified, where asked)
    kExitDeviceFailed = 1,   // a device did not do what was asked
    kExitUsage = 2,          // the command line, a value or a plan was refused
    kExitNotFound = 3,       // no device answered, or not the one named
    kExitLocal = 4,          // this machine could not do it: port, interface, serial, HID, output,
                             // or (doctor) something stands in the way of a search
    kExitInterrupted = 130,  // stopped by Ctrl-C (SIGINT), as shells count it
    kExitTerminated = 143,   // stopped by SIGTERM
};

// The status as a word for programs: "ok", "device-failed", "refused",
// "not-found", "local-failure", "interrupted".
const char* StatusToken(int status);

// The exit-status table that --help shows under every command.
extern const char kExitCodesHelp[];

// Options and messages speak in seconds, the core in milliseconds
// (kMillisecondsPerSecond).

// A failure as a value: the status it ends a command with, and one line that
// says what failed and why. Helpers return it; only commands end with it.
struct Failure {
    int status = kExitOk;
    std::string message;
    // Lines that say where, when there are several (each refusal of a plan).
    std::vector<std::string> details;
};

// Ends a command with a failure; the program turns it into one "velquint:"
// line on stderr (and a JSON object when JSON was asked) and its status.
class CommandFailure : public std::runtime_error {
public:
    explicit CommandFailure(Failure failure)
        : std::runtime_error(failure.message), failure_(std::move(failure)) {}
    const Failure& failure() const { return failure_; }
    int code() const { return failure_.status; }

private:
    Failure failure_;
};

[[noreturn]] void Fail(int code, const std::string& message);
[[noreturn]] void Fail(Failure failure);

// Ends the command with `failure`, when there is one.
template <typename MaybeFailure>
void FailOn(const MaybeFailure& failure) {
    if (failure) {
        Fail(*failure);
    }
}

// Rows under a header, each column as wide as its widest cell, two blanks
// apart; the last column is not padded. Cells beyond the header's count are
// written as they are.
void PrintTable(std::ostream& out, const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows);
