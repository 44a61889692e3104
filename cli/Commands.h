#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/Output.h"

namespace CLI {
class App;
}

// The commands of velquint. Each adds its arguments and options to its own
// part of the command line and returns what runs it once the line is
// parsed: a Run that returns the command's result and prints nothing (the
// program writes it in the format asked, which a command that reports as it
// goes learns too), or ends with a CommandFailure.
using CommandRun = std::function<CommandResult(Format format)>;

struct CommandSpec {
    const char* name;
    const char* summary;
    // The command's own closing text for --help and the manual page; the
    // exit-status table follows it in --help.
    std::string (*footer)();
    bool csv;  // offers --csv besides --json
    CommandRun (*add)(CLI::App& command);
};

// Every command, in the order --help lists them.
const std::vector<CommandSpec>& VelquintCommands();

CommandRun AddSearchCommand(CLI::App& command);
CommandRun AddSetupCommand(CLI::App& command);
CommandRun AddSetIdCommand(CLI::App& command);
CommandRun AddTransactCommand(CLI::App& command);
CommandRun AddApplyCommand(CLI::App& command);
CommandRun AddWatchCommand(CLI::App& command);
CommandRun AddDoctorCommand(CLI::App& command);

std::string SearchFooter();
std::string SetupFooter();
std::string SetIdFooter();
std::string TransactFooter();
std::string ApplyFooter();
std::string WatchFooter();
std::string DoctorFooter();
