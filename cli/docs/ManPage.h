#pragma once

#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

// Copies a manual page template to `out`, putting the program's command line
// in place of the template's marker lines, so that the page cannot drift from
// --help:
//   .\" velquint-docs: description  the program's description
//   .\" velquint-docs: options      the options of the program itself
//   .\" velquint-docs: commands     every command: its usage line, description,
//                                    arguments, options and closing text
//   .\" velquint-docs: exit-status  the exit codes that --help lists
// Returns false, with `error` set, on a marker that names none of these.
bool WriteManPage(const CLI::App& app, std::istream& pageTemplate, std::ostream& out,
                  std::string* error);

// Text as roff source: backslashes and hyphens escaped, and a line that would
// start with a control character guarded.
std::string RoffText(const std::string& text);
