#pragma once

#include <map>
#include <string>

#include "cli/Commands.h"

// velquint: the command-line front end. Finds devices, gives them new
// settings and IDs one at a time or from a plan file, and runs single
// transactions for diagnostics, over the same core as the window.

// Puts the whole command line into `app`: the program's name, description,
// version flag and footer, and every command with its options. --help, the
// manual page and the shell completion are all drawn from it. Returns what
// runs each command, by its name.
std::map<std::string, CommandRun> AddVelquintCommandLine(CLI::App& app);

// Runs one command line (argv[0] is the program) and returns its exit status.
int RunVelquint(int argc, char** argv);
