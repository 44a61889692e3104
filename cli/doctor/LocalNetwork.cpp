#include "cli/doctor/LocalNetwork.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>

#include <algorithm>
#include <bitset>
#include <sstream>

namespace {

constexpr int kAddressBits = 32;

std::string Dotted(uint32_t address) {
    in_addr value{};
    value.s_addr = htonl(address);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &value, text, sizeof text);
    return text;
}

uint32_t Mask(int prefixLength) {
    return prefixLength <= 0 ? 0 : ~uint32_t{0} << (kAddressBits - prefixLength);
}

std::string AddressText(const LocalInterface& interface) {
    return Dotted(interface.address) + "/" + std::to_string(interface.prefixLength);
}

}  // namespace

std::vector<LocalInterface> LocalInterfaces() {
    std::vector<LocalInterface> interfaces;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return interfaces;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        auto known = std::find_if(
            interfaces.begin(), interfaces.end(),
            [entry](const LocalInterface& interface) { return interface.name == entry->ifa_name; });
        if (known == interfaces.end()) {
            LocalInterface interface;
            interface.name = entry->ifa_name;
            interface.index = if_nametoindex(entry->ifa_name);
            interface.up = (entry->ifa_flags & IFF_UP) != 0;
            interface.broadcast = (entry->ifa_flags & IFF_BROADCAST) != 0;
            interface.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
            interfaces.push_back(interface);
            known = interfaces.end() - 1;
        }
        if (known->hasAddress || entry->ifa_addr == nullptr ||
            entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        known->hasAddress = true;
        known->address =
            ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr);
        if (entry->ifa_netmask != nullptr) {
            const uint32_t mask =
                ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr);
            known->prefixLength = static_cast<int>(std::bitset<kAddressBits>(mask).count());
        }
    }
    freeifaddrs(list);
    return interfaces;
}

bool SearchesFrom(const LocalInterface& interface) {
    return interface.up && interface.broadcast && !interface.loopback && interface.hasAddress;
}

std::string SubnetText(uint32_t address, int prefixLength) {
    return Dotted(address & Mask(prefixLength)) + "/" + std::to_string(prefixLength);
}

std::vector<DefaultRoute> ReadDefaultRoutes(std::istream& table) {
    std::vector<DefaultRoute> routes;
    std::string line;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string name;
        std::string destination;
        std::string gateway;
        unsigned flags = 0;
        int skipped = 0;
        std::string mask;
        if (!(fields >> name >> destination >> gateway >> std::hex >> flags >> std::dec >>
              skipped >> skipped >> skipped >> mask)) {
            continue;
        }
        if ((flags & RTF_UP) == 0 || std::stoul(destination, nullptr, 16) != 0 ||
            std::stoul(mask, nullptr, 16) != 0) {
            continue;
        }
        // The table writes addresses as the kernel holds them, in network order.
        const uint32_t gatewayValue =
            (flags & RTF_GATEWAY) != 0
                ? ntohl(static_cast<uint32_t>(std::stoul(gateway, nullptr, 16)))
                : 0;
        routes.push_back({name, gatewayValue});
    }
    return routes;
}

Findings InterfaceFindings(const std::vector<LocalInterface>& interfaces,
                           const std::string& onlyName) {
    Findings findings;
    size_t ready = 0;
    for (const LocalInterface& interface : interfaces) {
        if ((onlyName.empty() && (interface.loopback || !interface.up)) ||
            (!onlyName.empty() && interface.name != onlyName)) {
            continue;
        }
        Finding finding;
        finding.check = "interface";
        finding.interfaceName = interface.name;
        if (interface.loopback) {
            finding.token = "interface-loopback";
            finding.severity = Severity::Problem;
            finding.text = interface.name + " is this machine's loopback: no device is behind it";
        } else if (SearchesFrom(interface)) {
            ++ready;
            finding.token = "interface-ready";
            finding.text = interface.name + ": up, broadcasts, " + AddressText(interface) +
                           " (subnet " + SubnetText(interface.address, interface.prefixLength) +
                           ")";
        } else if (!interface.up) {
            finding.token = "interface-down";
            finding.severity = Severity::Problem;
            finding.text = interface.name + " is down: nothing is sent out of it";
            finding.fix = "connect its cable, or: sudo ip link set " + interface.name + " up";
        } else if (!interface.hasAddress) {
            finding.token = "interface-no-address";
            finding.severity = onlyName.empty() ? Severity::Note : Severity::Problem;
            finding.text = interface.name +
                           " is up without an IPv4 address: a search sends "
                           "nothing out of it";
            finding.fix =
                "give it an address in the devices' subnet, or leave it if no "
                "devices are on it";
        } else {
            finding.token = "interface-no-broadcast";
            finding.severity = onlyName.empty() ? Severity::Note : Severity::Problem;
            finding.text = interface.name + ": up with " + AddressText(interface) +
                           ", but it cannot broadcast (a point-to-point link): no search "
                           "reaches devices through it";
        }
        findings.push_back(finding);
    }
    if (ready == 0 && onlyName.empty()) {
        findings.push_back({"interface", "no-interface", Severity::Problem,
                            "no interface is up with an IPv4 address and broadcast: a search "
                            "goes out nowhere",
                            "connect the network cable to the devices' segment and give the "
                            "interface an IPv4 address",
                            ""});
    }
    return findings;
}

Findings RouteFindings(const std::vector<DefaultRoute>& routes,
                       const std::vector<LocalInterface>& interfaces, const std::string& onlyName) {
    if (!onlyName.empty()) {
        return {
            {"route", "route-interface", Severity::Ok,
             "with --interface the request goes out of " + onlyName + " whatever the routes say",
             "", onlyName}};
    }
    std::vector<std::string> ready;
    for (const LocalInterface& interface : interfaces) {
        if (SearchesFrom(interface)) {
            ready.push_back(interface.name);
        }
    }
    const std::string eachInterface =
        "the request goes out of each interface that is up and can broadcast";
    if (routes.empty()) {
        return {{"route", "route-none", Severity::Ok,
                 "no default route: " + eachInterface + ", which covers its absence", "", ""}};
    }
    const DefaultRoute& route = routes.front();
    if (route.gateway != 0) {
        return {{"route", "route-gateway", Severity::Ok,
                 "default route through " + Dotted(route.gateway) + " on " + route.interfaceName +
                     ": broadcasts stay on the local segment, so " + eachInterface,
                 "", route.interfaceName}};
    }
    std::string others;
    for (const std::string& name : ready) {
        if (name != route.interfaceName) {
            others += (others.empty() ? "" : ", ") + name;
        }
    }
    if (others.empty()) {
        return {{"route", "route-device", Severity::Ok,
                 "default route straight out of " + route.interfaceName +
                     ": the request goes out of it",
                 "", route.interfaceName}};
    }
    return {{"route", "route-device", Severity::Note,
             "default route straight out of " + route.interfaceName +
                 " (no gateway): the request goes out of it only, not out of " + others,
             "to search on another interface: velquint search --interface NAME",
             route.interfaceName}};
}
