#pragma once

#include <string>
#include <vector>

#include "sim/SimDevice.h"
#include "sim/SimDiscovery.h"

struct SimOptions {
    std::vector<SimDevice> devices;
    SimNoise noise;
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
