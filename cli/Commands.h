#pragma once

#include <functional>

namespace CLI {
class App;
}

// Each command adds itself to the program's command line and returns what
// runs it once the line is parsed; a command ends by returning its exit code
// or by raising CommandFailure.
using CommandRun = std::function<int()>;

CommandRun AddSearchCommand(CLI::App& app);
CommandRun AddSetupCommand(CLI::App& app);
CommandRun AddSetIdCommand(CLI::App& app);
CommandRun AddTransactCommand(CLI::App& app);
CommandRun AddApplyCommand(CLI::App& app);
