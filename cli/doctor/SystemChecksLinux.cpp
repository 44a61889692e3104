#include "cli/doctor/SystemChecks.h"

#include "cli/doctor/PortCheck.h"
#include "common/DatagramHeader.h"
#include "platform/Programs.h"

namespace {

const std::string kPort = std::to_string(kDeviceUdpPort);

}  // namespace

void NamePortHolders(Finding* finding) {
    const std::string filter = "sport = :" + kPort;
    const ProgramRun ss = RunProgram({"ss", "-H", "-u", "-a", "-n", "-p", filter});
    const std::string holders = ss.status == 0 ? PortHolders(ss.out) : std::string();
    if (!holders.empty()) {
        finding->text = "UDP port " + kPort + " is held by " + holders;
        finding->fix = "end that program, or let its own search finish, then search again";
    } else {
        finding->text = "UDP port " + kPort +
                        " is held by another program, which only root may "
                        "see";
        finding->fix = "sudo ss -u -a -n -p '" + filter + "' names it; end it, then search again";
    }
}

std::string BringUpCommand(const std::string& interfaceName) {
    return "sudo ip link set " + interfaceName + " up";
}

std::string SystemChecksHelp() {
    return "Checks, without sending anything, what stands between this machine and the devices: "
           "UDP port " +
           kPort +
           " free (and which program holds it, where ss can tell); the interfaces that are up, "
           "can broadcast and have an IPv4 address, with their subnets, and the default route; "
           "and whether a firewall would drop a device's reply, which arrives as a new datagram "
           "to port " +
           kPort +
           " from another host of the interface's subnet: the nftables rules of this network "
           "namespace (iptables-nft's among them), iptables-legacy's, ufw's and firewalld's. "
           "Each finding is one line, with what to do. A rule it cannot evaluate makes its "
           "finding \"may drop\", naming the rule. Only root may read the firewalls' rules: "
           "run it with sudo to have them judged.";
}

std::string FirewallFixHelp() {
    return "The packages ship a ufw application profile and a firewalld service, both named "
           "velquint, that let the replies in (sudo ufw allow velquint, sudo firewall-cmd "
           "--add-service=velquint); installing them opens nothing.";
}
