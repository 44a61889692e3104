#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

// Support for tests that run inside the lab of network namespaces built by
// tests/lab/lab.sh (see add_lab_test in tests/lab/CMakeLists.txt).

// Exit status of a process that the guard stopped.
constexpr int kLabGuardExitStatus = 3;

// Stops the process with a loud message unless it runs in a lab namespace.
// Call it before anything sends discovery or setup traffic or a broadcast.
void RequireLabNamespace();

// The lab as lab.sh describes it to the command it runs.
struct LabEnvironment {
    std::string run;
    std::string toolNamespace;
    std::string toolIp;
    std::vector<std::string> toolLinks;  // the tool's cards: "lab0", and "lab1" with two
    std::vector<std::string> deviceNamespaces;
    std::vector<std::string> deviceIps;
    std::vector<std::string> deviceNets;  // CIDR ranges local to each device namespace
    std::string route;                    // "device", "gateway" or "none"
    std::string simulator;                // path of velquint-sim
};

// Reads the lab's description; stops the process loudly when it is missing.
const LabEnvironment& Lab();

// The first address of a device namespace's local range ("10.231.101.0/24"
// gives "10.231.101."), for giving simulated devices reachable addresses.
std::string DeviceNetPrefix(size_t deviceNamespace = 0);

// The address the window's lab tests give the simulated device they talk to:
// the fifth of the first device namespace's range.
std::string FirstDeviceIp();

// A program in one of the lab's namespaces (`ip netns exec`) that says
// "ready" on its output once it serves: velquint-sim, the soak's rogue peer.
// The constructor returns once it did (or failed); the destructor ends it,
// and so does the end of the test process.
class LabProcess {
public:
    // `namespaceName` empty: the lab has no such namespace.
    LabProcess(const std::string& namespaceName, const std::vector<std::string>& command,
               const std::string& name, bool pipeStdin = false);
    LabProcess(const LabProcess&) = delete;
    LabProcess& operator=(const LabProcess&) = delete;

    bool ready() const { return ready_; }
    // Why the program is not ready, for the test's failure message.
    const std::string& failure() const { return failure_; }
    // Nothing when it never started.
    ChildProcess* process() { return process_.get(); }

    // Ends the program and returns its wait status.
    int Stop();

private:
    std::unique_ptr<ChildProcess> process_;
    bool ready_ = false;
    std::string failure_;
};

// velquint-sim running in one of the lab's device namespaces, started with
// `arguments`.
class SimProcess : public LabProcess {
public:
    explicit SimProcess(const std::vector<std::string>& arguments, size_t deviceNamespace = 0);
};

// A directory of its own for the test's files, removed with its contents at
// the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The lines of a text file (none when it cannot be read).
std::vector<std::string> ReadLines(const std::string& path);

// Runs a shell command and returns what it printed on standard output.
std::string CommandOutput(const std::string& command);
