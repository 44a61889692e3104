#pragma once

// Helpers for the window tests of Set ID: a plain loopback listener that
// tells whether the tool connected, the fields of the "ZEK Only" panel, and
// the CPU time this process has used, to tell a wait from a busy loop.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QLineEdit>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "app/Unit1.h"

namespace setidtest {

// A TCP listener on 127.0.0.1 that accepts nothing by itself: the kernel
// queues whatever connects, so a test can tell whether the tool tried.
class Listener {
public:
    explicit Listener(uint16_t port = 0) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        socklen_t size = sizeof address;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            listen(fd_, 4) == 0 &&
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
            port_ = ntohs(address.sin_port);
        }
    }
    ~Listener() {
        if (peer_ >= 0) {
            close(peer_);
        }
        close(fd_);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    bool ok() const { return port_ != 0; }
    uint16_t port() const { return port_; }
    QString portText() const { return QString::number(port_); }

    // A connection is waiting to be accepted.
    bool Connected() const {
        pollfd entry{fd_, POLLIN, 0};
        return poll(&entry, 1, 0) == 1;
    }

    // Accepts the connection that comes within `limitMs`.
    bool Accept(int limitMs) {
        pollfd entry{fd_, POLLIN, 0};
        if (peer_ < 0 && poll(&entry, 1, limitMs) == 1) {
            peer_ = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        }
        return peer_ >= 0;
    }

    // Reads from the accepted connection until `count` bytes came, the peer
    // closed it, or `limitMs` passed without a byte.
    std::vector<uint8_t> Read(size_t count, int limitMs) {
        std::vector<uint8_t> bytes;
        while (peer_ >= 0 && bytes.size() < count) {
            pollfd entry{peer_, POLLIN, 0};
            uint8_t buffer[256];
            if (poll(&entry, 1, limitMs) != 1) {
                break;
            }
            const ssize_t got =
                recv(peer_, buffer, std::min(sizeof buffer, count - bytes.size()), 0);
            if (got <= 0) {
                break;
            }
            bytes.insert(bytes.end(), buffer, buffer + got);
        }
        return bytes;
    }

    // The peer closes the accepted connection within `limitMs`; whatever it
    // still sends is read and dropped.
    bool ClosedWithin(int limitMs) {
        while (peer_ >= 0) {
            pollfd entry{peer_, POLLIN, 0};
            uint8_t buffer[256];
            if (poll(&entry, 1, limitMs) != 1) {
                return false;
            }
            const ssize_t got = recv(peer_, buffer, sizeof buffer, 0);
            if (got == 0) {
                return true;
            }
            if (got < 0) {
                return false;
            }
        }
        return false;
    }

private:
    int fd_ = -1;
    int peer_ = -1;
    uint16_t port_ = 0;
};

// A port on 127.0.0.1 where nothing listens (the kernel refuses it).
inline uint16_t RefusingPort() {
    Listener probe;
    return probe.port();
}

inline void FillSetId(TForm1& form, const QString& ip, const QString& port, const QString& id) {
    form.Edit1->setText(ip);
    form.Edit4->setText(port);
    form.Edit5->setText(id);
}

// User and system time of this process so far, in milliseconds.
inline double ProcessCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

}  // namespace setidtest
