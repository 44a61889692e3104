#pragma once

#include "platform/Sockets.h"

// A wake-up that worker threads give and one waiting thread watches
// together with a socket. Signals given before the watcher looks are not
// lost; Clear takes back all of them at once.
//
// Linux: an eventfd. Windows: a UDP socket on 127.0.0.1 that sends itself
// one byte per signal. select() on Windows watches sockets only, and with a
// socket for the wake-up the wait stays one readiness wait over two
// sockets, as poll() over two descriptors is on Linux; an event object
// would need WSAEventSelect, which switches the watched socket to
// non-blocking mode and signals a datagram once rather than while it waits.
class WakeUp {
public:
    WakeUp();
    ~WakeUp();
    WakeUp(const WakeUp&) = delete;
    WakeUp& operator=(const WakeUp&) = delete;

    // False when the system refused what the wake-up needs; then Signal does
    // nothing and a wait never sees it.
    bool ok() const { return descriptor_ != kNoSocket; }
    // From any thread.
    void Signal();
    void Clear();

    // Readable while a signal waits: what poll() or select() watches.
    SocketHandle Descriptor() const { return descriptor_; }

private:
    SocketHandle descriptor_ = kNoSocket;
};

// What ended a WaitReadableOrWoken; none of them set: the time passed.
struct WaitOutcome {
    bool readable = false;  // the socket has something to read, or an error to tell
    bool woken = false;     // the wake-up was signalled, or a signal arrived (EINTR)
    bool failed = false;    // the wait itself failed
};

// Waits until `socket` is readable, `wake` is signalled or `timeoutMs` pass
// (-1: no limit). Either may be left out: kNoSocket, null. The wake-up is
// not cleared: the caller does that when it takes what it was woken for.
WaitOutcome WaitReadableOrWoken(SocketHandle socket, const WakeUp* wake, int timeoutMs);
