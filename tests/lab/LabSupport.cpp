#include "tests/lab/LabSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/LabGuard.h"

namespace {

// Only catches a simulator that hangs; a healthy one is ready in milliseconds.
constexpr int kSimReadyLimitMs = 15000;
constexpr char kReadyLine[] = "ready\n";
constexpr const char* kIpCommands[] = {"ip", "/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip"};

[[noreturn]] void FailLoudly(const std::string& message) {
    std::fprintf(stderr, "\n*** LAB: %s\n\n", message.c_str());
    std::fflush(stderr);
    std::_Exit(kLabGuardExitStatus);
}

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream stream(text);
    std::string word;
    while (stream >> word) {
        words.push_back(word);
    }
    return words;
}

}  // namespace

void RequireLabNamespace() {
    const std::string problem = LabNamespaceProblem();
    if (!problem.empty()) {
        FailLoudly(problem);
    }
}

const LabEnvironment& Lab() {
    static const LabEnvironment lab = [] {
        if (Variable("VELQUINT_LAB") != "1") {
            FailLoudly("no lab: run this through tests/lab/lab.sh (ctest does)");
        }
        LabEnvironment environment;
        environment.run = Variable("VELQUINT_LAB_RUN");
        environment.toolNamespace = Variable("VELQUINT_LAB_TOOL_NS");
        environment.toolIp = Variable("VELQUINT_LAB_TOOL_IP");
        environment.deviceNamespaces = Words(Variable("VELQUINT_LAB_DEVICE_NS"));
        environment.deviceIps = Words(Variable("VELQUINT_LAB_DEVICE_IPS"));
        environment.deviceNets = Words(Variable("VELQUINT_LAB_DEVICE_NETS"));
        environment.route = Variable("VELQUINT_LAB_ROUTE");
        environment.simulator = Variable("VELQUINT_SIM");
        if (environment.deviceNamespaces.empty() || environment.simulator.empty()) {
            FailLoudly("the lab names no device namespace or no simulator (VELQUINT_SIM)");
        }
        return environment;
    }();
    return lab;
}

std::string DeviceNetPrefix(size_t deviceNamespace) {
    const std::string& net = Lab().deviceNets.at(deviceNamespace);
    return net.substr(0, net.rfind('.') + 1);
}

SimProcess::SimProcess(const std::vector<std::string>& arguments, size_t deviceNamespace) {
    RequireLabNamespace();
    const LabEnvironment& lab = Lab();
    if (deviceNamespace >= lab.deviceNamespaces.size()) {
        failure_ = "the lab has no device namespace " + std::to_string(deviceNamespace);
        return;
    }
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0) {
        failure_ = "pipe failed";
        return;
    }
    std::vector<std::string> command = {"ip", "netns", "exec",
                                        lab.deviceNamespaces[deviceNamespace], lab.simulator};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : command) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    const pid_t parent = getpid();
    pid_t child = fork();
    if (child == 0) {
        // `ip netns exec` replaces itself with the simulator, so this reaches it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            std::_Exit(1);
        }
        dup2(output[1], STDOUT_FILENO);
        for (const char* ip : kIpCommands) {
            execvp(ip, argv.data());
        }
        std::_Exit(127);
    }
    close(output[1]);
    if (child < 0) {
        close(output[0]);
        failure_ = "fork failed";
        return;
    }
    pid_ = child;

    std::string said;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSimReadyLimitMs);
    while (said.find(kReadyLine) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd entry{output[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            failure_ = "velquint-sim did not say ready in time";
            break;
        }
        char buffer[64];
        const ssize_t got = read(output[0], buffer, sizeof buffer);
        if (got <= 0) {
            const int status = Stop();
            failure_ = "velquint-sim ended before it was ready (wait status " +
                       std::to_string(status) + "); its messages are above";
            break;
        }
        said.append(buffer, static_cast<size_t>(got));
    }
    close(output[0]);
    ready_ = failure_.empty();
}

SimProcess::~SimProcess() {
    Stop();
}

int SimProcess::Stop() {
    if (pid_ <= 0) {
        return -1;
    }
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/velquint-lab-XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made == nullptr ? std::string("/tmp") : std::string(made);
}

TempDir::~TempDir() {
    if (path_ != "/tmp") {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        lines.push_back(line);
    }
    return lines;
}

std::string CommandOutput(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char buffer[256];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, got);
    }
    pclose(pipe);
    return output;
}
