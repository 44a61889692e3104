#pragma once

#include <cstdint>
#include <string>
#include <vector>

// How this machine would route a search request, a broadcast to
// 255.255.255.255: what the doctor tells people. The search itself needs
// none of it (it sends, and on "no route" goes out of each interface).

struct DefaultRoute {
    std::string interfaceName;
    uint32_t gateway = 0;  // host byte order; 0: straight out of the interface
};

// The default routes, first the one the system takes. Linux:
// /proc/net/route of this network namespace; Windows: the IPv4 routing
// table (GetIpForwardTable2), by metric.
std::vector<DefaultRoute> ListDefaultRoutes();

// The interface Windows sends a broadcast out of (GetBestInterface for
// 255.255.255.255: it goes out of that one only); 0 when there is none. On
// Linux always 0: there the default route above decides.
unsigned BroadcastInterface();
