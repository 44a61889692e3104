#pragma once

#include <iosfwd>

namespace CLI {
class App;
}

// A bash completion script for the program, drawn from the CLI11 command line
// that prints --help: its commands, each command's options, the words of an
// option that takes one of a list, and file names where an option or
// argument takes text. It needs nothing but bash itself.
void WriteBashCompletion(const CLI::App& app, std::ostream& out);
