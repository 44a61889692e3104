#pragma once

// The device's side of a TCP connection, for the tests, the soak and the
// benchmarks: a listening socket, and the few reads and writes a test makes
// on a connection it accepted.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Sockets.h"

class TcpListener {
public:
    static constexpr int kDefaultBacklog = 8;
    static constexpr int kDefaultAcceptMs = 5000;

    // On 127.0.0.1, at a port the kernel picks. The backlog is how many
    // connections the kernel takes before one is accepted; with 0, Linux
    // queues one and leaves further attempts unanswered.
    explicit TcpListener(int backlog = kDefaultBacklog);
    // On `address` (dotted IPv4) at `port`.
    TcpListener(const std::string& address, uint16_t port, int backlog = kDefaultBacklog);
    // A port on 127.0.0.1 that is held but not listened on: every connection
    // to it is refused for as long as the object lives.
    static TcpListener Refusing();

    ~TcpListener();
    TcpListener(TcpListener&& other) noexcept;
    TcpListener& operator=(TcpListener&&) = delete;
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Bound (and listening, unless Refusing).
    bool ok() const { return port_ != 0; }
    uint16_t Port() const { return port_; }
    SocketHandle Fd() const { return fd_; }

    // A connection waits to be accepted, now or within timeoutMs.
    bool Pending(int timeoutMs = 0) const;
    // The next connection (the caller closes it with CloseSocket), or
    // kNoSocket when none comes within timeoutMs.
    SocketHandle Accept(int timeoutMs = kDefaultAcceptMs, bool nonBlocking = false) const;

private:
    TcpListener(const std::string& address, uint16_t port, int backlog, bool listening);

    SocketHandle fd_ = kNoSocket;
    uint16_t port_ = 0;
};

// A port on 127.0.0.1 that nothing uses at the moment of asking.
uint16_t FreeLoopbackPort();

// The socket becomes ready for `events` (kSocketReadable, kSocketWritable)
// within timeoutMs.
bool WaitFor(SocketHandle fd, unsigned events, int timeoutMs);
// Sends every byte (without SIGPIPE); false when the peer is gone.
bool SendAll(SocketHandle fd, const std::vector<uint8_t>& bytes);
// Reads exactly `count` bytes, or fewer when the peer closes or nothing
// comes for idleMs.
std::vector<uint8_t> ReadExactly(SocketHandle fd, size_t count,
                                 int idleMs = TcpListener::kDefaultAcceptMs);
// The peer closes the connection within limitMs; whatever it still sends is
// read and dropped.
bool ClosedWithin(SocketHandle fd, int limitMs);
