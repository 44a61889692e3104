#include "cli/docs/BashCompletion.h"

#include <CLI/CLI.hpp>

#include <ostream>

#include "cli/docs/OptionValue.h"

namespace {

std::string Joined(const std::vector<std::string>& words, const char* separator) {
    std::string joined;
    for (const std::string& word : words) {
        joined += (joined.empty() ? "" : separator) + word;
    }
    return joined;
}

std::vector<std::string> AllNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::Option* option : app.get_options()) {
        for (const std::string& name : OptionNames(*option)) {
            names.push_back(name);
        }
    }
    return names;
}

// The case branches on the word before the cursor: what each option that
// takes a value completes to.
void WriteValueCases(const CLI::App& app, const char* indent, std::ostream& out) {
    bool any = false;
    for (const CLI::Option* option : app.get_options()) {
        const OptionValue value = ValueOf(*option);
        if (option->get_positional() || value.kind == OptionValue::kNone) {
            continue;
        }
        if (!any) {
            out << indent << "case \"$prev\" in\n";
            any = true;
        }
        out << indent << "    " << Joined(OptionNames(*option), " | ") << ")\n";
        switch (value.kind) {
            case OptionValue::kChoice:
                out << indent << "        _velquint_words \"" << Joined(value.choices, " ")
                    << "\"\n";
                break;
            case OptionValue::kFile:
                out << indent << "        _velquint_files\n";
                break;
            default:
                // A number, an address: nothing to offer.
                break;
        }
        out << indent << "        return\n" << indent << "        ;;\n";
    }
    if (any) {
        out << indent << "esac\n";
    }
}

bool TakesTextArgument(const CLI::App& app) {
    for (const CLI::Option* option : app.get_options()) {
        if (option->get_positional() && ValueOf(*option).kind == OptionValue::kFile) {
            return true;
        }
    }
    return false;
}

}  // namespace

void WriteBashCompletion(const CLI::App& app, std::ostream& out) {
    const std::string program = app.get_name();
    std::vector<std::string> commands;
    for (const CLI::App* command : app.get_subcommands({})) {
        commands.push_back(command->get_name());
    }

    out << "# bash completion for " << program
        << "\n"
           "# Generated from the program's own command line when it is built; do not edit.\n"
           "\n"
           "_velquint_words() {\n"
           "    mapfile -t COMPREPLY < <(compgen -W \"$1\" -- \"$cur\")\n"
           "}\n"
           "\n"
           "_velquint_files() {\n"
           "    compopt -o filenames 2>/dev/null\n"
           "    mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
           "}\n"
           "\n"
           "_velquint() {\n"
           "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
           "    local command=\"\" i\n"
           "    COMPREPLY=()\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        case \"${COMP_WORDS[i]}\" in\n"
           "            "
        << Joined(commands, " | ")
        << ")\n"
           "                command=${COMP_WORDS[i]}\n"
           "                break\n"
           "                ;;\n"
           "        esac\n"
           "    done\n"
           "\n"
           "    case \"$command\" in\n"
           "        \"\")\n";
    WriteValueCases(app, "            ", out);
    out << "            _velquint_words \"" << Joined(AllNames(app), " ") << " "
        << Joined(commands, " ") << "\"\n"
        << "            ;;\n";
    for (const CLI::App* command : app.get_subcommands({})) {
        out << "        " << command->get_name() << ")\n";
        WriteValueCases(*command, "            ", out);
        if (TakesTextArgument(*command)) {
            out << "            if [[ $cur != -* ]]; then\n"
                << "                _velquint_files\n"
                << "                return\n"
                << "            fi\n";
        }
        out << "            _velquint_words \"" << Joined(AllNames(*command), " ") << "\"\n"
            << "            ;;\n";
    }
    out << "    esac\n"
           "}\n"
           "\n"
           "complete -F _velquint "
        << program << '\n';
}
