#pragma once

// Helpers for the device channel's tests: reply frames and the device's TCP
// side come from the test-support library; what is the channel's own (a
// channel pointed at a listener, a stand-in for the window's events) is here.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "channel/COM_Class.h"
#include "channel/ChannelEvents.h"
#include "platform/Sockets.h"
#include "tests/support/TcpListener.h"
#include "tests/support/TestFrames.h"

namespace channeltest {

using test_frames::AppendCrcAndEnd;
using test_frames::BitwiseCrc16Arc;
using test_frames::Bytes;
using test_frames::Concat;
using test_frames::Reply;
using test_frames::ReplyFrame;
using test_frames::RequestLength;

inline void PointAt(COM_Class& channel, const std::string& host, uint16_t port) {
    channel.Kind = TransportKind::Tcp;
    std::memset(channel.HostAddress, 0, sizeof(channel.HostAddress));
    std::memcpy(channel.HostAddress, host.data(),
                std::min(host.size(), sizeof(channel.HostAddress)));
    channel.HostPort = port;
}

// A channel opened to a listener on 127.0.0.1, with the accepted end as the
// device's side.
struct LoopbackChannel {
    TcpListener listener;
    COM_Class channel;
    SocketHandle peer = kNoSocket;

    LoopbackChannel() = default;
    LoopbackChannel(const LoopbackChannel&) = delete;
    LoopbackChannel& operator=(const LoopbackChannel&) = delete;
    ~LoopbackChannel() {
        if (peer != kNoSocket) {
            CloseSocket(peer);
        }
    }

    // Opens (again, after a Close) and accepts the new connection.
    bool Open() {
        if (peer != kNoSocket) {
            CloseSocket(peer);
            peer = kNoSocket;
        }
        PointAt(channel, "127.0.0.1", listener.Port());
        if (channel.Open(5000) != 0) {
            return false;
        }
        peer = listener.Accept();
        return peer != kNoSocket;
    }
};

// Stands in for the window: its "queued event" is the device answering. The
// first time the channel runs queued events (right after its send), it reads
// the request from the device's side and sends what `answer` makes of it.
class AnsweringEvents : public ChannelEvents {
public:
    AnsweringEvents(SocketHandle peer, size_t requestLength,
                    std::function<Bytes(const Bytes&)> answer)
        : peer_(peer), requestLength_(requestLength), answer_(std::move(answer)) {}

    void RunQueuedEvents() override {
        ++runs;
        if (!answered_) {
            answered_ = true;
            request = ReadExactly(peer_, requestLength_);
            SendAll(peer_, answer_(request));
        }
    }
    void WaitReadable(SocketHandle fd, int timeoutMs) override {
        ++waits;
        WaitFor(fd, kSocketReadable, timeoutMs);
    }

    Bytes request;
    int runs = 0;
    int waits = 0;

private:
    SocketHandle peer_;
    size_t requestLength_;
    std::function<Bytes(const Bytes&)> answer_;
    bool answered_ = false;
};

// The answer of a device that takes the request's sequence number into a
// reply built from `reply`.
inline std::function<Bytes(const Bytes&)> Answer(Reply reply) {
    return [reply](const Bytes& request) mutable {
        reply.sequence = request.size() > 1 ? request[1] : 0;
        return ReplyFrame(reply);
    };
}

}  // namespace channeltest
