#include "cli/doctor/Programs.h"

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

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

    std::vector<std::string> environment = {"LC_ALL=C"};
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::string(*entry).rfind("LC_ALL=", 0) != 0) {
            environment.emplace_back(*entry);
        }
    }
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    pid_t child = -1;
    const int spawned =
        posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (spawned != 0) {
        return run;
    }
    run.started = true;

    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeLimitMs);
    pollfd pipes[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* texts[2] = {&run.out, &run.err};
    bool late = false;
    while (pipes[0].fd >= 0 || pipes[1].fd >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            late = true;
            break;
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
    if (late) {
        kill(child, SIGKILL);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = !late && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}
