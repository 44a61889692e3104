// The commissioning engine on segments in memory, in virtual time (make
// bench-engine): for each case, over five loss seeds, the virtual time until
// the last row is verified, the CPU time the engine and the segment took, and
// the requests and setup datagrams that went out, in all and per device. The
// figures are in docs/benchmarks.md.
#include <algorithm>
#include <iterator>
#include <cstdio>
#include <ctime>
#include <vector>

#include "commission/Commissioner.h"
#include "tests/support/MemorySegment.h"

namespace {

constexpr uint32_t kSeeds[] = {1, 2, 3, 4, 5};

struct Case {
    const char* name;
    size_t devices;
    int64_t restartMs;
    double lossPercent;
    size_t setupsAtOnce;  // apply's --parallel, or every setup at once
};

struct Figures {
    double virtualSeconds = 0;
    double cpuSeconds = 0;
    size_t requests = 0;
    size_t setups = 0;
    size_t verified = 0;
    // Rows verified within the restart and 0.5, 1 and 2 s, counted from the
    // first setup datagram.
    size_t within[3] = {0, 0, 0};
};

constexpr int64_t kWithinMs[] = {500, 1000, 2000};

Figures RunOnce(const Case& c, uint32_t seed) {
    MemorySegment segment(c.lossPercent, seed);
    segment.AddMany(c.devices, c.restartMs);
    CommissionOptions options;
    options.setupsAtOnce = c.setupsAtOnce;
    const std::clock_t cpuStart = std::clock();
    Commissioner engine(options, segment, nullptr, Instant{});
    for (size_t i = 0; i < segment.Devices(); ++i) {
        const MemoryDevice& device = segment.Device(i);
        // As bench/cli.sh's plan: a new mask, gateway, port, baud rate and ID.
        CommissionTask task;
        std::copy(device.mac.begin(), device.mac.end(), task.target.mac);
        task.target.ip = device.ip;
        task.target.mask = 0xFFFFFF00;
        task.target.gateway = device.gateway + 1;
        task.target.port = static_cast<uint16_t>(device.port + 1);
        task.target.baudCode = 7;
        task.id = static_cast<uint8_t>(i);
        task.interfaces = {device.interfaceIndex};
        engine.Add(task);
    }
    const MemoryRun run = RunInMemory(
        engine, segment, [&engine](Instant) { return engine.AllDone(); }, kNever);
    Figures figures;
    figures.cpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    figures.virtualSeconds = static_cast<double>(MillisecondsBetween(Instant{}, run.end)) / 1000;
    figures.requests = segment.Traffic().requests.size();
    figures.setups = segment.Traffic().setups.size();
    for (size_t i = 0; i < engine.Tasks(); ++i) {
        const CommissionResult& result = engine.Result(i);
        if (result.outcome != CommissionOutcome::Verified) {
            continue;
        }
        ++figures.verified;
        for (size_t k = 0; k < std::size(kWithinMs); ++k) {
            figures.within[k] += result.elapsedMs <= c.restartMs + kWithinMs[k] ? 1 : 0;
        }
    }
    return figures;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main() {
    const Case cases[] = {
        {"4096 x 10 s x 10 %, every setup at once", 4096, 10000, 10, 4096},
        {"255 x 5 s x 5 %, --parallel 64", 255, 5000, 5, 64},
        {"50 x 8 s x 5 %, --parallel 64", 50, 8000, 5, 64},
    };
    std::printf("%-42s %9s %9s %9s %9s %9s %9s %9s %9s\n", "case (devices x restart x loss)",
                "verified", "virtual", "worst", "cpu", "requests", "req/dev", "setups",
                "setups/dev");
    for (const Case& c : cases) {
        std::vector<double> virtualSeconds;
        std::vector<double> cpuSeconds;
        std::vector<double> requests;
        std::vector<double> setups;
        size_t leastVerified = c.devices;
        std::vector<double> within[3];
        for (const uint32_t seed : kSeeds) {
            const Figures figures = RunOnce(c, seed);
            virtualSeconds.push_back(figures.virtualSeconds);
            cpuSeconds.push_back(figures.cpuSeconds);
            requests.push_back(static_cast<double>(figures.requests));
            setups.push_back(static_cast<double>(figures.setups));
            leastVerified = std::min(leastVerified, figures.verified);
            for (size_t k = 0; k < std::size(kWithinMs); ++k) {
                within[k].push_back(100.0 * static_cast<double>(figures.within[k]) /
                                    static_cast<double>(c.devices));
            }
        }
        const double worst = *std::max_element(virtualSeconds.begin(), virtualSeconds.end());
        const double devices = static_cast<double>(c.devices);
        std::printf("%-42s %4zu/%-4zu %8.2fs %8.2fs %8.3fs %9.0f %9.3f %9.0f %9.2f\n", c.name,
                    leastVerified, c.devices, Median(virtualSeconds), worst, Median(cpuSeconds),
                    Median(requests), Median(requests) / devices, Median(setups),
                    Median(setups) / devices);
        std::printf("%-42s verified within the restart and 0.5 s: %.1f %%, 1 s: %.1f %%, 2 s: "
                    "%.2f %%\n",
                    "", Median(within[0]), Median(within[1]), Median(within[2]));
    }
    std::printf("Medians of %zu seeds; 'worst' is the latest last verified row of them. Each "
                "request reaches every device.\n",
                std::size(kSeeds));
    return 0;
}
