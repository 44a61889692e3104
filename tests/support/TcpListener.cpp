#include "tests/support/TcpListener.h"

namespace {

constexpr char kLoopbackAddress[] = "127.0.0.1";
constexpr int kOptionOn = 1;

}  // namespace

TcpListener::TcpListener(int backlog) : TcpListener(kLoopbackAddress, 0, backlog, true) {}

TcpListener::TcpListener(const std::string& address, uint16_t port, int backlog)
    : TcpListener(address, port, backlog, true) {}

TcpListener TcpListener::Refusing() {
    return TcpListener(kLoopbackAddress, 0, 0, false);
}

TcpListener::TcpListener(const std::string& address, uint16_t port, int backlog, bool listening) {
    fd_ = OpenTcpSocket();
    if (fd_ == kNoSocket) {
        return;
    }
    // A fixed port must be taken again at once when a run is repeated.
    SetSocketOption(fd_, SocketOption::ReuseAddress, kOptionOn);
    uint32_t local = 0;
    uint16_t bound = 0;
    if (ParseDottedAddress(address.c_str(), &local) && BindSocket(fd_, local, port) &&
        (!listening || ListenSocket(fd_, backlog)) && LocalPort(fd_, &bound)) {
        port_ = bound;
    }
}

TcpListener::~TcpListener() {
    if (fd_ != kNoSocket) {
        CloseSocket(fd_);
    }
}

TcpListener::TcpListener(TcpListener&& other) noexcept : fd_(other.fd_), port_(other.port_) {
    other.fd_ = kNoSocket;
    other.port_ = 0;
}

bool TcpListener::Pending(int timeoutMs) const {
    return WaitFor(fd_, kSocketReadable, timeoutMs);
}

SocketHandle TcpListener::Accept(int timeoutMs, bool nonBlocking) const {
    if (!Pending(timeoutMs)) {
        return kNoSocket;
    }
    return AcceptConnection(fd_, nonBlocking);
}

uint16_t FreeLoopbackPort() {
    return TcpListener::Refusing().Port();
}

bool WaitFor(SocketHandle fd, unsigned events, int timeoutMs) {
    return WaitSocket(fd, events, timeoutMs) > 0;
}

bool SendAll(SocketHandle fd, const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = SendStream(fd, bytes.data() + sent, bytes.size() - sent, false);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::vector<uint8_t> ReadExactly(SocketHandle fd, size_t count, int idleMs) {
    std::vector<uint8_t> bytes(count);
    size_t got = 0;
    while (got < count && WaitFor(fd, kSocketReadable, idleMs)) {
        const ssize_t n = ReceiveStream(fd, bytes.data() + got, count - got, false);
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

bool ClosedWithin(SocketHandle fd, int limitMs) {
    while (WaitFor(fd, kSocketReadable, limitMs)) {
        uint8_t buffer[256];
        const ssize_t got = ReceiveStream(fd, buffer, sizeof buffer, false);
        if (got <= 0) {
            return got == 0;
        }
    }
    return false;
}
