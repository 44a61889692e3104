#include "discovery/DiscoverDevices.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "common/BroadcastSend.h"
#include "common/ScopeExit.h"
#include "discovery/DeviceTable.h"
#include "discovery/DiscoveryDatagram.h"
#include "discovery/DiscoveryReplyStore.h"
#include "discovery/DiscoverySocket.h"
#include "platform/Sockets.h"
#include "platform/Tick.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMicrosecondsPerMillisecond = 1000;

// Rounded up: a wait must never end before its full period (rounding down
// turned the 0.4 s wait into 399 ms).
int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

// Waits up to `waitMs` for something to read. A signal does not end the wait
// early: it goes on for what is left of it.
bool WaitReadable(SocketHandle socket, int waitMs) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const int ready = WaitSocket(socket, kSocketReadable, MillisecondsLeft(end));
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || LastSocketError() != SocketError::Interrupted) {
            return false;
        }
    }
}

}  // namespace

int DiscoverDevices(uint8_t* table, size_t capacity, int firstWaitSeconds, int timeLimitMs,
                    const DiscoveryOptions& options) {
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(std::max(0, timeLimitMs));

    // Only a caller that asks where replies come in pays for being told.
    SocketHandle udp = kNoSocket;
    const int opened = OpenDiscoverySocket(
        options.interfaceIndex != 0 || options.replyInterfaces != nullptr, &udp);
    if (opened != 0) {
        return opened;
    }
    const ScopeExit closeSocket([udp] { CloseSocket(udp); });

    uint8_t request[kDiscoveryRequestLength];
    BuildDiscoveryRequest(request);
    const ssize_t sent =
        options.interfaceIndex == 0
            ? SendBroadcastDatagram(udp, request, sizeof request, kDeviceUdpPort, 0)
            : SendBroadcastDatagramVia(udp, request, sizeof request, kDeviceUdpPort, 0,
                                       options.interfaceIndex);
    if (sent < 0) {
        return kDiscoverSendFailed;
    }

    // Wide enough for any first wait; no wait outlasts the time limit anyway.
    int64_t waitMs = static_cast<int64_t>(std::max(0, firstWaitSeconds)) * kMillisecondsPerSecond;
    size_t writePosition = ResetDeviceTable(table);
    uint8_t datagram[kLargestReplyRead];
    for (;;) {
        // Checked apart from the wait: a flood keeps a zero-length wait
        // readable for ever.
        const int64_t leftMs = MillisecondsLeft(deadline);
        if (leftMs <= 0 || !WaitReadable(udp, static_cast<int>(std::min(waitMs, leftMs)))) {
            break;
        }
        unsigned arrivedOn = 0;
        std::memset(datagram, 0, sizeof datagram);
        const ssize_t length = ReceiveDatagram(udp, datagram, sizeof datagram, false, &arrivedOn);
        // A reply on another interface than the one asked is no answer to
        // this request.
        if (options.interfaceIndex != 0 && arrivedOn != options.interfaceIndex) {
            continue;
        }
        switch (StoreDiscoveryDatagram(table, capacity, &writePosition, datagram, length)) {
            case DiscoveryDatagramOutcome::Skipped:
                continue;
            case DiscoveryDatagramOutcome::TableFull:
                return kDiscoverTableFull;
            case DiscoveryDatagramOutcome::Stored:
                if (options.replyInterfaces != nullptr) {
                    options.replyInterfaces[DeviceTableCount(table) - 1] = arrivedOn;
                }
                waitMs = kReplyWaitMicroseconds / kMicrosecondsPerMillisecond;
                break;
        }
    }
    return static_cast<int>(DeviceTableCount(table));
}
