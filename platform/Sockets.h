#pragma once

// The IPv4 sockets of the core, with one meaning on Linux and on Windows.
// Addresses are host byte order throughout. Every call that fails leaves its
// reason for LastSocketError(); nothing raises or shows anything. The socket
// library is started on the first socket opened (WSAStartup on Windows,
// nothing on Linux) and left to the process's end, so no caller has to keep
// its start and release in order with its sockets.

#include <cstddef>
#include <cstdint>

#include "platform/SignedSize.h"

#ifdef _WIN32
// Winsock's SOCKET and INVALID_SOCKET, without its header.
using SocketHandle = std::uintptr_t;
constexpr SocketHandle kNoSocket = ~SocketHandle{0};
#else
using SocketHandle = int;
constexpr SocketHandle kNoSocket = -1;
#endif

// The reasons a socket call failed that callers tell apart; the system's
// code (errno, WSAGetLastError) mapped.
enum class SocketError {
    None,
    WouldBlock,          // a call that must not wait found nothing to do
    Interrupted,         // a signal ended a call or a wait early
    NetworkUnreachable,  // no route: for a broadcast, no default route
    MessageTooLong,      // a datagram longer than the receive buffer; it is gone
    Other,
};
SocketError LastSocketError();

SocketHandle OpenUdpSocket();
SocketHandle OpenTcpSocket();
void CloseSocket(SocketHandle socket);

enum class SocketOption {
    Broadcast,      // SO_BROADCAST
    DontRoute,      // SO_DONTROUTE
    ReceiveBuffer,  // SO_RCVBUF, in bytes
    PacketInfo,     // IP_PKTINFO: each receive tells the interface it came in on
    ReuseAddress,   // SO_REUSEADDR on Linux; nothing on Windows, where the option
                    // would let a second socket take a port that is in use
};
bool SetSocketOption(SocketHandle socket, SocketOption option, int value);
bool SetNonBlocking(SocketHandle socket, bool on);

// The dotted text the classic way (inet_addr), no name lookup. False for a
// text it cannot read and for 255.255.255.255, its failure value.
bool ParseDottedAddress(const char* text, uint32_t* address);

bool BindSocket(SocketHandle socket, uint32_t address, uint16_t port);
bool LocalPort(SocketHandle socket, uint16_t* port);
bool ListenSocket(SocketHandle socket, int backlog);
// The next connection waiting on `listener`; kNoSocket when none is.
SocketHandle AcceptConnection(SocketHandle listener, bool nonBlocking);

// Starts a connection on a non-blocking socket: true while it is on its way
// or already made; false for one that failed at once (no route, say).
bool StartConnect(SocketHandle socket, uint32_t address, uint16_t port);
// After the wait for a connect: 0 when it was made, otherwise the system's
// error code for it (SO_ERROR); -1 when that cannot be read.
int ConnectError(SocketHandle socket);

// What a readiness wait watches for and what it found.
constexpr unsigned kSocketReadable = 1;
constexpr unsigned kSocketWritable = 2;
// An error or a hang-up: POLLERR, POLLHUP or POLLNVAL on Linux, the
// exception set on Windows (where a refused connect shows). Reported whether
// asked for or not.
constexpr unsigned kSocketFailed = 4;

// Waits until `socket` is ready for one of `events`, or `timeoutMs` pass
// (-1: no limit). Returns what it found (never 0), 0 when the time passed,
// or -1 when the wait failed (LastSocketError Interrupted after a signal).
int WaitSocket(SocketHandle socket, unsigned events, int timeoutMs);

// A stream's bytes. Sending never raises SIGPIPE. With `dontWait` a call
// that would wait fails at once with WouldBlock instead. -1 on failure; a
// receive returns 0 when the peer closed.
ssize_t SendStream(SocketHandle socket, const uint8_t* data, size_t length, bool dontWait);
ssize_t ReceiveStream(SocketHandle socket, uint8_t* buffer, size_t size, bool dontWait);

// Send flag of datagrams: reach only hosts on a directly attached network.
constexpr int kSendDontRoute = 1;

ssize_t SendDatagram(SocketHandle socket, const uint8_t* data, size_t length, uint32_t address,
                     uint16_t port, int flags);
// The same, out of interface `interfaceIndex` with `source` as the sender's
// address, whatever the routes say: IP_PKTINFO with sendmsg on Linux,
// IN_PKTINFO with WSASendMsg on Windows. Needs no privileges.
ssize_t SendDatagramVia(SocketHandle socket, const uint8_t* data, size_t length, uint32_t address,
                        uint16_t port, int flags, unsigned interfaceIndex, uint32_t source);
// Receives one datagram. Returns its length, or -1 for a failed receive and
// for a datagram longer than the buffer (MessageTooLong; Linux would cut it
// silently, so it is received with MSG_TRUNC and refused). Where
// `interfaceIndex` is not null, it is set to the interface the datagram came
// in on when the socket was asked to tell (PacketInfo), and to 0 otherwise.
ssize_t ReceiveDatagram(SocketHandle socket, uint8_t* buffer, size_t size, bool dontWait,
                        unsigned* interfaceIndex);
