#include "tests/support/LoopbackSim.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

// Only catches a simulator that hangs; a healthy one listens in milliseconds.
constexpr int kReadyLimitMs = 15000;
constexpr char kReadyLine[] = "ready";
constexpr char kListeningWord[] = "listening";
constexpr char kPtyWord[] = "pty";
constexpr char kDeviceFolder[] = "/dev/";
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

    ChildOptions options;
    options.program = program;
    options.argv = {program, "--loopback", "--record-tcp", recordPath_};
    options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
    options.pipeStdout = true;
    options.name = "velquint-sim";
    process_ = std::make_unique<ChildProcess>(options);
    // Each device says where it listens, and the pseudo-terminal where it
    // is, before the simulator says "ready".
    ready_ = process_->started() &&
             process_->WaitForLine(
                 [this](const std::string& line) {
                     std::istringstream words(line);
                     std::string word;
                     std::string where;
                     if (words >> word >> where && word == kListeningWord) {
                         ports_.push_back(
                             static_cast<uint16_t>(std::stoul(where.substr(where.rfind(':') + 1))));
                     } else if (word == kPtyWord && where.rfind(kDeviceFolder, 0) == 0) {
                         ptyName_ = where.substr(sizeof kDeviceFolder - 1);
                     }
                     return line == kReadyLine;
                 },
                 kReadyLimitMs);
    failure_ = process_->failure();
}

LoopbackSim::~LoopbackSim() {
    Stop();
    if (!recordPath_.empty()) {
        unlink(recordPath_.c_str());
    }
}

int LoopbackSim::Stop() {
    return process_ ? process_->Stop() : -1;
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
