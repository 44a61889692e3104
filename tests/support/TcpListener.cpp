#include "tests/support/TcpListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr char kLoopbackAddress[] = "127.0.0.1";

}  // namespace

TcpListener::TcpListener(int backlog) : TcpListener(kLoopbackAddress, 0, backlog, true) {}

TcpListener::TcpListener(const std::string& address, uint16_t port, int backlog)
    : TcpListener(address, port, backlog, true) {}

TcpListener TcpListener::Refusing() {
    return TcpListener(kLoopbackAddress, 0, 0, false);
}

TcpListener::TcpListener(const std::string& address, uint16_t port, int backlog, bool listening) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        return;
    }
    // A fixed port must be taken again at once when a run is repeated.
    const int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    socklen_t size = sizeof local;
    if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) == 1 &&
        bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
        (!listening || listen(fd_, backlog) == 0) &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size) == 0) {
        port_ = ntohs(local.sin_port);
    }
}

TcpListener::~TcpListener() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

TcpListener::TcpListener(TcpListener&& other) noexcept : fd_(other.fd_), port_(other.port_) {
    other.fd_ = -1;
    other.port_ = 0;
}

bool TcpListener::Pending(int timeoutMs) const {
    return WaitFor(fd_, POLLIN, timeoutMs);
}

int TcpListener::Accept(int timeoutMs, int flags) const {
    if (!Pending(timeoutMs)) {
        return -1;
    }
    return accept4(fd_, nullptr, nullptr, flags);
}

uint16_t FreeLoopbackPort() {
    return TcpListener::Refusing().Port();
}

bool WaitFor(int fd, short events, int timeoutMs) {
    pollfd watch{fd, events, 0};
    return poll(&watch, 1, timeoutMs) == 1;
}

bool SendAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::vector<uint8_t> ReadExactly(int fd, size_t count, int idleMs) {
    std::vector<uint8_t> bytes(count);
    size_t got = 0;
    while (got < count && WaitFor(fd, POLLIN, idleMs)) {
        const ssize_t n = recv(fd, bytes.data() + got, count - got, 0);
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

bool ClosedWithin(int fd, int limitMs) {
    while (WaitFor(fd, POLLIN, limitMs)) {
        uint8_t buffer[256];
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            return got == 0;
        }
    }
    return false;
}
