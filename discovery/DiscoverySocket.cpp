#include "discovery/DiscoverySocket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "common/DatagramHeader.h"
#include "common/ScopeExit.h"
#include "discovery/DiscoverDevices.h"

namespace {

constexpr int kSocketOptionOn = 1;

}  // namespace

int OpenDiscoverySocket(bool interfaceInfo) {
    const int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (udp < 0) {
        return kDiscoverSocketFailed;
    }
    ScopeExit closeSocket([udp] { close(udp); });

    if (setsockopt(udp, SOL_SOCKET, SO_BROADCAST, &kSocketOptionOn, sizeof kSocketOptionOn) != 0) {
        return kDiscoverBroadcastOptionFailed;
    }
    if (setsockopt(udp, SOL_SOCKET, SO_DONTROUTE, &kSocketOptionOn, sizeof kSocketOptionOn) != 0) {
        return kDiscoverDontRouteOptionFailed;
    }
    // Best effort: a smaller buffer than asked for still works, only less well
    // under a burst.
    setsockopt(udp, SOL_SOCKET, SO_RCVBUF, &kDiscoveryReceiveBufferBytes,
               sizeof kDiscoveryReceiveBufferBytes);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(kDeviceUdpPort);
    if (bind(udp, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        return kDiscoverBindFailed;
    }
    if (interfaceInfo) {
        setsockopt(udp, IPPROTO_IP, IP_PKTINFO, &kSocketOptionOn, sizeof kSocketOptionOn);
    }
    closeSocket.Release();
    return udp;
}
