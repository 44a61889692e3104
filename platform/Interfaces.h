#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The machine's IPv4 interfaces: getifaddrs on Linux, GetAdaptersAddresses
// on Windows. Addresses are host byte order.
struct NetworkInterface {
    unsigned index = 0;  // what IP_PKTINFO names it by; 0: none
    std::string name;    // Linux's name ("eth0"); Windows' friendly name ("Ethernet"), UTF-8
    uint32_t address = 0;
    uint32_t netmask = 0;
    uint32_t broadcast = 0;  // its broadcast address, where it has one
    bool up = false;
    bool broadcastCapable = false;
    bool loopback = false;
    bool hasIpv4 = false;  // false: no IPv4 address (ListInterfaces only)
};

// One entry per IPv4 address, in the system's order: an interface with two
// addresses appears twice. Empty when the list cannot be read.
std::vector<NetworkInterface> ListIpv4Interfaces();

// Every interface once, with its first IPv4 address if it has one, in the
// system's order: also those a search cannot use (down, without an address),
// which the doctor tells of; on Windows not the tunnel adapters without
// IPv4 that it keeps up.
std::vector<NetworkInterface> ListInterfaces();

// if_nametoindex and if_indextoname: 0 and an empty name for none.
unsigned InterfaceIndex(const std::string& name);
std::string InterfaceName(unsigned index);
