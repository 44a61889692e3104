#include "common/ReceiveDatagram.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

ssize_t ReceiveDatagram(int socket, uint8_t* buffer, size_t size, int flags,
                        unsigned* interfaceIndex) {
    iovec payload{buffer, size};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_iov = &payload;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t length = recvmsg(socket, &message, flags | MSG_TRUNC);
    *interfaceIndex = 0;
    if (length < 0) {
        return -1;
    }
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(header), sizeof info);
            *interfaceIndex = static_cast<unsigned>(info.ipi_ifindex);
        }
    }
    if (length > static_cast<ssize_t>(size)) {
        errno = EMSGSIZE;
        return -1;
    }
    return length;
}
