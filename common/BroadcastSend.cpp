#include "common/BroadcastSend.h"

#include <vector>

#include "common/DatagramHeader.h"
#include "platform/Interfaces.h"

namespace {


struct BroadcastInterface {
    unsigned index;
    uint32_t address;
};

// Each up, broadcast-capable IPv4 interface once, with its first address as
// the source, so that devices can answer the sender.
std::vector<BroadcastInterface> BroadcastInterfaces() {
    std::vector<BroadcastInterface> interfaces;
    for (const NetworkInterface& entry : ListIpv4Interfaces()) {
        if (!entry.up || !entry.broadcastCapable || entry.loopback || entry.index == 0) {
            continue;
        }
        bool seen = false;
        for (const BroadcastInterface& known : interfaces) {
            seen = seen || known.index == entry.index;
        }
        if (!seen) {
            interfaces.push_back(BroadcastInterface{entry.index, entry.address});
        }
    }
    return interfaces;
}

ssize_t SendOutOf(SocketHandle socket, const BroadcastInterface& interface, const uint8_t* data,
                  size_t length, uint16_t port, int flags) {
    return SendDatagramVia(socket, data, length, kLimitedBroadcast, port, flags, interface.index,
                           interface.address);
}

}  // namespace

ssize_t SendBroadcastDatagram(SocketHandle socket, const uint8_t* data, size_t length,
                              uint16_t port, int flags) {
    const ssize_t sent = SendDatagram(socket, data, length, kLimitedBroadcast, port, flags);
    if (sent >= 0 || LastSocketError() != SocketError::NetworkUnreachable) {
        return sent;
    }

    bool anySent = false;
    for (const BroadcastInterface& interface : BroadcastInterfaces()) {
        anySent = SendOutOf(socket, interface, data, length, port, flags) >= 0 || anySent;
    }
    return anySent ? static_cast<ssize_t>(length) : -1;
}

ssize_t SendBroadcastDatagramVia(SocketHandle socket, const uint8_t* data, size_t length,
                                 uint16_t port, int flags, unsigned interfaceIndex) {
    for (const BroadcastInterface& interface : BroadcastInterfaces()) {
        if (interface.index == interfaceIndex) {
            return SendOutOf(socket, interface, data, length, port, flags);
        }
    }
    return -1;
}
