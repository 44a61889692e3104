// The TCP transport: a non-blocking IPv4 stream socket to HostAddress:HostPort.
// Its waits for a reply (and for room to send) keep the window live through
// the channel's ChannelEvents hook; without a hook they wait for the socket
// alone.
#include <climits>
#include <cstring>

#include "channel/COM_Class.h"
#include "channel/ChannelEvents.h"
#include "channel/ChannelResult.h"
#include "channel/Tick.h"
#include "channel/Transport.h"
#include "common/ScopeExit.h"
#include "platform/Sockets.h"

namespace {

// One receive call takes at most as much as one reply can carry.
constexpr std::size_t kReceiveChunk = kMaxReplyData;
// While a send waits for room, queued window events run at least this often.
constexpr int kSendWaitSliceMs = 50;

int ClampToInt(uint64_t ms) {
    return ms > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(ms);
}

// Waits for the pending connect; 0 when connected, else the Open code.
int AwaitConnect(SocketHandle socket, uint32_t timeoutMs) {
    const uint64_t start = TickMs();
    int ready = 0;
    for (;;) {
        const uint64_t elapsed = ElapsedMs(start, TickMs());
        const uint64_t remaining = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
        ready = WaitSocket(socket, kSocketWritable, ClampToInt(remaining));
        if (ready > 0) {
            break;
        }
        if (ready < 0 && LastSocketError() != SocketError::Interrupted) {
            return kTcpConnectTimeout;
        }
        if (remaining == 0) {
            return kTcpConnectTimeout;
        }
    }
    // A refused connect shows on Linux as writable with SO_ERROR set, not as
    // an exceptional condition (Windows puts it in the exception set); without
    // this test it would pass as open.
    if (ConnectError(socket) != 0 || (ready & kSocketFailed) != 0) {
        return kTcpConnectFailed;
    }
    if ((ready & kSocketWritable) == 0) {
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
    const SocketHandle tcp = OpenTcpSocket();
    if (tcp == kNoSocket) {
        return kTcpNoSocket;
    }
    // Every failing step lets go of the socket; a connected one is kept.
    ScopeExit closeSocket([tcp] { CloseSocket(tcp); });
    if (!SetNonBlocking(tcp, true)) {
        return kTcpNonBlocking;
    }

    // A connect that fails at once (no route, say) leaves no error behind for
    // the wait to find, so it is taken as the failed attempt it is.
    if (!StartConnect(tcp, address, channel.HostPort)) {
        return kTcpConnectFailed;
    }
    const int connected = AwaitConnect(tcp, timeoutMs);
    if (connected != kChannelOk) {
        return connected;
    }
    closeSocket.Release();
    channel.Socket = tcp;
    channel.SocketOpen = 1;
    return kChannelOk;
}

void CloseTcp(COM_Class& channel) {
    if (channel.Socket != kNoSocket) {
        CloseSocket(channel.Socket);
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
            ReceiveStream(channel.Socket, channel.ReplyData, kReceiveChunk, true);
        if (received > 0) {
            if (TimeoutPassed(start, TickMs(), timeoutMs)) {
                return kReceiveTimeout;
            }
            continue;
        }
        if (received == 0) {
            return kPeerClosed;
        }
        const SocketError error = LastSocketError();
        if (error == SocketError::Interrupted) {
            continue;
        }
        return error == SocketError::WouldBlock ? kChannelOk : kSocketError;
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
    WaitSocket(channel.Socket, kSocketReadable, ClampToInt(timeoutMs));
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
        const ssize_t taken = SendStream(channel.Socket, frame + sent, length - sent, true);
        if (taken > 0) {
            sent += static_cast<uint32_t>(taken);
            continue;
        }
        const SocketError error = taken < 0 ? LastSocketError() : SocketError::None;
        if (error == SocketError::Interrupted) {
            continue;
        }
        if (taken < 0 && error != SocketError::WouldBlock) {
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
        WaitSocket(channel.Socket, kSocketWritable,
                   wait < kSendWaitSliceMs ? static_cast<int>(wait) : kSendWaitSliceMs);
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
        const ssize_t received = ReceiveStream(channel.Socket, buffer, chunk, true);
        if (received > 0) {
            return static_cast<int>(received);
        }
        if (received == 0) {
            return kPeerClosed;
        }
        const SocketError error = LastSocketError();
        if (error == SocketError::Interrupted) {
            continue;
        }
        if (error != SocketError::WouldBlock) {
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
