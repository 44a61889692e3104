#include "common/BroadcastSend.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

sockaddr_in BroadcastDestination(uint16_t port) {
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    destination.sin_port = htons(port);
    return destination;
}

struct BroadcastInterface {
    unsigned index;
    in_addr address;
};

// Each up, broadcast-capable IPv4 interface once, with its first address as
// the source, so that devices can answer the sender.
std::vector<BroadcastInterface> BroadcastInterfaces() {
    std::vector<BroadcastInterface> interfaces;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return interfaces;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        const unsigned flags = entry->ifa_flags;
        if ((flags & IFF_UP) == 0 || (flags & IFF_BROADCAST) == 0 || (flags & IFF_LOOPBACK) != 0) {
            continue;
        }
        const unsigned index = if_nametoindex(entry->ifa_name);
        if (index == 0) {
            continue;
        }
        bool seen = false;
        for (const BroadcastInterface& known : interfaces) {
            seen = seen || known.index == index;
        }
        if (!seen) {
            in_addr address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
            interfaces.push_back(BroadcastInterface{index, address});
        }
    }
    freeifaddrs(list);
    return interfaces;
}

ssize_t SendOutOf(int socket, const BroadcastInterface& interface, const uint8_t* data,
                  size_t length, const sockaddr_in& destination, int flags) {
    iovec payload{};
    payload.iov_base = const_cast<uint8_t*>(data);
    payload.iov_len = length;

    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_name = const_cast<sockaddr_in*>(&destination);
    message.msg_namelen = sizeof destination;
    message.msg_iov = &payload;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;

    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = static_cast<int>(interface.index);
    info.ipi_spec_dst = interface.address;
    std::memcpy(CMSG_DATA(header), &info, sizeof info);

    return sendmsg(socket, &message, flags);
}

}  // namespace

ssize_t SendBroadcastDatagram(int socket, const uint8_t* data, size_t length, uint16_t port,
                              int flags) {
    const sockaddr_in destination = BroadcastDestination(port);
    const ssize_t sent =
        sendto(socket, data, length, flags, reinterpret_cast<const sockaddr*>(&destination),
               sizeof destination);
    if (sent >= 0 || errno != ENETUNREACH) {
        return sent;
    }

    int lastError = ENETUNREACH;
    bool anySent = false;
    for (const BroadcastInterface& interface : BroadcastInterfaces()) {
        if (SendOutOf(socket, interface, data, length, destination, flags) >= 0) {
            anySent = true;
        } else {
            lastError = errno;
        }
    }
    if (anySent) {
        return static_cast<ssize_t>(length);
    }
    errno = lastError;
    return -1;
}

ssize_t SendBroadcastDatagramVia(int socket, const uint8_t* data, size_t length, uint16_t port,
                                 int flags, unsigned interfaceIndex) {
    for (const BroadcastInterface& interface : BroadcastInterfaces()) {
        if (interface.index == interfaceIndex) {
            return SendOutOf(socket, interface, data, length, BroadcastDestination(port), flags);
        }
    }
    errno = ENXIO;
    return -1;
}
