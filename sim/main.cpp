// velquint-sim: simulated devices for tests and demos (see --help).
#include <cstdio>
#include <string>

#include "sim/LabGuard.h"
#include "sim/SimDiscovery.h"
#include "sim/SimLoop.h"
#include "sim/SimOptions.h"
#include "sim/SimSetup.h"
#include "sim/SimUdpPort.h"

namespace {

constexpr int kExitBadUsage = 2;
constexpr int kExitOutsideLab = 3;
constexpr int kExitCannotListen = 4;

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
    const std::string problem = LabNamespaceProblem();
    if (!problem.empty()) {
        std::fprintf(stderr, "velquint-sim: %s\n", problem.c_str());
        return kExitOutsideLab;
    }

    SimLoop loop;
    SimUdpPort udp(loop);
    if (!udp.Open(&error) ||
        (!options.recordPath.empty() && !udp.RecordTo(options.recordPath, &error))) {
        std::fprintf(stderr, "velquint-sim: %s\n", error.c_str());
        return kExitCannotListen;
    }
    SimDiscovery discovery(loop, udp, options.devices, options.noise);
    discovery.Attach();
    SimSetup setup(loop, udp, options.devices);
    setup.Attach();
    // Further sides (the TCP service) attach here, to the same loop.

    std::puts("ready");
    std::fflush(stdout);
    loop.Run();
    return 0;
}
