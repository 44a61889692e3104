#include "cli/doctor/PortCheck.h"

#include <set>

#include "cli/doctor/SystemChecks.h"
#include "discovery/DiscoverDevices.h"
#include "discovery/DiscoveryDatagram.h"

namespace {

const std::string kPort = std::to_string(kDeviceUdpPort);

}  // namespace

std::string PortHolders(const std::string& listing) {
    // users:(("velquint-sim",pid=1234,fd=5),("other",pid=99,fd=3))
    std::set<std::string> seen;
    std::string holders;
    for (size_t at = listing.find("((\""); at != std::string::npos; at = listing.find(",(\"", at)) {
        at = listing.find('"', at) + 1;
        const size_t nameEnd = listing.find('"', at);
        if (nameEnd == std::string::npos) {
            break;
        }
        std::string holder = listing.substr(at, nameEnd - at);
        const size_t pid = listing.find("pid=", nameEnd);
        const size_t end = listing.find_first_of(",)", pid == std::string::npos ? 0 : pid);
        if (pid != std::string::npos && end != std::string::npos) {
            holder += " (pid " + listing.substr(pid + 4, end - pid - 4) + ")";
        }
        if (seen.insert(holder).second) {
            holders += (holders.empty() ? "" : ", ") + holder;
        }
        at = nameEnd;
    }
    return holders;
}

Finding PortFinding(SegmentPort& port) {
    Finding finding;
    finding.check = "port";
    const int opened = port.Open();
    if (opened == 0) {
        finding.token = "port-free";
        finding.text = "UDP port " + kPort + " is free for a search";
        return finding;
    }
    finding.severity = Severity::Problem;
    if (opened != kDiscoverBindFailed) {
        finding.token = "port-socket";
        finding.text = "this machine gives no UDP socket for a search";
        return finding;
    }
    finding.token = "port-taken";
    NamePortHolders(&finding);
    return finding;
}
