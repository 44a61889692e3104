#include "LoopbackSim.h"

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
#include <fstream>
#include <sstream>

namespace {

// Only catches a simulator that hangs; a healthy one listens in milliseconds.
constexpr int kReadyLimitMs = 15000;
constexpr char kReadyLine[] = "ready";
constexpr char kListeningWord[] = "listening";
constexpr char kBadMark[] = "bad";

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

std::vector<uint8_t> HexBytes(const std::string& text) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(HexDigit(text[i]) * 16 + HexDigit(text[i + 1])));
    }
    return bytes;
}

}  // namespace

std::string HexText(const std::vector<uint8_t>& bytes) {
    std::string text;
    char pair[4];
    for (uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02X ", byte);
        text += pair;
    }
    if (!text.empty()) {
        text.pop_back();
    }
    return text;
}

LoopbackSim::LoopbackSim(const std::vector<std::string>& arguments) {
    const char* program = std::getenv("VELQUINT_SIM");
    if (program == nullptr || *program == '\0') {
        failure_ = "VELQUINT_SIM must name velquint-sim";
        return;
    }
    char pattern[] = "/tmp/velquint-tcp-record-XXXXXX";
    const int recordFd = mkstemp(pattern);
    if (recordFd < 0) {
        failure_ = "cannot make a record file";
        return;
    }
    close(recordFd);
    recordPath_ = pattern;

    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0) {
        failure_ = "pipe failed";
        return;
    }
    std::vector<std::string> command = {program, "--loopback", "--record-tcp", recordPath_};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : command) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            std::_Exit(1);
        }
        dup2(output[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
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
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadyLimitMs);
    for (;;) {
        const size_t newline = said.find('\n');
        if (newline != std::string::npos) {
            const std::string line = said.substr(0, newline);
            said.erase(0, newline + 1);
            if (line == kReadyLine) {
                break;
            }
            std::istringstream words(line);
            std::string word;
            std::string endpoint;
            if (words >> word >> endpoint && word == kListeningWord) {
                ports_.push_back(
                    static_cast<uint16_t>(std::stoul(endpoint.substr(endpoint.rfind(':') + 1))));
            }
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd entry{output[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            failure_ = "velquint-sim did not say ready in time";
            break;
        }
        char buffer[256];
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

LoopbackSim::~LoopbackSim() {
    Stop();
    if (!recordPath_.empty()) {
        unlink(recordPath_.c_str());
    }
}

int LoopbackSim::Stop() {
    if (pid_ <= 0) {
        return -1;
    }
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
}

uint16_t LoopbackSim::Port(size_t device) const {
    return device < ports_.size() ? ports_[device] : 0;
}

std::vector<LoopbackSim::Frame> LoopbackSim::Frames() const {
    std::vector<Frame> frames;
    std::ifstream record(recordPath_);
    std::string line;
    while (std::getline(record, line)) {
        std::istringstream words(line);
        Frame frame;
        std::string hex;
        std::string mark;
        if (!(words >> frame.endpoint >> hex)) {
            continue;
        }
        frame.bytes = HexBytes(hex);
        frame.valid = !(words >> mark) || mark != kBadMark;
        frames.push_back(frame);
    }
    return frames;
}
