#pragma once

#include <map>
#include <memory>

#include "cli/Commands.h"

// velquint: the command-line front end. Finds devices, gives them new
// settings and IDs one at a time or from a plan file, and runs single
// transactions for diagnostics, over the same core as the window.

// What runs a command once the line is parsed, and the format it was asked for.
struct CommandEntry {
    CommandRun run;
    std::shared_ptr<FormatChoice> format;
};
using VelquintCommandLine = std::map<const CLI::App*, CommandEntry>;

// Puts the whole command line into `app`: the program's name, description,
// version flag and footer, and every command with its options. --help, the
// manual page and the shell completion are all drawn from it. What it
// returns holds the commands, and so the values the options are parsed
// into: keep it while `app` parses.
[[nodiscard]] VelquintCommandLine AddVelquintCommandLine(CLI::App& app);

// Runs one command line (argv[0] is the program) and returns its exit status.
int RunVelquint(int argc, char** argv);
