#include "cli/docs/ManPage.h"

#include <CLI/CLI.hpp>

#include <istream>
#include <ostream>
#include <sstream>

#include "cli/Cli.h"
#include "cli/Events.h"
#include "cli/Outcome.h"
#include "cli/docs/OptionValue.h"

namespace {

constexpr char kMarker[] = ".\\\" velquint-docs: ";

std::string Bold(const std::string& text) {
    return "\\fB" + RoffText(text) + "\\fR";
}

std::string Italic(const std::string& text) {
    return "\\fI" + RoffText(text) + "\\fR";
}

// Text of several paragraphs (blank lines between them) as roff paragraphs.
std::string Paragraphs(const std::string& text) {
    std::string roff = RoffText(text);
    for (size_t at = roff.find("\n\n"); at != std::string::npos; at = roff.find("\n\n", at)) {
        roff.replace(at, 2, "\n.PP\n");
    }
    return roff;
}

// A description as --help prints it, as one sentence at least.
std::string Sentence(std::string text) {
    if (!text.empty() && text.back() != '.') {
        text += '.';
    }
    return RoffText(text);
}

// The value an option takes as its placeholder ("KEY"), without the choices
// that CLI11 adds to it.
std::string Placeholder(const CLI::Option& option) {
    const std::string type = option.get_type_name();
    return type.substr(0, type.find(":{"));
}

// An option's term as manual pages write it: "-s, --sort=KEY", or the
// argument's name.
std::string OptionTerm(const CLI::Option& option) {
    if (option.get_positional()) {
        return Italic(option.get_name(true, false));
    }
    std::string term;
    for (const std::string& name : OptionNames(option)) {
        term += (term.empty() ? "" : ", ") + Bold(name);
    }
    if (ValueOf(option).kind != OptionValue::kNone) {
        term += "=" + Italic(Placeholder(option));
    }
    return term;
}

// What --help says behind the placeholder, in words: the choices, the
// default, whether it is required, what it needs and excludes.
std::string OptionFacts(const CLI::Option& option) {
    std::string facts;
    const OptionValue value = ValueOf(option);
    if (value.kind == OptionValue::kChoice) {
        std::string choices;
        for (const std::string& choice : value.choices) {
            choices += (choices.empty() ? "" : ", ") + Bold(choice);
        }
        facts += " " + RoffText(Placeholder(option)) + " is one of " + choices + ".";
    }
    if (!option.get_default_str().empty() && value.kind != OptionValue::kNone) {
        facts += " Default: " + RoffText(option.get_default_str()) + ".";
    }
    if (option.get_required()) {
        facts += " Required.";
    }
    const auto relation = [&facts](const char* label, const std::set<CLI::Option*>& others) {
        if (others.empty()) {
            return;
        }
        std::string names;
        for (const CLI::Option* other : others) {
            names += (names.empty() ? "" : ", ") + Bold(other->get_name());
        }
        facts += std::string(" ") + label + " " + names + ".";
    };
    relation("Needs", option.get_needs());
    relation("Excludes", option.get_excludes());
    return facts;
}

void WriteOptions(const CLI::App& app, bool positional, std::ostream& out) {
    for (const CLI::Option* option : app.get_options()) {
        if (option->get_positional() != positional) {
            continue;
        }
        out << ".TP\n"
            << OptionTerm(*option) << '\n'
            << Sentence(option->get_description()) << OptionFacts(*option) << '\n';
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
        // --help shows the exit statuses under every command; here they
        // stand once, under EXIT STATUS.
        std::string footer = command->get_footer();
        const std::string statuses = std::string("\n\n") + kExitCodesHelp;
        if (footer.size() >= statuses.size() &&
            footer.compare(footer.size() - statuses.size(), statuses.size(), statuses) == 0) {
            footer.erase(footer.size() - statuses.size());
        }
        if (!footer.empty() && footer != app.get_footer()) {
            out << ".PP\n" << Paragraphs(footer) << '\n';
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

// Each outcome of a report row: its token, then what it means.
void WriteOutcomes(std::ostream& out) {
    for (const OutcomeEntry& outcome : kOutcomes) {
        out << ".TP\n"
            << Bold(outcome.token) << '\n'
            << RoffText(outcome.meaning) << " (text: " << RoffText(outcome.text) << ").\n";
    }
}

// Each event of a run over time: its name, its own fields, what it tells.
void WriteEvents(std::ostream& out) {
    for (const EventKind& kind : kEventKinds) {
        const std::string name = kind.name;
        out << ".TP\n"
            << (name == "OUTCOME" ? Italic("outcome") : Bold(name))
            << (*kind.fields == '\0' ? "" : " " + RoffText(std::string("{") + kind.fields + "}"))
            << '\n'
            << RoffText(kind.meaning) << ".\n";
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
        } else if (part == "outcomes") {
            WriteOutcomes(out);
        } else if (part == "events") {
            WriteEvents(out);
        } else {
            *error = "unknown part '" + part + "' in the template";
            return false;
        }
    }
    return true;
}
