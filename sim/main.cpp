// velquint-sim: simulated devices for tests and demos (see --help).
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "sim/LabGuard.h"
#include "sim/SimDiscovery.h"
#include "sim/SimLoop.h"
#include "sim/SimOptions.h"
#include "sim/SimSetup.h"
#include "sim/SimTcp.h"
#include "sim/SimUdpPort.h"

namespace {

constexpr int kExitBadUsage = 2;
constexpr int kExitOutsideLab = 3;
constexpr int kExitCannotListen = 4;
constexpr char kLoopbackAddress[] = "127.0.0.1";

}  // namespace

int main(int argc, char** argv) {
    SimOptions options;
    std::string error;
    if (!ParseSimOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "velquint-sim: %s (see --help)\n", error.c_str());
        return kExitBadUsage;
    }
    if (options.help) {
        std::fputs(SimUsage().c_str(), stdout);
        return 0;
    }
    // Only the loopback services may run outside the lab: they send nothing
    // on UDP and listen on 127.0.0.1 alone.
    if (!options.loopback) {
        const std::string problem = LabNamespaceProblem();
        if (!problem.empty()) {
            std::fprintf(stderr, "velquint-sim: %s\n", problem.c_str());
            return kExitOutsideLab;
        }
    }

    // A tool that hangs up in the middle of a reply must not end the
    // simulator: its writes fail with EPIPE instead.
    std::signal(SIGPIPE, SIG_IGN);

    SimLoop loop;
    std::unique_ptr<SimUdpPort> udp;
    std::unique_ptr<SimDiscovery> discovery;
    std::unique_ptr<SimSetup> setup;
    SimTcp tcp(loop, options.devices);
    if (!options.loopback) {
        udp = std::make_unique<SimUdpPort>(loop);
        if (!udp->Open(&error) ||
            (!options.recordPath.empty() && !udp->RecordTo(options.recordPath, &error))) {
            std::fprintf(stderr, "velquint-sim: %s\n", error.c_str());
            return kExitCannotListen;
        }
        udp->LoseAtRandom(options.lossPercent, options.seed);
        discovery = std::make_unique<SimDiscovery>(loop, *udp, options.devices, options.noise);
        discovery->Attach();
        setup = std::make_unique<SimSetup>(loop, *udp, options.devices);
        setup->Attach();
        // A device that takes a new address or port moves its TCP service there.
        auto follow = [&tcp](size_t device) {
            std::string why;
            if (!tcp.Follow(device, &why)) {
                std::fprintf(stderr, "velquint-sim: %s\n", why.c_str());
            }
        };
        setup->OnApplied(follow);
        // A restarting device serves nothing, and comes back at its new
        // address and port.
        setup->OnRestart(
            [&tcp](size_t device) {
                std::string why;
                if (!tcp.Halt(device, &why)) {
                    std::fprintf(stderr, "velquint-sim: %s\n", why.c_str());
                }
            },
            follow);
    }
    if (!tcp.Open(options.loopback ? kLoopbackAddress : "", &error) ||
        (!options.recordTcpPath.empty() && !tcp.RecordTo(options.recordTcpPath, &error))) {
        std::fprintf(stderr, "velquint-sim: %s\n", error.c_str());
        return kExitCannotListen;
    }

    for (size_t i = 0; i < options.devices.size(); ++i) {
        std::printf("listening %s\n", tcp.Endpoint(i).c_str());
    }
    // Devices plugged in and unplugged on a schedule, as on a commissioning
    // bench: off the network (no answer, no service) while unplugged.
    for (size_t i = 0; i < options.devices.size() && !options.loopback; ++i) {
        SimDevice& device = options.devices[i];
        const auto unplug = [&tcp, &options, i] {
            options.devices[i].unplugged = true;
            std::string why;
            if (!tcp.Halt(i, &why)) {
                std::fprintf(stderr, "velquint-sim: %s\n", why.c_str());
            }
        };
        if (device.appearMs > 0) {
            unplug();
            loop.After(device.appearMs, [&tcp, &options, i] {
                options.devices[i].unplugged = false;
                std::string why;
                if (!options.devices[i].restarting && !tcp.Follow(i, &why)) {
                    std::fprintf(stderr, "velquint-sim: %s\n", why.c_str());
                }
            });
        }
        if (device.vanishMs > 0) {
            loop.After(device.vanishMs, unplug);
        }
    }
    if (options.pty) {
        std::string path;
        if (options.devices.empty() || !tcp.ServePty(0, &path, &error)) {
            std::fprintf(stderr, "velquint-sim: --pty: %s\n",
                         options.devices.empty() ? "no device to serve" : error.c_str());
            return kExitCannotListen;
        }
        std::printf("pty %s\n", path.c_str());
    }
    std::puts("ready");
    std::fflush(stdout);
    loop.Run();
    return 0;
}
