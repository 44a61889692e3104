#pragma once

#include <string>
#include <vector>

namespace CLI {
class Option;
}

// What an option or argument takes, read from its placeholder and choices
// (the "KEY:{mac,ip}" or "FILE" that --help shows).
struct OptionValue {
    // A flag takes nothing; a choice one of its words; a file (FILE, DEVICE)
    // a path; any other value something that only the user knows.
    enum Kind { kNone, kChoice, kFile, kValue };
    Kind kind = kNone;
    // The words of a choice, in the order --help lists them.
    std::vector<std::string> choices;
};

OptionValue ValueOf(const CLI::Option& option);

// The option's names as --help lists them: short ones first ("-s", "--sort").
std::vector<std::string> OptionNames(const CLI::Option& option);
