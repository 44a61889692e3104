#include "setup/SendSetupRequest.h"
#include "setup/SetupSocket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "common/BroadcastSend.h"
#include "common/ScopeExit.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kOptionOn = 1;
constexpr long kMicrosecondsPerMillisecond = 1000;
constexpr long kMillisecondsPerSecond = 1000;

bool SetOption(int fd, int option) {
    return setsockopt(fd, SOL_SOCKET, option, &kOptionOn, sizeof kOptionOn) == 0;
}

// Waits for the device's confirmation. Each wait lasts the full reply wait
// (select rewrites its time-out on Linux, so it is set again every time), but
// none reaches past `deadline`.
int AwaitConfirmation(int fd, const SetupRequest& request, Clock::time_point deadline) {
    if (request.ReplyWaitSeconds < 0 || fd >= FD_SETSIZE) {
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

        timeval timeout{};
        timeout.tv_sec = static_cast<time_t>(wait.count() / kMillisecondsPerSecond);
        timeout.tv_usec = static_cast<suseconds_t>((wait.count() % kMillisecondsPerSecond) *
                                                   kMicrosecondsPerMillisecond);
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        const int ready = select(fd + 1, &readable, nullptr, nullptr, &timeout);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return kSetupWaitFailed;
        }
        if (ready == 0 || !FD_ISSET(fd, &readable)) {
            return cutByDeadline ? kSetupWaitCapReached : kSetupNoReply;
        }

        uint8_t buffer[kSetupReplyBufferSize] = {};
        // MSG_TRUNC makes the result the datagram's full length, so one that
        // did not fit is seen and refused instead of read cut short.
        const ssize_t received = recvfrom(fd, buffer, sizeof buffer, MSG_TRUNC, nullptr, nullptr);
        if (ClassifySetupReply(buffer, static_cast<long>(received), request.Mac) ==
            SetupReplyVerdict::Confirms) {
            return kSetupSuccess;
        }
    }
}

}  // namespace

int OpenSetupSocket(bool broadcast) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return kSetupSocketFailed;
    }
    ScopeExit closeSocket([fd] { close(fd); });
    if (broadcast) {
        if (!SetOption(fd, SO_BROADCAST)) {
            return kSetupBroadcastOptionFailed;
        }
        if (!SetOption(fd, SO_DONTROUTE)) {
            return kSetupDontRouteOptionFailed;
        }
    }

    // No address reuse: while anything else holds the port, the bind fails.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(kDeviceUdpPort);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        return kSetupBindFailed;
    }
    closeSocket.Release();
    return fd;
}

int PrepareSetupDatagram(const SetupRequest& request, uint8_t (&datagram)[kSetupDatagramLength],
                         sockaddr_in* destination) {
    *destination = sockaddr_in{};
    destination->sin_family = AF_INET;
    destination->sin_port = htons(kDeviceUdpPort);
    if (request.Broadcast != 0) {
        destination->sin_addr.s_addr = htonl(INADDR_BROADCAST);
    } else {
        // inet_addr gives all ones for a text it cannot read; a direct setup
        // must not turn into a broadcast because of that.
        uint32_t current = 0;
        if (!AddressTextTerminated(request.CurrentIp)) {
            return kSetupAddressTextUnterminated;
        }
        if (!ConvertAddressText(request.CurrentIp, current)) {
            return kSetupCurrentIpRefused;
        }
        destination->sin_addr.s_addr = htonl(current);
    }
    for (const auto* field : {&request.NewIp, &request.NewMask, &request.NewGateway}) {
        if (!AddressTextTerminated(*field)) {
            return kSetupAddressTextUnterminated;
        }
    }
    return BuildSetupDatagram(request, datagram);
}

bool SendSetupDatagram(int fd, const uint8_t (&datagram)[kSetupDatagramLength], bool broadcast,
                       const sockaddr_in& destination) {
    const ssize_t sent =
        broadcast
            ? SendBroadcastDatagram(fd, datagram, sizeof datagram, kDeviceUdpPort, MSG_DONTROUTE)
            : sendto(fd, datagram, sizeof datagram, MSG_DONTROUTE,
                     reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
    return sent == static_cast<ssize_t>(sizeof datagram);
}

int SendSetupRequest(const SetupRequest& request, uint32_t overallCapMs) {
    const bool broadcast = request.Broadcast != 0;
    const int fd = OpenSetupSocket(broadcast);
    if (fd < 0) {
        return fd;
    }
    const ScopeExit closeSocket([fd] { close(fd); });

    uint8_t datagram[kSetupDatagramLength];
    sockaddr_in destination{};
    const int prepared = PrepareSetupDatagram(request, datagram, &destination);
    if (prepared != kSetupDatagramBuilt) {
        return prepared;
    }
    if (!SendSetupDatagram(fd, datagram, broadcast, destination)) {
        return kSetupSendFailed;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(overallCapMs);
    return AwaitConfirmation(fd, request, deadline);
}
