#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/Output.h"

namespace CLI {
class App;
}
class Reporter;
class StopSignal;

// What the program gives a command to run with: the format asked, the one
// reporter of the run (chosen once, from the format, the terminal and whether
// the command streams), and Ctrl-C's and SIGTERM's request to stop.
struct CommandContext {
    Format format;
    Reporter& reporter;
    const StopSignal& stop;
};

// The commands of velquint. Each adds its arguments and options to its own
// part of the command line and returns what runs it once the line is
// parsed: a run that returns the command's result and prints nothing but its
// reports (the program writes the result in the format asked), or ends with
// a CommandFailure.
struct CommandRun {
    std::function<CommandResult(const CommandContext& context)> run;
    // Whether it reports as it goes, with --json as JSON Lines on stdout; it
    // may depend on the options, so it is asked once they are parsed.
    std::function<bool()> streams = [] { return false; };
};

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
