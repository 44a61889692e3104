#include "platform/Sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

sockaddr_in Ipv4(uint32_t address, uint16_t port) {
    sockaddr_in ipv4{};
    ipv4.sin_family = AF_INET;
    ipv4.sin_addr.s_addr = htonl(address);
    ipv4.sin_port = htons(port);
    return ipv4;
}

int SendFlags(int flags) {
    return (flags & kSendDontRoute) != 0 ? MSG_DONTROUTE : 0;
}

}  // namespace

SocketError LastSocketError() {
    switch (errno) {
        case 0:
            return SocketError::None;
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
            return SocketError::WouldBlock;
        case EINTR:
            return SocketError::Interrupted;
        case ENETUNREACH:
            return SocketError::NetworkUnreachable;
        case EMSGSIZE:
            return SocketError::MessageTooLong;
        default:
            return SocketError::Other;
    }
}

SocketHandle OpenUdpSocket() {
    return socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

SocketHandle OpenTcpSocket() {
    return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

void CloseSocket(SocketHandle socket) {
    // A retried close() on Linux could close a descriptor that another
    // thread has just been given, so close once whatever it says.
    close(socket);
}

bool SetSocketOption(SocketHandle socket, SocketOption option, int value) {
    int level = SOL_SOCKET;
    int name = 0;
    switch (option) {
        case SocketOption::Broadcast:
            name = SO_BROADCAST;
            break;
        case SocketOption::DontRoute:
            name = SO_DONTROUTE;
            break;
        case SocketOption::ReceiveBuffer:
            name = SO_RCVBUF;
            break;
        case SocketOption::PacketInfo:
            level = IPPROTO_IP;
            name = IP_PKTINFO;
            break;
        case SocketOption::ReuseAddress:
            name = SO_REUSEADDR;
            break;
    }
    return setsockopt(socket, level, name, &value, sizeof value) == 0;
}

bool SetNonBlocking(SocketHandle socket, bool on) {
    const int flags = fcntl(socket, F_GETFL);
    return flags >= 0 && fcntl(socket, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) == 0;
}

bool ParseDottedAddress(const char* text, uint32_t* address) {
    const in_addr_t converted = inet_addr(text);
    if (converted == INADDR_NONE) {
        return false;
    }
    *address = ntohl(converted);
    return true;
}

bool BindSocket(SocketHandle socket, uint32_t address, uint16_t port) {
    const sockaddr_in local = Ipv4(address, port);
    return bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
}

bool LocalPort(SocketHandle socket, uint16_t* port) {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        return false;
    }
    *port = ntohs(local.sin_port);
    return true;
}

bool ListenSocket(SocketHandle socket, int backlog) {
    return listen(socket, backlog) == 0;
}

SocketHandle AcceptConnection(SocketHandle listener, bool nonBlocking) {
    return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0));
}

bool StartConnect(SocketHandle socket, uint32_t address, uint16_t port) {
    const sockaddr_in peer = Ipv4(address, port);
    return connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0 ||
           errno == EINPROGRESS || errno == EINTR;
}

int ConnectError(SocketHandle socket) {
    int error = 0;
    socklen_t errorSize = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &errorSize) != 0) {
        return -1;
    }
    return error;
}

int WaitSocket(SocketHandle socket, unsigned events, int timeoutMs) {
    pollfd watch{socket, 0, 0};
    watch.events = static_cast<short>(((events & kSocketReadable) != 0 ? POLLIN : 0) |
                                      ((events & kSocketWritable) != 0 ? POLLOUT : 0));
    const int ready = poll(&watch, 1, timeoutMs);
    if (ready <= 0) {
        return ready;
    }
    return ((watch.revents & POLLIN) != 0 ? kSocketReadable : 0) |
           ((watch.revents & POLLOUT) != 0 ? kSocketWritable : 0) |
           ((watch.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 ? kSocketFailed : 0);
}

ssize_t SendStream(SocketHandle socket, const uint8_t* data, size_t length, bool dontWait) {
    return send(socket, data, length, MSG_NOSIGNAL | (dontWait ? MSG_DONTWAIT : 0));
}

ssize_t ReceiveStream(SocketHandle socket, uint8_t* buffer, size_t size, bool dontWait) {
    return recv(socket, buffer, size, dontWait ? MSG_DONTWAIT : 0);
}

ssize_t SendDatagram(SocketHandle socket, const uint8_t* data, size_t length, uint32_t address,
                     uint16_t port, int flags) {
    const sockaddr_in destination = Ipv4(address, port);
    return sendto(socket, data, length, SendFlags(flags),
                  reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
}

ssize_t SendDatagramVia(SocketHandle socket, const uint8_t* data, size_t length, uint32_t address,
                        uint16_t port, int flags, unsigned interfaceIndex, uint32_t source) {
    sockaddr_in destination = Ipv4(address, port);
    iovec payload{};
    payload.iov_base = const_cast<uint8_t*>(data);
    payload.iov_len = length;

    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_name = &destination;
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
    info.ipi_ifindex = static_cast<int>(interfaceIndex);
    info.ipi_spec_dst.s_addr = htonl(source);
    std::memcpy(CMSG_DATA(header), &info, sizeof info);

    return sendmsg(socket, &message, SendFlags(flags));
}

ssize_t ReceiveDatagram(SocketHandle socket, uint8_t* buffer, size_t size, bool dontWait,
                        unsigned* interfaceIndex) {
    iovec payload{buffer, size};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_iov = &payload;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t length = recvmsg(socket, &message, (dontWait ? MSG_DONTWAIT : 0) | MSG_TRUNC);
    if (interfaceIndex != nullptr) {
        *interfaceIndex = 0;
    }
    if (length < 0) {
        return -1;
    }
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (interfaceIndex != nullptr && header->cmsg_level == IPPROTO_IP &&
            header->cmsg_type == IP_PKTINFO) {
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
