#include "tests/support/LabSupport.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/LabGuard.h"

namespace {

// Only catches a program that hangs; a healthy one is ready in milliseconds.
constexpr int kReadyLimitMs = 15000;
constexpr char kReadyLine[] = "ready";
// ip lives in /usr/sbin, which a PATH made for a user may lack.
constexpr const char* kIpPaths[] = {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"};

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

std::string IpCommand() {
    for (const char* path : kIpPaths) {
        if (access(path, X_OK) == 0) {
            return path;
        }
    }
    return "ip";
}

// Empty when the lab has no such device namespace.
std::string DeviceNamespaceName(size_t deviceNamespace) {
    RequireLabNamespace();
    const std::vector<std::string>& names = Lab().deviceNamespaces;
    return deviceNamespace < names.size() ? names[deviceNamespace] : std::string();
}

std::vector<std::string> SimCommand(const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {Lab().simulator};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
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
        environment.toolLinks = Words(Variable("VELQUINT_LAB_TOOL_LINKS"));
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

std::string FirstDeviceIp() {
    return DeviceNetPrefix() + "5";
}

LabProcess::LabProcess(const std::string& namespaceName, const std::vector<std::string>& command,
                       const std::string& name, bool pipeStdin) {
    RequireLabNamespace();
    if (namespaceName.empty()) {
        failure_ = "the lab has no namespace for " + name;
        return;
    }
    ChildOptions options;
    options.program = IpCommand();
    options.argv = {"ip", "netns", "exec", namespaceName};
    options.argv.insert(options.argv.end(), command.begin(), command.end());
    options.pipeStdin = pipeStdin;
    options.pipeStdout = true;
    options.name = name;
    process_ = std::make_unique<ChildProcess>(options);
    ready_ = process_->started() &&
             process_->WaitForLine([](const std::string& line) { return line == kReadyLine; },
                                   kReadyLimitMs);
    failure_ = process_->failure();
}

int LabProcess::Stop() {
    return process_ ? process_->Stop() : -1;
}

SimProcess::SimProcess(const std::vector<std::string>& arguments, size_t deviceNamespace)
    : LabProcess(DeviceNamespaceName(deviceNamespace), SimCommand(arguments), "velquint-sim") {}

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
