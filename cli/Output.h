#pragma once

#include <nlohmann/json_fwd.hpp>

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "cli/Cli.h"

namespace CLI {
class App;
}
class Reporter;

// What a command shows, and how: a command's Run returns its result and
// prints nothing; the program writes the result in the format asked. Data go
// to stdout, messages to stderr.

enum class Format { Table, Json, Csv };

// One kind of result, rendered in each format the command offers.
class Shown {
public:
    virtual ~Shown() = default;
    // For people.
    virtual void Table(std::ostream& out) const = 0;
    // For programs: the shapes the manual page calls stable.
    virtual nlohmann::ordered_json Json() const = 0;
    // Only where the command offers --csv.
    virtual void Csv(std::ostream&) const {}
};

struct CommandResult {
    int status = kExitOk;
    std::shared_ptr<const Shown> shown;  // null: nothing for stdout
    std::string closing;                 // a last line for people ("setup of ... confirmed")
    bool closingIsWarning = false;       // said on stderr, not stdout
};

// The format options of a command: --json always, --csv where it has CSV
// (registered in Options.cpp).
class FormatChoice {
public:
    void AddTo(CLI::App& command, bool csv);
    Format Chosen() const;

private:
    bool json_ = false;
    bool csv_ = false;
};

// Writes `result` in `format`: the shown part to stdout; the closing line to
// stdout after a table, through `reporter` otherwise. False (errno set) when
// stdout could not take it all.
bool WriteResult(const CommandResult& result, Format format, Reporter& reporter);

// Writes a failure: its details and "velquint: <message>" through
// `reporter`, and with JSON an object {"status", "message", "details"} on
// stdout.
bool WriteFailure(const Failure& failure, Format format, Reporter& reporter);

// Flushes stdout and says whether everything written to it arrived.
bool StdoutWritten();

// Writes `content` to `path` as a whole: into a temporary file beside it,
// flushed, synced and closed, then renamed over it, so that a reader never
// sees half of it and a failure leaves the old file as it was. The failure,
// if any, says why (status kExitLocal).
std::optional<Failure> WriteFileAtomically(const std::string& path, const std::string& content);
