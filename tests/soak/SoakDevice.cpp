#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>

#include "tests/soak/Soak.h"
#include "tests/support/LabSupport.h"

namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char pair[3];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", b);
        text += pair;
    }
    return text;
}

template <size_t N>
std::string Dotted(const std::array<uint8_t, N>& bytes, const char* format, char separator) {
    std::string text;
    char part[8];
    for (size_t i = 0; i < N; ++i) {
        std::snprintf(part, sizeof part, format, bytes[i]);
        text += (i == 0 ? "" : std::string(1, separator)) + part;
    }
    return text;
}

}  // namespace

std::string SoakDevice::IpText() const {
    return Dotted(ip, "%u", '.');
}

std::string SoakDevice::Settings() const {
    std::string settings = "mac=" + Dotted(mac, "%02X", '.') + ",ip=" + IpText() +
                           ",mask=" + Dotted(mask, "%u", '.') +
                           ",gateway=" + Dotted(gateway, "%u", '.') +
                           ",port=" + std::to_string(port) + ",baud=" + std::to_string(baud) +
                           ",version=" + std::to_string(major) + "." + std::to_string(minor);
    if (!extra.empty()) {
        settings += ",extra=" + Hex(extra);
    }
    if (!faults.empty()) {
        settings += "," + faults;
    }
    return settings;
}

std::vector<uint8_t> SoakDevice::Record() const {
    std::vector<uint8_t> record(mac.begin(), mac.end());
    record.push_back(major);
    record.push_back(minor);
    for (const auto* address : {&ip, &mask, &gateway}) {
        record.insert(record.end(), address->begin(), address->end());
    }
    record.push_back(static_cast<uint8_t>(port >> 8));
    record.push_back(static_cast<uint8_t>(port & 0xFF));
    record.push_back(baud);
    record.insert(record.end(), extra.begin(), extra.end());
    return record;
}

SoakDevice RandomSoakDevice(std::mt19937& random, unsigned ordinal) {
    SoakDevice device;
    // 02.50.4B: a locally administered range that no fault of the soak uses.
    device.mac = {0x02,
                  0x50,
                  0x4B,
                  static_cast<uint8_t>(random()),
                  static_cast<uint8_t>(random()),
                  static_cast<uint8_t>(ordinal)};
    device.major = static_cast<uint8_t>(random() % 3);
    device.minor = static_cast<uint8_t>(random() % 130);
    // Addresses .10 up are the devices'; the setups move them to .150 up.
    std::array<uint8_t, 4> net{};
    std::sscanf(DeviceNetPrefix(0).c_str(), "%hhu.%hhu.%hhu.", &net[0], &net[1], &net[2]);
    device.ip = {net[0], net[1], net[2], static_cast<uint8_t>(10 + ordinal)};
    device.gateway = {net[0], net[1], net[2], 1};
    device.port = static_cast<uint16_t>(1024 + random() % 60000);
    device.baud = static_cast<uint8_t>(random() % 8);
    return device;
}

bool Serving(const SimProcess& sim, SoakOutcome* outcome) {
    if (!sim.ready()) {
        outcome->asDocumented = false;
        outcome->why = sim.failure();
    }
    return sim.ready();
}

std::string StopSimulator(SimProcess& sim) {
    const int status = sim.Stop();
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) {
        return "";
    }
    return "the simulator ended by itself (wait status " + std::to_string(status) +
           "); its messages are above";
}

void JudgeSimulator(SimProcess& sim, SoakOutcome* outcome) {
    AddFinding(outcome, StopSimulator(sim));
}

void AddFinding(SoakOutcome* outcome, const std::string& why) {
    if (!why.empty()) {
        outcome->asDocumented = false;
        outcome->why += (outcome->why.empty() ? "" : "; ") + why;
    }
}

long SoakNowMs() {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count());
}

SoakTimer::SoakTimer(SoakOutcome* outcome, long boundMs)
    : outcome_(outcome), startMs_(SoakNowMs()) {
    outcome_->boundMs = boundMs;
}

SoakTimer::~SoakTimer() {
    outcome_->elapsedMs = SoakNowMs() - startMs_;
}
