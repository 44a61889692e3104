#include "platform/Interfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>

namespace {

uint32_t Ipv4Of(const sockaddr* address) {
    return address != nullptr && address->sa_family == AF_INET
               ? ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr)
               : 0;
}

}  // namespace

std::vector<NetworkInterface> ListIpv4Interfaces() {
    std::vector<NetworkInterface> interfaces;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return interfaces;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        const unsigned flags = entry->ifa_flags;
        NetworkInterface interface;
        interface.index = if_nametoindex(entry->ifa_name);
        interface.name = entry->ifa_name;
        interface.address = Ipv4Of(entry->ifa_addr);
        interface.netmask = Ipv4Of(entry->ifa_netmask);
        interface.up = (flags & IFF_UP) != 0;
        interface.broadcastCapable = (flags & IFF_BROADCAST) != 0;
        interface.loopback = (flags & IFF_LOOPBACK) != 0;
        if (interface.broadcastCapable) {
            interface.broadcast = Ipv4Of(entry->ifa_broadaddr);
        }
        interface.hasIpv4 = true;
        interfaces.push_back(std::move(interface));
    }
    freeifaddrs(list);
    return interfaces;
}

std::vector<NetworkInterface> ListInterfaces() {
    std::vector<NetworkInterface> interfaces;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return interfaces;
    }
    // Each interface comes once per address family and address; the first
    // entry makes it, its first IPv4 address completes it.
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        auto known = std::find_if(interfaces.begin(), interfaces.end(),
                                  [entry](const NetworkInterface& interface) {
                                      return interface.name == entry->ifa_name;
                                  });
        if (known == interfaces.end()) {
            const unsigned flags = entry->ifa_flags;
            NetworkInterface interface;
            interface.index = if_nametoindex(entry->ifa_name);
            interface.name = entry->ifa_name;
            interface.up = (flags & IFF_UP) != 0;
            interface.broadcastCapable = (flags & IFF_BROADCAST) != 0;
            interface.loopback = (flags & IFF_LOOPBACK) != 0;
            interfaces.push_back(std::move(interface));
            known = interfaces.end() - 1;
        }
        if (known->hasIpv4 || entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        known->hasIpv4 = true;
        known->address = Ipv4Of(entry->ifa_addr);
        known->netmask = Ipv4Of(entry->ifa_netmask);
        if (known->broadcastCapable) {
            known->broadcast = Ipv4Of(entry->ifa_broadaddr);
        }
    }
    freeifaddrs(list);
    return interfaces;
}

unsigned InterfaceIndex(const std::string& name) {
    return if_nametoindex(name.c_str());
}

std::string InterfaceName(unsigned index) {
    char name[IF_NAMESIZE] = {};
    return index != 0 && if_indextoname(index, name) != nullptr ? name : "";
}
