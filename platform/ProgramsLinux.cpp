#include "platform/Programs.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sstream>

#include "common/ScopeExit.h"

extern char** environ;

namespace {

constexpr char kSystemFolders[] = "/usr/sbin:/sbin";

bool Executable(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string FindProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return Executable(name) ? name : std::string();
    }
    const char* path = std::getenv("PATH");
    std::istringstream folders(std::string(path != nullptr ? path : "/usr/bin:/bin") + ":" +
                               kSystemFolders);
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        if (!folder.empty() && Executable(folder + "/" + name)) {
            return folder + "/" + name;
        }
    }
    return {};
}

namespace {

// The environment of a program the doctor runs: this one's, in the C locale,
// so that its output reads the same whatever the user's language.
std::vector<std::string> ProgramEnvironment() {
    std::vector<std::string> environment = {"LC_ALL=C"};
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::string(*entry).rfind("LC_ALL=", 0) != 0) {
            environment.emplace_back(*entry);
        }
    }
    return environment;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Starts `program` with stdin from /dev/null and stdout and stderr into the
// pipes' write ends, which are closed here. The child, or -1.
pid_t Spawn(const std::string& program, std::vector<std::string> arguments, int out, int err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    std::vector<std::string> environment = ProgramEnvironment();
    const std::vector<char*> argv = Pointers(arguments);
    const std::vector<char*> envp = Pointers(environment);
    pid_t child = -1;
    const int spawned =
        posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out);
    close(err);
    return spawned == 0 ? child : -1;
}

// Reads both pipes until they end or the time limit passes; false when it
// passed.
bool ReadBoth(int out, int err, int timeLimitMs, ProgramRun* run) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeLimitMs);
    pollfd pipes[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    std::string* texts[2] = {&run->out, &run->err};
    while (pipes[0].fd >= 0 || pipes[1].fd >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        const int ready = poll(pipes, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        for (size_t i = 0; ready > 0 && i < 2; ++i) {
            if (pipes[i].fd < 0 || pipes[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t got = read(pipes[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                texts[i]->append(buffer, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                pipes[i].fd = -1;
            }
        }
    }
    return true;
}

}  // namespace

ProgramRun RunProgram(const std::vector<std::string>& arguments, int timeLimitMs) {
    ProgramRun run;
    const std::string program = arguments.empty() ? std::string() : FindProgram(arguments[0]);
    if (program.empty()) {
        return run;
    }
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        return run;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return run;
    }
    const ScopeExit closeReadEnds([&] {
        close(out[0]);
        close(err[0]);
    });
    const pid_t child = Spawn(program, arguments, out[1], err[1]);
    if (child < 0) {
        return run;
    }
    run.started = true;
    const bool inTime = ReadBoth(out[0], err[0], timeLimitMs, &run);
    if (!inTime) {
        kill(child, SIGKILL);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = inTime && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

bool RunsAsRoot() {
    return geteuid() == 0;
}
