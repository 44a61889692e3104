#include "setup/SendSetupRequest.h"
#include "setup/SetupSocket.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>

#include "common/BroadcastSend.h"
#include "common/ScopeExit.h"
#include "platform/Tick.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kOptionOn = 1;

// Waits for the device's confirmation. Each wait lasts the full reply wait
// (the time-out is worked out afresh for every wait), but none reaches past
// `deadline`.
int AwaitConfirmation(SocketHandle socket, const SetupRequest& request,
                      Clock::time_point deadline) {
    if (request.ReplyWaitSeconds < 0) {
        return kSetupWaitFailed;
    }
    const auto fullWait = std::chrono::milliseconds(static_cast<int64_t>(request.ReplyWaitSeconds) *
                                                    kMillisecondsPerSecond);
    for (;;) {
        const auto now = Clock::now();
        if (now >= deadline) {
            return kSetupWaitCapReached;
        }
        const auto untilDeadline = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        const bool cutByDeadline = untilDeadline < fullWait;
        const auto wait = cutByDeadline ? untilDeadline : fullWait;

        const int ready = WaitSocket(socket, kSocketReadable,
                                     static_cast<int>(std::min<int64_t>(wait.count(), INT_MAX)));
        if (ready < 0) {
            if (LastSocketError() == SocketError::Interrupted) {
                continue;
            }
            return kSetupWaitFailed;
        }
        if (ready == 0) {
            return cutByDeadline ? kSetupWaitCapReached : kSetupNoReply;
        }

        uint8_t buffer[kSetupReplyBufferSize] = {};
        // A datagram that did not fit is refused (-1) instead of read cut
        // short.
        const ssize_t received = ReceiveDatagram(socket, buffer, sizeof buffer, false, nullptr);
        if (ClassifySetupReply(buffer, static_cast<long>(received), request.Mac) ==
            SetupReplyVerdict::Confirms) {
            return kSetupSuccess;
        }
    }
}

}  // namespace

int OpenSetupSocket(bool broadcast, SocketHandle* socket) {
    const SocketHandle udp = OpenUdpSocket();
    if (udp == kNoSocket) {
        return kSetupSocketFailed;
    }
    ScopeExit closeSocket([udp] { CloseSocket(udp); });
    if (broadcast) {
        if (!SetSocketOption(udp, SocketOption::Broadcast, kOptionOn)) {
            return kSetupBroadcastOptionFailed;
        }
        if (!SetSocketOption(udp, SocketOption::DontRoute, kOptionOn)) {
            return kSetupDontRouteOptionFailed;
        }
    }

    // No address reuse: while anything else holds the port, the bind fails.
    if (!BindSocket(udp, kAnyAddress, kDeviceUdpPort)) {
        return kSetupBindFailed;
    }
    closeSocket.Release();
    *socket = udp;
    return 0;
}

int PrepareSetupDatagram(const SetupRequest& request, uint8_t (&datagram)[kSetupDatagramLength],
                         uint32_t* destination) {
    *destination = kLimitedBroadcast;
    if (request.Broadcast == 0) {
        // inet_addr gives all ones for a text it cannot read; a direct setup
        // must not turn into a broadcast because of that.
        uint32_t current = 0;
        if (!AddressTextTerminated(request.CurrentIp)) {
            return kSetupAddressTextUnterminated;
        }
        if (!ConvertAddressText(request.CurrentIp, current)) {
            return kSetupCurrentIpRefused;
        }
        *destination = current;
    }
    for (const auto* field : {&request.NewIp, &request.NewMask, &request.NewGateway}) {
        if (!AddressTextTerminated(*field)) {
            return kSetupAddressTextUnterminated;
        }
    }
    return BuildSetupDatagram(request, datagram);
}

bool SendSetupDatagram(SocketHandle socket, const uint8_t (&datagram)[kSetupDatagramLength],
                       bool broadcast, uint32_t destination) {
    const ssize_t sent = broadcast ? SendBroadcastDatagram(socket, datagram, sizeof datagram,
                                                           kDeviceUdpPort, kSendDontRoute)
                                   : SendDatagram(socket, datagram, sizeof datagram, destination,
                                                  kDeviceUdpPort, kSendDontRoute);
    return sent == static_cast<ssize_t>(sizeof datagram);
}

int SendSetupRequest(const SetupRequest& request, uint32_t overallCapMs) {
    const bool broadcast = request.Broadcast != 0;
    SocketHandle udp = kNoSocket;
    const int opened = OpenSetupSocket(broadcast, &udp);
    if (opened != 0) {
        return opened;
    }
    const ScopeExit closeSocket([udp] { CloseSocket(udp); });

    uint8_t datagram[kSetupDatagramLength];
    uint32_t destination = 0;
    const int prepared = PrepareSetupDatagram(request, datagram, &destination);
    if (prepared != kSetupDatagramBuilt) {
        return prepared;
    }
    if (!SendSetupDatagram(udp, datagram, broadcast, destination)) {
        return kSetupSendFailed;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(overallCapMs);
    return AwaitConfirmation(udp, request, deadline);
}
