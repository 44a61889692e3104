#include "cli/doctor/LocalNetwork.h"

#include <bitset>

#include "cli/Values.h"
#include "cli/doctor/SystemChecks.h"
#include "platform/Interfaces.h"

namespace {

constexpr int kAddressBits = 32;

std::string Dotted(uint32_t address) {
    return DottedText(address);
}

uint32_t Mask(int prefixLength) {
    return prefixLength <= 0 ? 0 : ~uint32_t{0} << (kAddressBits - prefixLength);
}

std::string AddressText(const LocalInterface& interface) {
    return Dotted(interface.address) + "/" + std::to_string(interface.prefixLength);
}

// Windows sends a broadcast out of the one interface its routes name for
// 255.255.255.255, whatever the default route.
Findings BroadcastInterfaceFindings(unsigned index, const std::vector<LocalInterface>& interfaces,
                                    const std::vector<std::string>& ready) {
    std::string name = "interface " + std::to_string(index);
    for (const LocalInterface& interface : interfaces) {
        if (interface.index == index) {
            name = interface.name;
        }
    }
    std::string others;
    for (const std::string& each : ready) {
        if (each != name) {
            others += (others.empty() ? "" : ", ") + each;
        }
    }
    const std::string leaves =
        "Windows sends a broadcast out of " + name + " (its route to 255.255.255.255)";
    if (others.empty()) {
        return {{"route", "route-broadcast", Severity::Ok, leaves + ": the request goes out of it",
                 "", name}};
    }
    return {{"route", "route-broadcast", Severity::Note,
             leaves + ": the request goes out of it only, not out of " + others,
             "to search on another interface: velquint search --interface NAME", name}};
}

}  // namespace

std::vector<LocalInterface> LocalInterfaces() {
    std::vector<LocalInterface> interfaces;
    for (const NetworkInterface& system : ListInterfaces()) {
        LocalInterface interface;
        interface.name = system.name;
        interface.index = system.index;
        interface.up = system.up;
        interface.broadcast = system.broadcastCapable;
        interface.loopback = system.loopback;
        interface.hasAddress = system.hasIpv4;
        interface.address = system.address;
        interface.prefixLength =
            static_cast<int>(std::bitset<kAddressBits>(system.netmask).count());
        interfaces.push_back(interface);
    }
    return interfaces;
}

bool SearchesFrom(const LocalInterface& interface) {
    return interface.up && interface.broadcast && !interface.loopback && interface.hasAddress;
}

std::string SubnetText(uint32_t address, int prefixLength) {
    return Dotted(address & Mask(prefixLength)) + "/" + std::to_string(prefixLength);
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
            finding.fix = "connect its cable, or: " + BringUpCommand(interface.name);
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

Findings RouteFindings(const std::vector<DefaultRoute>& routes, unsigned broadcastInterface,
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
    if (broadcastInterface != 0) {
        return BroadcastInterfaceFindings(broadcastInterface, interfaces, ready);
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
