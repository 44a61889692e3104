#include "cli/Output.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "cli/Reporter.h"
#include "platform/ReplaceFile.h"

Format FormatChoice::Chosen() const {
    return json_ ? Format::Json : csv_ ? Format::Csv : Format::Table;
}

bool WriteResult(const CommandResult& result, Format format, Reporter& reporter) {
    if (result.shown) {
        switch (format) {
            case Format::Json:
                std::cout << result.shown->Json().dump(2) << '\n';
                break;
            case Format::Csv:
                result.shown->Csv(std::cout);
                break;
            case Format::Table:
                result.shown->Table(std::cout);
                break;
        }
    }
    if (!result.closing.empty()) {
        // The closing line is part of a table for people; with data for
        // programs on stdout it is a message.
        if (format == Format::Table && !result.closingIsWarning) {
            std::cout << result.closing << '\n';
        } else {
            reporter.Info(result.closing);
        }
    }
    return StdoutWritten();
}

bool WriteFailure(const Failure& failure, Format format, Reporter& reporter) {
    for (const std::string& detail : failure.details) {
        std::cerr << detail << '\n';
    }
    reporter.Info(failure.message);
    if (format != Format::Json) {
        return true;
    }
    std::cout << nlohmann::ordered_json{{"status", StatusToken(failure.status)},
                                        {"message", failure.message},
                                        {"details", failure.details}}
                     .dump(2)
              << '\n';
    return StdoutWritten();
}

bool StdoutWritten() {
    std::cout.flush();
    if (!std::cout) {
        errno = errno != 0 ? errno : EIO;
        return false;
    }
    // std::cout hands its bytes to C's stdout, whose buffer is flushed here.
    return std::fflush(stdout) == 0;
}

std::optional<Failure> WriteFileAtomically(const std::string& path, const std::string& content) {
    const ReplaceOutcome outcome = ReplaceFileContent(path, content);
    const char* what = nullptr;
    switch (outcome.failed) {
        case ReplaceStep::Done:
            return std::nullopt;
        case ReplaceStep::Create:
            what = "no temporary file beside it";
            break;
        case ReplaceStep::Write:
            what = "a write failed";
            break;
        case ReplaceStep::Flush:
            what = "it did not reach the disk";
            break;
        case ReplaceStep::Rename:
            what = "it could not take its place";
            break;
    }
    return Failure{kExitLocal, "cannot write " + path + ": " + what + ": " + outcome.error, {}};
}
