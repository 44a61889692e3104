#pragma once

#include <string>
#include <vector>

namespace CLI {
class Option;
}

// What an option or argument takes, read from its CLI11 type text (the
// "TEXT:{mac,ip}" or "UINT:UINT in [0 - 255]" that --help shows).
struct OptionValue {
    enum Kind { kNone, kChoice, kNumber, kText };
    Kind kind = kNone;
    // The words of a choice, in the order --help lists them.
    std::vector<std::string> choices;
};

OptionValue ValueOf(const CLI::Option& option);

// The option's names as --help lists them: short ones first ("-s", "--sort").
std::vector<std::string> OptionNames(const CLI::Option& option);
