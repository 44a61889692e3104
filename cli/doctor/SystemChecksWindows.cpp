#include "cli/doctor/SystemChecks.h"

#include "cli/doctor/DefenderJudge.h"
#include "common/DatagramHeader.h"
#include "platform/DefenderFirewall.h"

namespace {

const std::string kPort = std::to_string(kDeviceUdpPort);

}  // namespace

void NamePortHolders(Finding* finding) {
    finding->text = "UDP port " + kPort +
                    " is held by another program (the window of Velquint Tool, or a search "
                    "of another velquint, say)";
    finding->fix = "netstat -a -n -o -p UDP names its process ID beside :" + kPort +
                   "; end it, then search again";
}

Findings FirewallFindings(const std::vector<LocalInterface>& /*interfaces*/) {
    DefenderFirewall firewall;
    std::string why;
    if (!ReadDefenderFirewall(&firewall, &why)) {
        return {DefenderUnread(why, kDeviceUdpPort)};
    }
    return JudgeDefenderFirewall(firewall, ThisProgramPath(), kDeviceUdpPort);
}

std::string BringUpCommand(const std::string& interfaceName) {
    return "as an administrator: netsh interface set interface name=\"" + interfaceName +
           "\" admin=enabled";
}

std::string SystemChecksHelp() {
    return "Checks, without sending anything, what stands between this machine and the devices: "
           "UDP port " +
           kPort +
           " free; the interfaces that are up, can broadcast and have an IPv4 address, with "
           "their subnets, and the one Windows sends a broadcast out of; and whether the Windows "
           "Defender Firewall would drop a device's reply, which arrives as a new datagram to "
           "port " +
           kPort +
           ": on each profile of the networks connected now, an enabled inbound rule that lets "
           "UDP to the port in for velquint.exe or for every program, and no rule that blocks "
           "it. Each finding is one line, with what to do.";
}

std::string FirewallFixHelp() {
    return "The rule that lets the replies in, added once by an administrator: netsh advfirewall "
           "firewall add rule name=velquint dir=in action=allow protocol=UDP localport=" +
           kPort + ".";
}
