#include "cli/docs/ManPage.h"

#include <CLI/CLI.hpp>

#include <istream>
#include <ostream>
#include <sstream>

#include "cli/Cli.h"
#include "cli/docs/OptionValue.h"

namespace {

constexpr char kMarker[] = ".\\\" velquint-docs: ";

std::string Bold(const std::string& text) {
    return "\\fB" + RoffText(text) + "\\fR";
}

std::string Italic(const std::string& text) {
    return "\\fI" + RoffText(text) + "\\fR";
}

// A description as --help prints it, as one sentence at least.
std::string Sentence(std::string text) {
    if (!text.empty() && text.back() != '.') {
        text += '.';
    }
    return RoffText(text);
}

// What --help prints behind an option's names: its type, default and whether
// it is required, then what it needs and excludes (CLI::Formatter's order).
std::string OptionTerm(const CLI::Option& option) {
    std::string term;
    if (option.get_positional()) {
        term = Italic(option.get_name(true, false));
    } else {
        for (const std::string& name : OptionNames(option)) {
            term += (term.empty() ? "" : ", ") + Bold(name);
        }
    }
    if (option.get_type_size() != 0) {
        std::string value = option.get_type_name();
        if (!option.get_default_str().empty()) {
            value += "=" + option.get_default_str();
        }
        if (option.get_required()) {
            value += " REQUIRED";
        }
        if (!value.empty()) {
            term += " " + Italic(value);
        }
    }
    const auto relation = [&term](const char* label, const std::set<CLI::Option*>& others) {
        if (others.empty()) {
            return;
        }
        term += std::string(" ") + label + ":";
        for (const CLI::Option* other : others) {
            term += " " + Bold(other->get_name());
        }
    };
    relation("Needs", option.get_needs());
    relation("Excludes", option.get_excludes());
    return term;
}

void WriteOptions(const CLI::App& app, bool positional, std::ostream& out) {
    for (const CLI::Option* option : app.get_options()) {
        if (option->get_positional() != positional) {
            continue;
        }
        out << ".TP\n"
            << OptionTerm(*option) << '\n'
            << Sentence(option->get_description()) << '\n';
    }
}

void WriteCommands(const CLI::App& app, std::ostream& out) {
    CLI::Formatter formatter;
    for (const CLI::App* command : app.get_subcommands({})) {
        const std::string name = app.get_name() + " " + command->get_name();
        std::string usage = formatter.make_usage(command, name);
        usage = usage.substr(usage.find(name) + name.size());
        while (!usage.empty() && usage.back() == '\n') {
            usage.pop_back();
        }
        out << ".SS " << RoffText(command->get_name()) << '\n'
            << Bold(name) << RoffText(usage) << '\n'
            << ".PP\n"
            << Sentence(command->get_description()) << '\n';
        WriteOptions(*command, true, out);
        WriteOptions(*command, false, out);
        // A command without a closing text of its own shows the program's in
        // --help; here that stands once, under EXIT STATUS and DESCRIPTION.
        if (!command->get_footer().empty() && command->get_footer() != app.get_footer()) {
            out << ".PP\n" << RoffText(command->get_footer()) << '\n';
        }
    }
}

// The exit codes from the text --help shows: a heading, then "  N  meaning"
// with its continuation lines indented further.
void WriteExitStatus(std::ostream& out) {
    constexpr size_t kCodeIndent = 2;
    std::istringstream lines(kExitCodesHelp);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos || start == 0) {
            continue;
        }
        if (start == kCodeIndent) {
            const size_t gap = line.find(' ', start);
            out << ".TP\n"
                << Bold(line.substr(start, gap - start)) << '\n'
                << RoffText(line.substr(line.find_first_not_of(' ', gap))) << '\n';
        } else {
            out << RoffText(line.substr(start)) << '\n';
        }
    }
}

}  // namespace

std::string RoffText(const std::string& text) {
    std::string roff;
    bool lineStart = true;
    for (const char c : text) {
        if (lineStart && (c == '.' || c == '\'')) {
            roff += "\\&";
        }
        if (c == '\\') {
            roff += "\\e";
        } else if (c == '-') {
            roff += "\\-";
        } else {
            roff += c;
        }
        lineStart = c == '\n';
    }
    return roff;
}

bool WriteManPage(const CLI::App& app, std::istream& pageTemplate, std::ostream& out,
                  std::string* error) {
    std::string line;
    while (std::getline(pageTemplate, line)) {
        if (line.rfind(kMarker, 0) != 0) {
            out << line << '\n';
            continue;
        }
        const std::string part = line.substr(sizeof kMarker - 1);
        if (part == "description") {
            out << Sentence(app.get_description()) << '\n';
        } else if (part == "options") {
            WriteOptions(app, false, out);
        } else if (part == "commands") {
            WriteCommands(app, out);
        } else if (part == "exit-status") {
            WriteExitStatus(out);
        } else {
            *error = "unknown part '" + part + "' in the template";
            return false;
        }
    }
    return true;
}
