#include "discovery/DiscoverySocket.h"

#include "common/DatagramHeader.h"
#include "common/ScopeExit.h"
#include "discovery/DiscoverDevices.h"

namespace {

constexpr int kSocketOptionOn = 1;

}  // namespace

int OpenDiscoverySocket(bool interfaceInfo, SocketHandle* socket) {
    const SocketHandle udp = OpenUdpSocket();
    if (udp == kNoSocket) {
        return kDiscoverSocketFailed;
    }
    ScopeExit closeSocket([udp] { CloseSocket(udp); });

    if (!SetSocketOption(udp, SocketOption::Broadcast, kSocketOptionOn)) {
        return kDiscoverBroadcastOptionFailed;
    }
    if (!SetSocketOption(udp, SocketOption::DontRoute, kSocketOptionOn)) {
        return kDiscoverDontRouteOptionFailed;
    }
    // Best effort: a smaller buffer than asked for still works, only less well
    // under a burst.
    SetSocketOption(udp, SocketOption::ReceiveBuffer, kDiscoveryReceiveBufferBytes);
    if (!BindSocket(udp, kAnyAddress, kDeviceUdpPort)) {
        return kDiscoverBindFailed;
    }
    if (interfaceInfo) {
        SetSocketOption(udp, SocketOption::PacketInfo, kSocketOptionOn);
    }
    closeSocket.Release();
    *socket = udp;
    return 0;
}
