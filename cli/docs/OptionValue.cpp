#include "cli/docs/OptionValue.h"

#include <CLI/CLI.hpp>

OptionValue ValueOf(const CLI::Option& option) {
    OptionValue value;
    // A flag expects no value.
    if (option.get_expected_max() == 0) {
        return value;
    }
    const std::string type = option.get_type_name();
    const size_t open = type.find(":{");
    const size_t close = type.find('}', open);
    if (open != std::string::npos && close != std::string::npos) {
        value.kind = OptionValue::kChoice;
        std::string word;
        for (size_t i = open + 2; i <= close; ++i) {
            if (type[i] == ',' || type[i] == '}') {
                value.choices.push_back(word);
                word.clear();
            } else {
                word += type[i];
            }
        }
        return value;
    }
    value.kind = type == "FILE" || type == "DEVICE" ? OptionValue::kFile : OptionValue::kValue;
    return value;
}

std::vector<std::string> OptionNames(const CLI::Option& option) {
    std::vector<std::string> names;
    for (const std::string& name : option.get_snames()) {
        names.push_back("-" + name);
    }
    for (const std::string& name : option.get_lnames()) {
        names.push_back("--" + name);
    }
    return names;
}
