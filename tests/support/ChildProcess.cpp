#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Where no process descriptor can be had (an old kernel, a sandbox).
constexpr auto kExitPollInterval = std::chrono::milliseconds(5);
// After SIGKILL the kernel reaps at once; this only bounds a wait that
// cannot go wrong.
constexpr int kKillLimitMs = 10000;
constexpr int kExecFailedStatus = 127;

int MsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

bool AssignsName(const std::string& assignment, const std::string& name) {
    return assignment.size() > name.size() && assignment.compare(0, name.size(), name) == 0 &&
           assignment[name.size()] == '=';
}

std::vector<std::string> ChildEnvironment(const ChildOptions& options) {
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string assignment(*variable);
        bool drop = false;
        for (const std::string& name : options.unset) {
            drop = drop || AssignsName(assignment, name);
        }
        for (const std::string& replacement : options.set) {
            drop = drop || AssignsName(assignment, replacement.substr(0, replacement.find('=')));
        }
        if (!drop) {
            environment.push_back(assignment);
        }
    }
    environment.insert(environment.end(), options.set.begin(), options.set.end());
    return environment;
}

// In the child between fork and exec only async-signal-safe calls are made:
// everything it needs is prepared before the fork.
void RedirectTo(const char* path, int flags, int target) {
    const int fd = open(path, flags | O_CLOEXEC, 0600);
    if (fd >= 0) {
        dup2(fd, target);
    }
}

}  // namespace

ChildProcess::ChildProcess(const ChildOptions& options) : name_(options.name) {
    std::vector<std::string> arguments = options.argv;
    std::vector<std::string> environment = ChildEnvironment(options);
    std::vector<char*> argv = CStrings(arguments);
    std::vector<char*> envp = CStrings(environment);
    int input[2] = {-1, -1};
    int output[2] = {-1, -1};
    if ((options.pipeStdin && pipe2(input, O_CLOEXEC) != 0) ||
        (options.pipeStdout && pipe2(output, O_CLOEXEC) != 0)) {
        failure_ = "pipe failed";
        return;
    }
    if (options.pipeStdout && options.stdoutPipeBytes > 0) {
        fcntl(output[0], F_SETPIPE_SZ, options.stdoutPipeBytes);
    }
    constexpr int kWriteFlags = O_WRONLY | O_CREAT | O_TRUNC;

    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) {
        // `ip netns exec` replaces itself with its command, so this reaches
        // the simulator it starts as well.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(1);
        }
        if (options.pipeStdin) {
            dup2(input[0], STDIN_FILENO);
        } else {
            RedirectTo("/dev/null", O_RDONLY, STDIN_FILENO);
        }
        if (options.pipeStdout) {
            dup2(output[1], STDOUT_FILENO);
        } else if (!options.stdoutPath.empty()) {
            RedirectTo(options.stdoutPath.c_str(), kWriteFlags, STDOUT_FILENO);
        }
        if (!options.stderrPath.empty()) {
            RedirectTo(options.stderrPath.c_str(), kWriteFlags, STDERR_FILENO);
        }
        execvpe(options.program.c_str(), argv.data(), envp.data());
        _exit(kExecFailedStatus);
    }
    for (int unused : {input[0], output[1]}) {
        if (unused >= 0) {
            close(unused);
        }
    }
    stdin_ = input[1];
    stdout_ = output[0];
    if (child < 0) {
        failure_ = "fork failed";
        CloseInput();
        return;
    }
    pid_ = child;
}

ChildProcess::~ChildProcess() {
    Stop();
    CloseInput();
    if (stdout_ >= 0) {
        close(stdout_);
    }
}

bool ChildProcess::WaitForLine(const std::function<bool(const std::string&)>& accept, int limitMs) {
    if (stdout_ < 0) {
        failure_ = name_ + " has no output to wait on";
        return false;
    }
    std::string said;
    bool ready = false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    while (!ready) {
        const size_t newline = said.find('\n');
        if (newline != std::string::npos) {
            ready = accept(said.substr(0, newline));
            said.erase(0, newline + 1);
            continue;
        }
        pollfd entry{stdout_, POLLIN, 0};
        if (MsLeft(deadline) == 0 || poll(&entry, 1, MsLeft(deadline)) <= 0) {
            failure_ = name_ + " did not say ready in time";
            break;
        }
        char buffer[256];
        const ssize_t got = read(stdout_, buffer, sizeof buffer);
        if (got <= 0) {
            const int status = Stop();
            failure_ = name_ + " ended before it was ready (wait status " + std::to_string(status) +
                       "); its messages are above";
            break;
        }
        said.append(buffer, static_cast<size_t>(got));
    }
    close(stdout_);
    stdout_ = -1;
    return ready;
}

int ChildProcess::ReadOutput(std::string* into, int waitMs) {
    pollfd entry{stdout_, POLLIN, 0};
    if (stdout_ >= 0 && poll(&entry, 1, waitMs) <= 0) {
        return -1;
    }
    char buffer[65536];
    const ssize_t got = stdout_ >= 0 ? read(stdout_, buffer, sizeof buffer) : 0;
    if (got <= 0) {
        return 0;
    }
    into->append(buffer, static_cast<size_t>(got));
    return static_cast<int>(got);
}

void ChildProcess::Write(const std::string& text) {
    if (stdin_ >= 0) {
        const ssize_t written = write(stdin_, text.data(), text.size());
        (void)written;
    }
}

void ChildProcess::CloseInput() {
    if (stdin_ >= 0) {
        close(stdin_);
        stdin_ = -1;
    }
}

void ChildProcess::Terminate() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
    }
}

ChildExit ChildProcess::Wait(int limitMs) {
    ChildExit result;
    if (pid_ <= 0) {
        return result;
    }
    // The process descriptor becomes readable when the child ends, so the
    // wait costs nothing and ends at once.
    // (Through syscall(): Debian 12's <sys/pidfd.h> cannot be used from C++.)
    const int ended = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        const pid_t done = wait4(pid_, &result.status, WNOHANG, &result.usage);
        if (done == pid_) {
            result.exited = true;
            pid_ = -1;
            break;
        }
        if (done < 0 || MsLeft(deadline) == 0) {
            break;
        }
        if (ended >= 0) {
            pollfd entry{ended, POLLIN, 0};
            poll(&entry, 1, MsLeft(deadline));
        } else {
            std::this_thread::sleep_for(kExitPollInterval);
        }
    }
    if (ended >= 0) {
        close(ended);
    }
    return result;
}

int ChildProcess::Stop(int limitMs) {
    if (pid_ <= 0) {
        return -1;
    }
    kill(pid_, SIGTERM);
    ChildExit result = Wait(limitMs);
    if (!result.exited) {
        kill(pid_, SIGKILL);
        result = Wait(kKillLimitMs);
    }
    return result.exited ? result.status : -1;
}

int ExitCodeInChild(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        _exit(body());
    }
    if (child < 0) {
        return -1;
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
