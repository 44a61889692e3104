#include "platform/WakeUp.h"

// winsock2.h first: the headers below need its definitions.
#include <winsock2.h>

#include <windows.h>

#include <cstdint>
#include <initializer_list>

#include "platform/StopWakeWindows.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;  // 127.0.0.1
constexpr uint8_t kSignalByte = 1;

}  // namespace

// Connected to itself, the socket takes datagrams from nowhere else.
WakeUp::WakeUp() {
    const SocketHandle udp = OpenUdpSocket();
    uint16_t port = 0;
    if (udp == kNoSocket) {
        return;
    }
    if (!BindSocket(udp, kLoopback, 0) || !LocalPort(udp, &port) ||
        !StartConnect(udp, kLoopback, port) || !SetNonBlocking(udp, true)) {
        CloseSocket(udp);
        return;
    }
    descriptor_ = udp;
}

WakeUp::~WakeUp() {
    if (descriptor_ != kNoSocket) {
        CloseSocket(descriptor_);
    }
}

// A full receive buffer refuses the byte, but then enough are waiting.
void WakeUp::Signal() {
    if (descriptor_ != kNoSocket) {
        send(descriptor_, reinterpret_cast<const char*>(&kSignalByte), 1, 0);
    }
}

void WakeUp::Clear() {
    uint8_t taken[64];
    while (descriptor_ != kNoSocket &&
           recv(descriptor_, reinterpret_cast<char*>(taken), sizeof taken, 0) > 0) {
    }
}

WaitOutcome WaitReadableOrWoken(SocketHandle socket, const WakeUp* wake, int timeoutMs) {
    const SocketHandle wakeSocket = wake != nullptr ? wake->Descriptor() : kNoSocket;
    // A request to stop breaks the wait, as a signal breaks poll() on Linux.
    WakeUp* stop = StopRequestWake();
    const SocketHandle stopSocket = stop != nullptr ? stop->Descriptor() : kNoSocket;
    WaitOutcome outcome;
    if (socket == kNoSocket && wakeSocket == kNoSocket && stopSocket == kNoSocket) {
        // select() refuses empty sets; a wait on nothing is a sleep.
        Sleep(timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
        return outcome;
    }
    fd_set readable;
    FD_ZERO(&readable);
    for (const SocketHandle watched : {socket, wakeSocket, stopSocket}) {
        if (watched != kNoSocket) {
            FD_SET(watched, &readable);
        }
    }
    timeval limit{};
    limit.tv_sec = timeoutMs / 1000;
    limit.tv_usec = (timeoutMs % 1000) * 1000;
    if (select(0, &readable, nullptr, nullptr, timeoutMs < 0 ? nullptr : &limit) < 0) {
        outcome.failed = true;
        return outcome;
    }
    outcome.readable = socket != kNoSocket && FD_ISSET(socket, &readable);
    outcome.woken = wakeSocket != kNoSocket && FD_ISSET(wakeSocket, &readable);
    if (stopSocket != kNoSocket && FD_ISSET(stopSocket, &readable)) {
        // Taken here: a later wait waits again, as after EINTR on Linux.
        stop->Clear();
        outcome.woken = true;
    }
    return outcome;
}
