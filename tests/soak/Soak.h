#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

class COM_Class;
class RogueProcess;
class SimProcess;

// One operation of the soak: what it did, which fault it met, and whether
// the outcome was the documented one.
struct SoakOutcome {
    std::string operation;  // "search", "broadcast setup", "direct setup", "set id", "apply", ...
    std::vector<std::string> faults;  // every fault met, one entry each
    bool asDocumented = true;
    std::string why;  // what differed, when it did
    // How long the operation itself took, and the most it may take: its
    // documented waits and limits, with room for a loaded machine.
    long elapsedMs = 0;
    long boundMs = 0;
};

// Times one operation into `outcome`.
class SoakTimer {
public:
    SoakTimer(SoakOutcome* outcome, long boundMs);
    ~SoakTimer();
    SoakTimer(const SoakTimer&) = delete;
    SoakTimer& operator=(const SoakTimer&) = delete;

private:
    SoakOutcome* outcome_;
    long startMs_;
};

struct SoakContext {
    std::mt19937& random;
    RogueProcess& rogue;
    COM_Class& channel;  // one channel for the whole soak, as the window has
};

// A simulated device as the soak configures it, and the record its discovery
// reply carries.
struct SoakDevice {
    std::array<uint8_t, 6> mac{};
    uint8_t major = 1;
    uint8_t minor = 6;
    std::array<uint8_t, 4> ip{};
    std::array<uint8_t, 4> mask{{255, 255, 255, 0}};
    std::array<uint8_t, 4> gateway{};
    uint16_t port = 4001;
    uint8_t baud = 3;
    std::vector<uint8_t> extra;
    std::string faults;  // further simulator keys, "key=value,..."

    // The simulator's --device settings.
    std::string Settings() const;
    // Bytes 8 on of its discovery reply, before any length fault.
    std::vector<uint8_t> Record() const;
    std::string IpText() const;
};

// Device number `ordinal` of an operation, with random settings, at an
// address of the first device namespace's range.
SoakDevice RandomSoakDevice(std::mt19937& random, unsigned ordinal);

// Whether an operation's simulator got ready; when not, the outcome says why.
bool Serving(const SimProcess& sim, SoakOutcome* outcome);

// Stops a simulator and says what went wrong with it, if anything: a
// simulator that ended on its own before it was stopped (a sanitizer report,
// a crash) is a finding too. Empty when it was still serving.
std::string StopSimulator(SimProcess& sim);

// Adds a simulator's fate to an operation's outcome.
void JudgeSimulator(SimProcess& sim, SoakOutcome* outcome);

// Marks the outcome as not the documented one, for `why` (nothing when empty).
void AddFinding(SoakOutcome* outcome, const std::string& why);

// Milliseconds on the steady clock, for setting when things happened against
// the simulator's timed faults.
long SoakNowMs();

SoakOutcome SoakSearch(SoakContext& context);
SoakOutcome SoakSetup(SoakContext& context);
SoakOutcome SoakSetId(SoakContext& context);
SoakOutcome SoakApply(SoakContext& context);
SoakOutcome SoakStation(SoakContext& context);
SoakOutcome SoakWatch(SoakContext& context);

// Waits the soak uses, shorter than the window's so that more operations fit
// in the time; every one is still a fixed, documented bound.
constexpr int kSoakSearchFirstWaitSeconds = 1;
constexpr int kSoakSearchTimeLimitMs = 10000;
constexpr int32_t kSoakSetupReplyWaitSeconds = 1;
constexpr uint32_t kSoakSetupCapMs = 2500;
constexpr uint32_t kSoakConnectMs = 1000;
constexpr uint32_t kSoakUnreachableConnectMs = 300;
constexpr uint32_t kSoakReplyTimeoutMs = 500;

// The rogue peer's TCP ports (nothing listens on the port after them), and an
// address of the lab's network that no namespace holds.
constexpr uint16_t kRogueResetPort = 5100;
constexpr uint16_t kRogueClosePort = 5101;
constexpr char kUnreachableAddress[] = "10.231.2.250";

// What a loaded machine may add to an operation's own waits before the soak
// calls it a hang.
constexpr long kSoakSlackMs = 2000;
