#include "platform/Sockets.h"

// winsock2.h first: the headers below need its definitions.
#include <winsock2.h>

#include <mswsock.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <climits>
#include <cstring>
#include <mutex>

static_assert(sizeof(SocketHandle) == sizeof(SOCKET), "SocketHandle holds a SOCKET");
static_assert(kNoSocket == INVALID_SOCKET, "kNoSocket is INVALID_SOCKET");

namespace {

constexpr WORD kWinsockVersion = MAKEWORD(2, 2);

// Started once, on the first socket; released by the process's end. A
// failed start leaves every later socket call failing on its own.
void StartSockets() {
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data{};
        WSAStartup(kWinsockVersion, &data);
    });
}

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

int ClampLength(size_t length) {
    return length > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

// Windows has no MSG_DONTWAIT: a call that must not wait looks first.
bool ReadyNow(SocketHandle socket, unsigned events) {
    const int ready = WaitSocket(socket, events, 0);
    if (ready == 0) {
        WSASetLastError(WSAEWOULDBLOCK);
    }
    return ready > 0;
}

// A socket made here is not handed to child processes (SOCK_CLOEXEC).
SocketHandle OpenSocket(int type, int protocol) {
    StartSockets();
    return WSASocketW(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
}

// WSARecvMsg is reached through the provider, not linked; the same for
// every IPv4 UDP socket.
LPFN_WSARECVMSG ReceiveMessageFunction(SOCKET socket) {
    static LPFN_WSARECVMSG function = nullptr;
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    if (function == nullptr) {
        GUID id = WSAID_WSARECVMSG;
        DWORD size = 0;
        WSAIoctl(socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function,
                 sizeof function, &size, nullptr, nullptr);
    }
    return function;
}

}  // namespace

SocketError LastSocketError() {
    switch (WSAGetLastError()) {
        case 0:
            return SocketError::None;
        case WSAEWOULDBLOCK:
            return SocketError::WouldBlock;
        case WSAEINTR:
            return SocketError::Interrupted;
        case WSAENETUNREACH:
            return SocketError::NetworkUnreachable;
        case WSAEMSGSIZE:
            return SocketError::MessageTooLong;
        default:
            return SocketError::Other;
    }
}

SocketHandle OpenUdpSocket() {
    const SocketHandle udp = OpenSocket(SOCK_DGRAM, IPPROTO_UDP);
    if (udp != kNoSocket) {
        // Otherwise an ICMP port-unreachable for an earlier send fails the
        // next receive with WSAECONNRESET, which Linux never reports on an
        // unconnected socket.
        BOOL report = FALSE;
        DWORD size = 0;
        WSAIoctl(udp, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &size, nullptr,
                 nullptr);
    }
    return udp;
}

SocketHandle OpenTcpSocket() {
    return OpenSocket(SOCK_STREAM, IPPROTO_TCP);
}

void CloseSocket(SocketHandle socket) {
    closesocket(socket);
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
            return true;
    }
    return setsockopt(socket, level, name, reinterpret_cast<const char*>(&value), sizeof value) ==
           0;
}

bool SetNonBlocking(SocketHandle socket, bool on) {
    u_long mode = on ? 1 : 0;
    return ioctlsocket(socket, FIONBIO, &mode) == 0;
}

bool ParseDottedAddress(const char* text, uint32_t* address) {
    const unsigned long converted = inet_addr(text);
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
    int size = sizeof local;
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
    const SocketHandle accepted = accept(listener, nullptr, nullptr);
    if (accepted == kNoSocket) {
        return kNoSocket;
    }
    SetHandleInformation(reinterpret_cast<HANDLE>(accepted), HANDLE_FLAG_INHERIT, 0);
    if (!SetNonBlocking(accepted, nonBlocking)) {
        closesocket(accepted);
        return kNoSocket;
    }
    return accepted;
}

bool StartConnect(SocketHandle socket, uint32_t address, uint16_t port) {
    const sockaddr_in peer = Ipv4(address, port);
    // A non-blocking connect on its way says WSAEWOULDBLOCK here, where
    // Linux says EINPROGRESS.
    return connect(socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0 ||
           WSAGetLastError() == WSAEWOULDBLOCK;
}

int ConnectError(SocketHandle socket) {
    int error = 0;
    int errorSize = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &errorSize) !=
        0) {
        return -1;
    }
    return error;
}

int WaitSocket(SocketHandle socket, unsigned events, int timeoutMs) {
    fd_set readable;
    fd_set writable;
    fd_set failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    if ((events & kSocketReadable) != 0) {
        FD_SET(socket, &readable);
    }
    if ((events & kSocketWritable) != 0) {
        FD_SET(socket, &writable);
    }
    // A refused non-blocking connect shows here, not as writable.
    FD_SET(socket, &failed);
    timeval limit{};
    limit.tv_sec = timeoutMs / 1000;
    limit.tv_usec = (timeoutMs % 1000) * 1000;
    const int ready = select(0, &readable, &writable, &failed, timeoutMs < 0 ? nullptr : &limit);
    if (ready <= 0) {
        return ready < 0 ? -1 : 0;
    }
    return (FD_ISSET(socket, &readable) ? kSocketReadable : 0) |
           (FD_ISSET(socket, &writable) ? kSocketWritable : 0) |
           (FD_ISSET(socket, &failed) ? kSocketFailed : 0);
}

ssize_t SendStream(SocketHandle socket, const uint8_t* data, size_t length, bool dontWait) {
    if (dontWait && !ReadyNow(socket, kSocketWritable)) {
        return -1;
    }
    const int sent = send(socket, reinterpret_cast<const char*>(data), ClampLength(length), 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

ssize_t ReceiveStream(SocketHandle socket, uint8_t* buffer, size_t size, bool dontWait) {
    if (dontWait && !ReadyNow(socket, kSocketReadable)) {
        return -1;
    }
    const int received = recv(socket, reinterpret_cast<char*>(buffer), ClampLength(size), 0);
    return received == SOCKET_ERROR ? -1 : received;
}

ssize_t SendDatagram(SocketHandle socket, const uint8_t* data, size_t length, uint32_t address,
                     uint16_t port, int flags) {
    const sockaddr_in destination = Ipv4(address, port);
    const int sent =
        sendto(socket, reinterpret_cast<const char*>(data), ClampLength(length), SendFlags(flags),
               reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
    return sent == SOCKET_ERROR ? -1 : sent;
}

ssize_t SendDatagramVia(SocketHandle socket, const uint8_t* data, size_t length, uint32_t address,
                        uint16_t port, int flags, unsigned interfaceIndex, uint32_t source) {
    sockaddr_in destination = Ipv4(address, port);
    WSABUF payload{};
    payload.buf = reinterpret_cast<char*>(const_cast<uint8_t*>(data));
    payload.len = static_cast<ULONG>(ClampLength(length));

    alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
    WSAMSG message{};
    message.name = reinterpret_cast<sockaddr*>(&destination);
    message.namelen = sizeof destination;
    message.lpBuffers = &payload;
    message.dwBufferCount = 1;
    message.Control.buf = control;
    message.Control.len = sizeof control;

    WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = WSA_CMSG_LEN(sizeof(IN_PKTINFO));
    IN_PKTINFO info{};
    info.ipi_ifindex = interfaceIndex;
    info.ipi_addr.s_addr = htonl(source);
    std::memcpy(WSA_CMSG_DATA(header), &info, sizeof info);

    // wine passes WSASendMsg's control data to no one, so without a default
    // route its send would fail; IP_UNICAST_IF it hands on to Linux, which
    // then sends a broadcast out of that interface. Windows takes both. Set
    // for this send alone: a plain send after it goes where the routes say.
    const DWORD networkOrderIndex = htonl(interfaceIndex);
    const bool pinned = setsockopt(socket, IPPROTO_IP, IP_UNICAST_IF,
                                   reinterpret_cast<const char*>(&networkOrderIndex),
                                   sizeof networkOrderIndex) == 0;
    DWORD sent = 0;
    const bool ok = WSASendMsg(socket, &message, static_cast<DWORD>(SendFlags(flags)), &sent,
                               nullptr, nullptr) == 0;
    if (pinned) {
        const int error = WSAGetLastError();
        const DWORD anyInterface = 0;
        setsockopt(socket, IPPROTO_IP, IP_UNICAST_IF, reinterpret_cast<const char*>(&anyInterface),
                   sizeof anyInterface);
        WSASetLastError(error);
    }
    return ok ? static_cast<ssize_t>(sent) : -1;
}

ssize_t ReceiveDatagram(SocketHandle socket, uint8_t* buffer, size_t size, bool dontWait,
                        unsigned* interfaceIndex) {
    if (interfaceIndex != nullptr) {
        *interfaceIndex = 0;
    }
    if (dontWait && !ReadyNow(socket, kSocketReadable)) {
        return -1;
    }
    const LPFN_WSARECVMSG receiveMessage = ReceiveMessageFunction(socket);
    if (receiveMessage == nullptr) {
        return -1;
    }
    sockaddr_in sender{};
    WSABUF payload{};
    payload.buf = reinterpret_cast<char*>(buffer);
    payload.len = static_cast<ULONG>(ClampLength(size));
    alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
    WSAMSG message{};
    message.name = reinterpret_cast<sockaddr*>(&sender);
    message.namelen = sizeof sender;
    message.lpBuffers = &payload;
    message.dwBufferCount = 1;
    message.Control.buf = control;
    message.Control.len = sizeof control;
    DWORD length = 0;
    // A datagram longer than the buffer fails with WSAEMSGSIZE, and is gone
    // from the socket as on Linux.
    if (receiveMessage(socket, &message, &length, nullptr, nullptr) != 0) {
        return -1;
    }
    if ((message.dwFlags & MSG_TRUNC) != 0) {
        WSASetLastError(WSAEMSGSIZE);
        return -1;
    }
    for (WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message); header != nullptr;
         header = WSA_CMSG_NXTHDR(&message, header)) {
        if (interfaceIndex != nullptr && header->cmsg_level == IPPROTO_IP &&
            header->cmsg_type == IP_PKTINFO) {
            IN_PKTINFO info{};
            std::memcpy(&info, WSA_CMSG_DATA(header), sizeof info);
            *interfaceIndex = static_cast<unsigned>(info.ipi_ifindex);
        }
    }
    return static_cast<ssize_t>(length);
}
