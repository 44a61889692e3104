#pragma once

#include <string>
#include <vector>

#include "sim/SimDevice.h"
#include "sim/SimDiscovery.h"

struct SimOptions {
    std::vector<SimDevice> devices;
    SimNoise noise;
    double lossPercent = 0;  // each datagram in or out is lost with this chance
    uint32_t seed = 1;       // of the losses, so that a run repeats
    std::string recordPath;
    std::string recordTcpPath;
    // Only the TCP services, all on 127.0.0.1: no UDP side, so no lab needed.
    bool loopback = false;
    // The first device serves its framed requests over a pseudo-terminal too.
    bool pty = false;
    bool help = false;
};

// Parses the command line (argv[0] is the program). False with a message in
// `error` on anything it does not understand.
bool ParseSimOptions(int argc, char** argv, SimOptions* options, std::string* error);

std::string SimUsage();
