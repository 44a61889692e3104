#pragma once

// The one way the tests, the soak and the benchmarks run another program:
// the simulator, the soak's rogue peer, Xvfb and the tool itself. A child
// never outlives the process that started it, whatever way that process
// ends, so that a failed test leaves no simulator or server behind.

#include <sys/resource.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct ChildOptions {
    // The program; a name without '/' is looked up in PATH.
    std::string program;
    // The whole argument vector, argv[0] included; empty gives the program
    // an empty vector.
    std::vector<std::string> argv;
    // Variables to set (NAME=value); every other one is inherited except
    // those named in `unset`.
    std::vector<std::string> set;
    std::vector<std::string> unset;
    // Standard input is /dev/null unless the parent feeds it (Write).
    bool pipeStdin = false;
    // Standard output goes to the parent (WaitForLine) when piped, else to
    // stdoutPath; an empty path keeps this process's own stream, so that
    // whatever the child says shows in the test's log.
    bool pipeStdout = false;
    // Room in that pipe, for a child that writes a stream faster than the
    // parent reads it (a packet recorder); 0 keeps the system's default.
    int stdoutPipeBytes = 0;
    std::string stdoutPath;
    std::string stderrPath;
    // What failure messages call the child ("velquint-sim").
    std::string name = "the child process";
};

struct ChildExit {
    bool exited = false;  // false: still running when the wait ended
    int status = 0;       // as from waitpid
    rusage usage{};
};

class ChildProcess {
public:
    // Starts the program; started() tells whether it runs.
    explicit ChildProcess(const ChildOptions& options);
    // Stops a child that still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // Why the child did not start or did not get ready, for a failure message.
    const std::string& failure() const { return failure_; }

    // Hands the child's output to `accept` line by line until it takes one
    // (the child says it is ready), the child ends, or limitMs pass. The
    // pipe is closed then: a child says nothing more once it is ready.
    bool WaitForLine(const std::function<bool(const std::string&)>& accept, int limitMs);

    // Appends what the child wrote to its piped output, waiting at most
    // waitMs for some: the count of bytes, 0 at the end of its output, -1
    // when nothing came in time.
    int ReadOutput(std::string* into, int waitMs);

    // Feeds the child's standard input; a child that is gone shows as
    // missing input only.
    void Write(const std::string& text);
    // Ends the child's standard input, which ends a child that runs until then.
    void CloseInput();

    // Asks the child to end (SIGTERM) and returns at once, so that what it
    // writes on its way out can still be read before Wait reaps it.
    void Terminate();
    // Waits up to limitMs for the child to end by itself, and reaps it.
    ChildExit Wait(int limitMs);
    // Asks the child to end (SIGTERM), kills it when it has not ended within
    // limitMs, and returns its wait status; -1 when it ran no more.
    int Stop(int limitMs = kStopLimitMs);

    // Only catches a child that ignores SIGTERM; a healthy one ends at once.
    static constexpr int kStopLimitMs = 10000;

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    std::string name_;
    std::string failure_;
};

// Runs `body` in a forked copy of this process (for what must not touch
// this one, such as leaving its network namespace) and returns the exit code
// body returned, or -1 when the copy did not exit normally.
int ExitCodeInChild(const std::function<int()>& body);
