// velquint_soak: searches, setups, Set IDs, plans applied, commissioning
// stations and watches, for a given time, against simulated devices that
// misbehave at random (see tests/soak/*Soak.cpp), in the lab. After every operation it checks that the outcome is the
// documented one for the fault it met, that it ended within its waits, and
// that no descriptor has leaked; at the end, that resident memory has not
// grown. Prints what it did and exits
// non-zero on any finding.
//
//   velquint_soak [--seconds N] [--seed S]     (inside the lab: lab.sh runs it)
//   velquint_soak --rogue TOOL_IP LISTEN_IP RESET_PORT CLOSE_PORT SEED
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>

#include "channel/COM_Class.h"
#include "tests/soak/RoguePeer.h"
#include "tests/soak/Soak.h"
#include "tests/soak/SoakProbe.h"
#include "tests/support/LabSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr long kDefaultSeconds = 60;
// Operations before the memory baseline: the first ones fill caches and
// buffers that stay (stdio, the allocator's arenas).
constexpr unsigned kWarmUpOperations = 10;
// Growth of resident memory from the baseline to the end that counts as a
// leak; a few pages come and go with the allocator.
constexpr size_t kLargestGrowthBytes = 1 << 20;
constexpr int kExitFinding = 1;
constexpr int kExitUsage = 2;

struct Tally {
    unsigned operations = 0;
    unsigned mismatches = 0;
    std::map<std::string, unsigned> faults;
};

double Megabytes(size_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

int Usage() {
    std::fprintf(stderr,
                 "usage: velquint_soak [--seconds N] [--seed S]\n"
                 "       velquint_soak --rogue TOOL_IP LISTEN_IP RESET_PORT CLOSE_PORT SEED\n");
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 7 && std::string(argv[1]) == "--rogue") {
        return RunRoguePeer(
            argv[2], argv[3],
            {static_cast<uint16_t>(std::atoi(argv[4])), static_cast<uint16_t>(std::atoi(argv[5]))},
            static_cast<uint32_t>(std::strtoul(argv[6], nullptr, 10)));
    }
    long seconds = kDefaultSeconds;
    uint32_t seed = static_cast<uint32_t>(Clock::now().time_since_epoch().count());
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            return Usage();
        }
        if (option == "--seconds") {
            seconds = std::strtol(argv[++i], nullptr, 10);
        } else if (option == "--seed") {
            seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            return Usage();
        }
    }
    if (seconds <= 0) {
        return Usage();
    }
    RequireLabNamespace();
    const LabEnvironment& lab = Lab();
    // A peer that went away must show as a failed operation, not end the soak.
    signal(SIGPIPE, SIG_IGN);

    std::printf("soak: %ld s, seed %u (--seed %u repeats this run)\n", seconds, seed, seed);
    std::fflush(stdout);
    std::mt19937 random(seed);
    RogueProcess rogue(lab.deviceNamespaces.back(), lab.toolIp, lab.deviceIps.back(),
                       {kRogueResetPort, kRogueClosePort}, seed);
    if (!rogue.ready()) {
        std::fprintf(stderr, "soak: %s\n", rogue.failure().c_str());
        return kExitFinding;
    }
    COM_Class channel;
    SoakContext context{random, rogue, channel};

    const size_t descriptorsAtStart = CountOpenDescriptors();
    const size_t memoryAtStart = ResidentBytes();
    size_t memoryBaseline = memoryAtStart;
    size_t memoryPeak = memoryAtStart;
    unsigned descriptorLeaks = 0;
    Tally tally;
    std::map<std::string, unsigned> operations;
    std::map<std::string, long> longestMs;

    const Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        SoakOutcome outcome;
        // Every third operation commissions or watches, each kind in turn:
        // they take seconds where the others take one.
        if (tally.operations % 3 == 2) {
            switch (tally.operations / 3 % 3) {
                case 0:
                    outcome = SoakApply(context);
                    break;
                case 1:
                    outcome = SoakStation(context);
                    break;
                default:
                    outcome = SoakWatch(context);
                    break;
            }
        } else {
            switch (random() % 4) {
                case 0:
                    outcome = SoakSearch(context);
                    break;
                case 1:
                case 2:
                    outcome = SoakSetId(context);
                    break;
                default:
                    outcome = SoakSetup(context);
                    break;
            }
        }
        ++tally.operations;
        ++operations[outcome.operation];
        for (const std::string& fault : outcome.faults) {
            ++tally.faults[outcome.operation + ": " + fault];
        }
        const size_t descriptors = CountOpenDescriptors();
        longestMs[outcome.operation] = std::max(longestMs[outcome.operation], outcome.elapsedMs);
        if (outcome.elapsedMs > outcome.boundMs) {
            outcome.asDocumented = false;
            outcome.why += (outcome.why.empty() ? "" : "; ") + std::string("took ") +
                           std::to_string(outcome.elapsedMs) + " ms, more than its " +
                           std::to_string(outcome.boundMs) + " ms";
        }
        if (!outcome.asDocumented || descriptors != descriptorsAtStart) {
            ++tally.mismatches;
            std::string faults;
            for (const std::string& fault : outcome.faults) {
                faults += (faults.empty() ? "" : " + ") + fault;
            }
            std::printf("FINDING in operation %u, %s (%s): %s\n", tally.operations,
                        outcome.operation.c_str(), faults.c_str(),
                        outcome.asDocumented ? "" : outcome.why.c_str());
            if (descriptors != descriptorsAtStart) {
                ++descriptorLeaks;
                std::printf("FINDING: %zu descriptors open, %zu at the start\n", descriptors,
                            descriptorsAtStart);
            }
            std::fflush(stdout);
        }
        const size_t memory = ResidentBytes();
        memoryPeak = std::max(memoryPeak, memory);
        if (tally.operations == kWarmUpOperations) {
            memoryBaseline = memory;
        }
    }
    const size_t descriptorsAtEnd = CountOpenDescriptors();
    const size_t memoryAtEnd = ResidentBytes();

    std::printf("\nsoak: %u operations in %ld s:", tally.operations, seconds);
    for (const auto& [name, count] : operations) {
        std::printf(" %u %s,", count, name.c_str());
    }
    std::printf("\nlongest:");
    for (const auto& [name, ms] : longestMs) {
        std::printf(" %s %ld ms,", name.c_str(), ms);
    }
    std::printf("\nfaults injected:\n");
    for (const auto& [name, count] : tally.faults) {
        std::printf("  %5u  %s\n", count, name.c_str());
    }
    std::printf("descriptors: %zu at the start, %zu at the end (checked after every operation)\n",
                descriptorsAtStart, descriptorsAtEnd);
    std::printf(
        "resident memory: %.2f MB at the start, %.2f MB after %u operations, "
        "%.2f MB at the end, %.2f MB at most\n",
        Megabytes(memoryAtStart), Megabytes(memoryBaseline), kWarmUpOperations,
        Megabytes(memoryAtEnd), Megabytes(memoryPeak));

    bool failed = tally.mismatches > 0 || descriptorsAtEnd != descriptorsAtStart;
    if (tally.operations > kWarmUpOperations &&
        memoryAtEnd > memoryBaseline + kLargestGrowthBytes) {
        if (BuiltWithAddressSanitizer()) {
            std::printf(
                "(memory growth not judged: AddressSanitizer keeps freed memory in "
                "quarantine; its leak check runs at exit)\n");
        } else {
            std::printf("FINDING: resident memory grew by %.2f MB\n",
                        Megabytes(memoryAtEnd - memoryBaseline));
            failed = true;
        }
    }
    std::printf("%s: %u findings\n", failed ? "FAILED" : "passed",
                tally.mismatches + (failed && tally.mismatches == 0 ? 1 : 0));
    return failed ? kExitFinding : 0;
}
