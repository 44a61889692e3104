#include "cli/Output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>

#include "cli/Reporter.h"

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
    const auto failed = [&path](const std::string& what) {
        return Failure{
            kExitLocal, "cannot write " + path + ": " + what + ": " + std::strerror(errno), {}};
    };
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temporary = folder + "/." + name + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        return failed("no temporary file beside it");
    }
    size_t written = 0;
    while (written < content.size()) {
        const ssize_t step = write(fd, content.data() + written, content.size() - written);
        if (step < 0 && errno == EINTR) {
            continue;
        }
        if (step <= 0) {
            const std::optional<Failure> failure = failed("a write failed");
            close(fd);
            unlink(temporary.c_str());
            return failure;
        }
        written += static_cast<size_t>(step);
    }
    // mkstemp makes the file for its owner alone; a report is for anyone
    // who may read the folder, as a file the shell makes would be.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    if (fsync(fd) != 0) {
        const std::optional<Failure> failure = failed("it did not reach the disk");
        close(fd);
        unlink(temporary.c_str());
        return failure;
    }
    if (close(fd) != 0 || rename(temporary.c_str(), path.c_str()) != 0) {
        const std::optional<Failure> failure = failed("it could not take its place");
        unlink(temporary.c_str());
        return failure;
    }
    return std::nullopt;
}
