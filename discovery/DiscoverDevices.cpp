#include "discovery/DiscoverDevices.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "common/BroadcastSend.h"
#include "common/ScopeExit.h"
#include "discovery/DeviceTable.h"
#include "discovery/DiscoveryDatagram.h"
#include "discovery/DiscoveryReplyStore.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMicrosecondsPerMillisecond = 1000;
constexpr int kMillisecondsPerSecond = 1000;
constexpr int kSocketOptionOn = 1;

// Rounded up: a wait must never end before its full period (rounding down
// turned the 0.4 s wait into 399 ms).
int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

// Waits up to `waitMs` for something to read. A signal does not end the wait
// early: it goes on for what is left of it.
bool WaitReadable(int socket, int waitMs) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        pollfd entry{socket, POLLIN, 0};
        const int ready = poll(&entry, 1, MillisecondsLeft(end));
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

// One datagram into the cleared buffer; -1 for a failed receive and for a
// datagram longer than the buffer, which Linux would otherwise cut silently.
// `*interfaceIndex` is the interface it came in on, where the socket was
// asked to tell (IP_PKTINFO), and 0 otherwise.
ssize_t ReceiveDatagram(int socket, uint8_t (&buffer)[kLargestReplyRead],
                        unsigned* interfaceIndex) {
    std::memset(buffer, 0, sizeof buffer);
    iovec payload{buffer, sizeof buffer};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_iov = &payload;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t length = recvmsg(socket, &message, MSG_TRUNC);
    *interfaceIndex = 0;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(header), sizeof info);
            *interfaceIndex = static_cast<unsigned>(info.ipi_ifindex);
        }
    }
    if (length > static_cast<ssize_t>(sizeof buffer)) {
        return -1;
    }
    return length;
}

}  // namespace

int DiscoverDevices(uint8_t* table, size_t capacity, int firstWaitSeconds, int timeLimitMs,
                    const DiscoveryOptions& options) {
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(std::max(0, timeLimitMs));

    const int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (udp < 0) {
        return kDiscoverSocketFailed;
    }
    const ScopeExit closeSocket([udp] { close(udp); });

    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(kDeviceUdpPort);

    if (setsockopt(udp, SOL_SOCKET, SO_BROADCAST, &kSocketOptionOn, sizeof kSocketOptionOn) != 0) {
        return kDiscoverBroadcastOptionFailed;
    }
    if (setsockopt(udp, SOL_SOCKET, SO_DONTROUTE, &kSocketOptionOn, sizeof kSocketOptionOn) != 0) {
        return kDiscoverDontRouteOptionFailed;
    }
    // Best effort: a smaller buffer than asked for still works, only less well
    // under a burst.
    setsockopt(udp, SOL_SOCKET, SO_RCVBUF, &kDiscoveryReceiveBufferBytes,
               sizeof kDiscoveryReceiveBufferBytes);
    if (bind(udp, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        return kDiscoverBindFailed;
    }
    // Only a caller that asks where replies come in pays for being told.
    if (options.interfaceIndex != 0 || options.replyInterfaces != nullptr) {
        setsockopt(udp, IPPROTO_IP, IP_PKTINFO, &kSocketOptionOn, sizeof kSocketOptionOn);
    }

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
        const ssize_t length = ReceiveDatagram(udp, datagram, &arrivedOn);
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
