#pragma once

#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

// What every command of the command line shares: its exit codes, how it
// fails, and how it prints.

// Exit codes, listed in `velquint --help` and the manual.
enum ExitCode : int {
    kExitOk = 0,            // everything asked for was done (and verified, where asked)
    kExitDeviceFailed = 1,  // a device did not do what was asked
    kExitUsage = 2,         // the command line, a value or a plan was refused
    kExitNotFound = 3,      // no device answered, or not the one named
    kExitLocal = 4,         // this machine could not do it: port, interface, serial, HID
};

// Options and messages speak in seconds, the core in milliseconds.
constexpr int kMillisecondsPerSecond = 1000;

// The text that --help shows under the commands.
extern const char kExitCodesHelp[];

// Ends the command with `code` and one line on stderr that says what failed
// and why.
class CommandFailure : public std::runtime_error {
public:
    CommandFailure(int code, const std::string& message)
        : std::runtime_error(message), code_(code) {}
    int code() const { return code_; }

private:
    int code_;
};

[[noreturn]] void Fail(int code, const std::string& message);

// A line on stderr that does not end the command: "velquint: warning: ...".
void Warn(const std::string& message);
// A line on stderr: "velquint: ...".
void Say(const std::string& message);

// Rows under a header, each column as wide as its widest cell, two blanks
// apart; the last column is not padded.
void PrintTable(std::ostream& out, const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows);

// Whether stderr is a terminal: progress redraws one line there, and writes
// one line per step elsewhere.
bool StderrIsTerminal();
