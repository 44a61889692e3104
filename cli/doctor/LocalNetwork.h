#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/doctor/Finding.h"
#include "platform/Routes.h"

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

// The interfaces, or only `onlyName` when one is named.
Findings InterfaceFindings(const std::vector<LocalInterface>& interfaces,
                           const std::string& onlyName);

// How the request leaves with these routes; on Windows by the interface it
// sends a broadcast out of (`broadcastInterface`, its index; 0 on Linux,
// where the default route decides).
Findings RouteFindings(const std::vector<DefaultRoute>& routes, unsigned broadcastInterface,
                       const std::vector<LocalInterface>& interfaces, const std::string& onlyName);
