// The TCP transport: a non-blocking IPv4 stream socket to HostAddress:HostPort.
// Its waits for a reply (and for room to send) keep the window live through
// the channel's ChannelEvents hook; without a hook they wait with poll().
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "channel/COM_Class.h"
#include "channel/ChannelEvents.h"
#include "channel/ChannelResult.h"
#include "channel/Tick.h"
#include "channel/Transport.h"
#include "common/ScopeExit.h"

namespace {

constexpr int kNoSocket = -1;
// One receive call takes at most as much as one reply can carry.
constexpr std::size_t kReceiveChunk = kMaxReplyData;
// While a send waits for room, queued window events run at least this often.
constexpr int kSendWaitSliceMs = 50;

int ClampToInt(uint64_t ms) {
    return ms > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(ms);
}

bool WouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

// Waits for the pending connect; 0 when connected, else the Open code.
int AwaitConnect(int fd, uint32_t timeoutMs) {
    const uint64_t start = TickMs();
    pollfd watch{};
    for (;;) {
        const uint64_t elapsed = ElapsedMs(start, TickMs());
        const uint64_t remaining = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
        watch = pollfd{fd, POLLOUT, 0};
        const int ready = poll(&watch, 1, ClampToInt(remaining));
        if (ready > 0) {
            break;
        }
        if (ready < 0 && errno != EINTR) {
            return kTcpConnectTimeout;
        }
        if (remaining == 0) {
            return kTcpConnectTimeout;
        }
    }
    // A refused connect shows on Linux as writable with SO_ERROR set, not as
    // an exceptional condition; without this test it would pass as open.
    int error = 0;
    socklen_t errorSize = sizeof(error);
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorSize) != 0 || error != 0 ||
        (watch.revents & (POLLERR | POLLHUP)) != 0) {
        return kTcpConnectFailed;
    }
    if ((watch.revents & POLLOUT) == 0) {
        return kTcpNotWritable;
    }
    return kChannelOk;
}

int OpenTcp(COM_Class& channel, uint32_t timeoutMs) {
    // The same conversion as a setup's addresses: no name lookup, and a
    // text that does not fit the field is not cut to fit.
    uint32_t address = 0;
    if (!ConvertAddressText(channel.HostAddress, address)) {
        return kTcpBadAddress;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return kTcpNoSocket;
    }
    // Every failing step lets go of the socket; a connected one is kept.
    ScopeExit closeSocket([fd] { close(fd); });
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        return kTcpNonBlocking;
    }

    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(channel.HostPort);
    peer.sin_addr.s_addr = htonl(address);
    // A connect that fails at once (no route, say) leaves no error behind for
    // the wait to find, so it is taken as the failed attempt it is.
    if (connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof(peer)) != 0 &&
        errno != EINPROGRESS && errno != EINTR) {
        return kTcpConnectFailed;
    }
    const int connected = AwaitConnect(fd, timeoutMs);
    if (connected != kChannelOk) {
        return connected;
    }
    closeSocket.Release();
    channel.Socket = fd;
    channel.SocketOpen = 1;
    return kChannelOk;
}

void CloseTcp(COM_Class& channel) {
    if (channel.Socket != kNoSocket) {
        close(channel.Socket);
    }
    channel.Socket = kNoSocket;
    channel.SocketOpen = 0;
}

int DrainTcp(COM_Class& channel, uint32_t timeoutMs) {
    if (!channel.SocketOpen) {
        return kSocketError;
    }
    // A peer that never stops sending would hold the drain for ever; after
    // the transaction's time-out the request would only drown in the stream.
    const uint64_t start = TickMs();
    for (;;) {
        const ssize_t received =
            recv(channel.Socket, channel.ReplyData, kReceiveChunk, MSG_DONTWAIT);
        if (received > 0) {
            if (TimeoutPassed(start, TickMs(), timeoutMs)) {
                return kReceiveTimeout;
            }
            continue;
        }
        if (received == 0) {
            return kPeerClosed;
        }
        if (errno == EINTR) {
            continue;
        }
        return WouldBlock(errno) ? kChannelOk : kSocketError;
    }
}

void RunQueuedEvents(COM_Class& channel) {
    if (channel.Events != nullptr) {
        channel.Events->RunQueuedEvents();
    }
}

void WaitReadable(COM_Class& channel, uint64_t timeoutMs) {
    if (channel.Events != nullptr) {
        channel.Events->WaitReadable(channel.Socket, ClampToInt(timeoutMs));
        return;
    }
    pollfd watch{channel.Socket, POLLIN, 0};
    poll(&watch, 1, ClampToInt(timeoutMs));
}

int SendTcp(COM_Class& channel, const uint8_t* frame, uint32_t length, uint32_t timeoutMs) {
    if (!channel.SocketOpen) {
        return kSocketError;
    }
    // The socket may take the frame in parts; a frame cut short would be
    // worse than none, so the rest follows as room appears.
    const uint64_t start = TickMs();
    uint32_t sent = 0;
    while (sent < length) {
        const ssize_t taken =
            send(channel.Socket, frame + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (taken > 0) {
            sent += static_cast<uint32_t>(taken);
            continue;
        }
        if (taken < 0 && errno == EINTR) {
            continue;
        }
        if (taken < 0 && !WouldBlock(errno)) {
            return kSocketError;
        }
        const uint64_t now = TickMs();
        if (TimeoutPassed(start, now, timeoutMs)) {
            return kReceiveTimeout;
        }
        RunQueuedEvents(channel);
        if (!channel.SocketOpen) {
            return kSocketError;
        }
        const uint64_t wait = MsUntilTimeout(start, now, timeoutMs);
        pollfd watch{channel.Socket, POLLOUT, 0};
        poll(&watch, 1, wait < kSendWaitSliceMs ? static_cast<int>(wait) : kSendWaitSliceMs);
    }
    RunQueuedEvents(channel);
    return kChannelOk;
}

// A receive that finds nothing waits for the socket, keeping the window live
// meanwhile, and then looks again: what arrived while a long handler ran
// inside the wait is taken before the time-out is tested.
int ReadTcp(COM_Class& channel, uint8_t* buffer, std::size_t room, uint32_t waitMs) {
    const std::size_t chunk = room < kReceiveChunk ? room : kReceiveChunk;
    bool waited = false;
    for (;;) {
        RunQueuedEvents(channel);
        // A handler that ran meanwhile may have closed the channel; its
        // descriptor number may already belong to another socket.
        if (!channel.SocketOpen) {
            return kSocketError;
        }
        const ssize_t received = recv(channel.Socket, buffer, chunk, MSG_DONTWAIT);
        if (received > 0) {
            return static_cast<int>(received);
        }
        if (received == 0) {
            return kPeerClosed;
        }
        if (errno == EINTR) {
            continue;
        }
        if (!WouldBlock(errno)) {
            return kSocketError;
        }
        if (waited) {
            return 0;
        }
        WaitReadable(channel, waitMs);
        waited = true;
    }
}

uint64_t TcpFrameAllowance(const COM_Class& /*channel*/, uint32_t /*frameBytes*/) {
    return kTcpFrameAllowanceMs;
}

}  // namespace

const TransportOps kTcpTransport = {OpenTcp, CloseTcp, DrainTcp,
                                    SendTcp, ReadTcp,  TcpFrameAllowance};
