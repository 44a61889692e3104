#include "cli/Velquint.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>
#include <sstream>

#include "cli/Cli.h"
#include "cli/Commands.h"
#include "cli/HelpText.h"
#include "cli/Reporter.h"
#include "cli/Signals.h"

namespace {

constexpr char kVersion[] = "velquint " VELQUINT_VERSION;

std::string StreamsText() {
    return Wrapped(
        "Data for other programs (--json, --csv) go to stdout; messages go to stderr. "
        "`velquint COMMAND --help` describes each command.");
}

int OutputFailed() {
    std::cerr << "velquint: cannot write the output: " << std::strerror(errno) << '\n';
    return kExitLocal;
}

// Finishes the reporter on every way out of a command, once: a status line
// still shown goes before the result or the failure is written.
class FinishReport {
public:
    explicit FinishReport(Reporter& reporter) : reporter_(reporter) {}
    ~FinishReport() { reporter_.Finish(); }
    FinishReport(const FinishReport&) = delete;
    FinishReport& operator=(const FinishReport&) = delete;

private:
    Reporter& reporter_;
};

// Runs a parsed command and writes what it ends with: its result, or its
// failure.
int RunCommand(const CommandRun& command, const CommandContext& context) {
    std::optional<CommandResult> result;
    Failure failure;
    {
        const FinishReport finish(context.reporter);
        try {
            result = command.run(context);
        } catch (const CommandFailure& failed) {
            failure = failed.failure();
        } catch (const std::exception& unexpected) {
            // No exception ends the program without its line and its status.
            failure = {kExitLocal, unexpected.what(), {}};
        }
    }
    // Whatever it did, a command that Ctrl-C or SIGTERM stopped ends with
    // their status.
    const auto status = [&context](int own) {
        return context.stop.Asked() ? context.stop.Status() : own;
    };
    if (result) {
        return WriteResult(*result, context.format, context.reporter) ? status(result->status)
                                                                      : OutputFailed();
    }
    return WriteFailure(failure, context.format, context.reporter) ? status(failure.status)
                                                                   : OutputFailed();
}

}  // namespace

const std::vector<CommandSpec>& VelquintCommands() {
    static const std::vector<CommandSpec> commands = {
        {"search", "Find the devices on the segment and list them", SearchFooter, true,
         AddSearchCommand},
        {"setup", "Give one device new network settings; what is not named stays as it is",
         SetupFooter, false, AddSetupCommand},
        {"set-id", "Write a device's ID (0 to 255) with one transaction", SetIdFooter, false,
         AddSetIdCommand},
        {"transact", "Send one framed request and show the device's reply, for diagnostics",
         TransactFooter, false, AddTransactCommand},
        {"apply", "Commission the devices of a plan file and report what each now has", ApplyFooter,
         true, AddApplyCommand},
        {"watch", "Follow the segment live: devices that appear, change or are gone", WatchFooter,
         false, AddWatchCommand},
        {"doctor", "Check what on this machine stands between a search and the devices",
         DoctorFooter, false, AddDoctorCommand},
    };
    return commands;
}

VelquintCommandLine AddVelquintCommandLine(CLI::App& app) {
    app.name("velquint");
    app.description(
        "Find Velquint devices on the local segment, give them network settings and "
        "IDs, one at a time or from a plan file.");
    app.set_version_flag("-V,--version", kVersion);
    app.require_subcommand(1, 1);
    app.fallthrough(false);
    // CLI11 reads "/name" as an option on Windows; there as here, options
    // start with '-' and "/plans/line.csv" is a file. Set before the
    // commands are added: they inherit it.
    app.allow_windows_style_options(false);
    app.footer("\n" + std::string(kExitCodesHelp) + "\n" + StreamsText());

    VelquintCommandLine line;
    for (const CommandSpec& spec : VelquintCommands()) {
        CLI::App* command = app.add_subcommand(spec.name, spec.summary);
        command->footer(spec.footer() + "\n\n" + kExitCodesHelp);
        auto& entry = line[command];
        entry.run = spec.add(*command);
        entry.format = std::make_shared<FormatChoice>();
        entry.format->AddTo(*command, spec.csv);
    }
    return line;
}

int RunVelquint(int argc, char** argv) {
    CLI::App app;
    const VelquintCommandLine line = AddVelquintCommandLine(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& shown) {
        // --help and --version, written to stdout: they count only if they
        // got there.
        app.exit(shown);
        return StdoutWritten() ? kExitOk : OutputFailed();
    } catch (const CLI::ParseError& error) {
        // CLI11 would write its errors without the program's name; every
        // error line of velquint starts with it. A line that asked for JSON
        // gets its failure as JSON too, though it did not parse.
        const bool json = std::any_of(argv + 1, argv + argc, [](const char* word) {
            return std::strcmp(word, "--json") == 0 || std::strcmp(word, "-j") == 0;
        });
        const std::unique_ptr<Reporter> reporter = ChooseReporter(false);
        const bool written =
            WriteFailure({kExitUsage, std::string(error.what()) + " (see --help)", {}},
                         json ? Format::Json : Format::Table, *reporter);
        return written ? kExitUsage : OutputFailed();
    }

    const auto& entry = line.at(app.get_subcommands().front());
    const Format format = entry.format->Chosen();
    const std::unique_ptr<Reporter> reporter =
        ChooseReporter(format == Format::Json && entry.run.streams());
    return RunCommand(entry.run, {format, *reporter, StopSignal::Watch()});
}
