#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "cli/doctor/Finding.h"

// The interfaces a search goes out of, and the default route that decides
// how: the checks of the doctor that read this machine's network.

struct LocalInterface {
    std::string name;
    unsigned index = 0;
    bool up = false;
    bool broadcast = false;
    bool loopback = false;
    bool hasAddress = false;
    uint32_t address = 0;  // its first IPv4 address, host byte order
    int prefixLength = 0;
};

// Every interface of this network namespace, each once.
std::vector<LocalInterface> LocalInterfaces();

// Up, broadcast-capable, not loopback, with an IPv4 address: one the search
// goes out of.
bool SearchesFrom(const LocalInterface& interface);

// "10.231.0.0/16": the subnet of `address`.
std::string SubnetText(uint32_t address, int prefixLength);

struct DefaultRoute {
    std::string interfaceName;
    uint32_t gateway = 0;  // 0: straight out of the interface
};

// The default routes of /proc/net/route (its text in `table`).
std::vector<DefaultRoute> ReadDefaultRoutes(std::istream& table);

// The interfaces, or only `onlyName` when one is named.
Findings InterfaceFindings(const std::vector<LocalInterface>& interfaces,
                           const std::string& onlyName);

// How the request leaves with these routes.
Findings RouteFindings(const std::vector<DefaultRoute>& routes,
                       const std::vector<LocalInterface>& interfaces, const std::string& onlyName);
