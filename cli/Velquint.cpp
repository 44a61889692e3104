#include "cli/Velquint.h"

#include <CLI/CLI.hpp>

#include <iostream>

#include "cli/Cli.h"
#include "cli/Commands.h"

namespace {

constexpr char kVersion[] = "velquint " VELQUINT_VERSION;

}  // namespace

std::map<std::string, CommandRun> AddVelquintCommandLine(CLI::App& app) {
    app.name("velquint");
    app.description(
        "Find Velquint devices on the local segment, give them network settings and "
        "IDs, one at a time or from a plan file.");
    app.set_version_flag("-V,--version", kVersion);
    app.require_subcommand(1, 1);
    app.fallthrough(false);
    app.footer(std::string("\n") + kExitCodesHelp +
               "\nData for other programs (--json, --csv) goes to stdout; messages go to "
               "stderr. `velquint COMMAND --help` describes each command.");

    return {
        {"search", AddSearchCommand(app)}, {"setup", AddSetupCommand(app)},
        {"set-id", AddSetIdCommand(app)},  {"transact", AddTransactCommand(app)},
        {"apply", AddApplyCommand(app)},
    };
}

int RunVelquint(int argc, char** argv) {
    CLI::App app;
    const std::map<std::string, CommandRun> commands = AddVelquintCommandLine(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion& version) {
        return app.exit(version);
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return kExitUsage;
    }

    try {
        return commands.at(app.get_subcommands().front()->get_name())();
    } catch (const CommandFailure& failure) {
        Say(failure.what());
        return failure.code();
    }
}
