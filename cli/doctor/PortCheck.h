#pragma once

#include <string>

#include "cli/doctor/Finding.h"
#include "commission/SegmentPort.h"

// Port 3195, free for UDP or not: `port` is bound as a search binds it, which
// sends nothing. The caller closes it, or keeps it for a probe.
Finding PortFinding(SegmentPort& port);

// The programs that `ss -u -a -n -p` names in `listing`: "velquint-sim (pid
// 1234)"; empty when it names none (ss shows only an ordinary user's own).
std::string PortHolders(const std::string& listing);
