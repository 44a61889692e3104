#pragma once

// Helpers for the window tests of Set ID: the device's side of the
// connection, which tells whether the tool connected, the fields of the
// "ZEK Only" panel, and the CPU time this process has used, to tell a wait
// from a busy loop.

#include <sys/resource.h>

#include <unistd.h>

#include <QLineEdit>
#include <QString>

#include <cstdint>
#include <vector>

#include "app/Unit1.h"
#include "tests/support/TcpListener.h"

namespace setidtest {

// Timer1's ticks (100 ms each) that the status label stays for.
constexpr int kStatusTicks = 30;

// The device's side of a Set ID on 127.0.0.1: a listener that accepts
// nothing by itself (the kernel queues whatever connects, so a test can tell
// whether the tool tried), and the one connection a test accepts from it.
class Listener {
public:
    Listener() = default;
    ~Listener() {
        if (peer_ >= 0) {
            close(peer_);
        }
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    bool ok() const { return listener_.ok(); }
    uint16_t port() const { return listener_.Port(); }
    QString portText() const { return QString::number(listener_.Port()); }

    // A connection is waiting to be accepted.
    bool Connected() const { return listener_.Pending(); }

    // Accepts the connection that comes within `limitMs`.
    bool Accept(int limitMs) {
        if (peer_ < 0) {
            peer_ = listener_.Accept(limitMs, true);
        }
        return peer_ >= 0;
    }

    // Reads from the accepted connection until `count` bytes came, the peer
    // closed it, or `limitMs` passed without a byte.
    std::vector<uint8_t> Read(size_t count, int limitMs) {
        return peer_ >= 0 ? ReadExactly(peer_, count, limitMs) : std::vector<uint8_t>();
    }

    // The peer closes the accepted connection within `limitMs`; whatever it
    // still sends is read and dropped.
    bool ClosedWithin(int limitMs) { return peer_ >= 0 && ::ClosedWithin(peer_, limitMs); }

private:
    static constexpr int kBacklog = 4;
    TcpListener listener_{kBacklog};
    int peer_ = -1;
};

// A port on 127.0.0.1 where nothing listens (the kernel refuses it).
inline uint16_t RefusingPort() {
    return FreeLoopbackPort();
}

inline void FillSetId(TForm1& form, const QString& ip, const QString& port, const QString& id) {
    form.Edit1->setText(ip);
    form.Edit4->setText(port);
    form.Edit5->setText(id);
}

// Milliseconds of CPU, user and system, that this process has used so far.
inline double ProcessCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

}  // namespace setidtest
