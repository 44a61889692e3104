#pragma once

// Helpers for the device channel's tests: reply frames written from the wire
// layout (not by the tool's own builder), and a TCP peer on 127.0.0.1.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "channel/COM_Class.h"
#include "channel/ChannelEvents.h"

namespace channeltest {

using Bytes = std::vector<uint8_t>;

// CRC-16/ARC bit by bit, independent of the tool's table.
inline uint16_t BitwiseCrc16Arc(const Bytes& bytes) {
    uint16_t crc = 0;
    for (uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
        }
    }
    return crc;
}

inline void AppendCrcAndEnd(Bytes& frame, uint8_t end = 0x03) {
    const uint16_t crc = BitwiseCrc16Arc(frame);
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(end);
}

struct Reply {
    uint32_t address = 1;
    uint8_t sequence = 1;
    uint8_t result = 0;
    Bytes data{0x05};
    bool longForm = false;  // forced long form even for a count up to 255
    uint8_t start = 0x91;
    uint8_t end = 0x03;

    Reply& WithAddress(uint32_t value) {
        address = value;
        return *this;
    }
    Reply& WithSequence(uint8_t value) {
        sequence = value;
        return *this;
    }
    Reply& WithResult(uint8_t value) {
        result = value;
        return *this;
    }
    Reply& WithData(Bytes value) {
        data = std::move(value);
        return *this;
    }
    Reply& InLongForm() {
        longForm = true;
        return *this;
    }
    Reply& WithMarkers(uint8_t startMarker, uint8_t endMarker) {
        start = startMarker;
        end = endMarker;
        return *this;
    }
};

// The reply frame as a device sends it.
inline Bytes ReplyFrame(const Reply& reply) {
    const uint32_t count = static_cast<uint32_t>(reply.data.size());
    Bytes frame{reply.start, 0x00};
    for (int n = 0; n < 4; ++n) {
        frame.push_back(static_cast<uint8_t>(reply.address >> (8 * n)));
    }
    frame.push_back(reply.sequence);
    frame.push_back(reply.result);
    const uint8_t low = static_cast<uint8_t>(count & 0xFF);
    const uint8_t high = static_cast<uint8_t>(count >> 8);
    if (count <= 255 && !reply.longForm) {
        frame.push_back(static_cast<uint8_t>(low ^ 0xFF));
        frame.push_back(low);
    } else {
        frame.push_back(static_cast<uint8_t>((low ^ high) ^ 0xFF));
        frame.push_back(0x00);
        frame.push_back(low);
        frame.push_back(high);
    }
    frame.insert(frame.end(), reply.data.begin(), reply.data.end());
    AppendCrcAndEnd(frame, reply.end);
    return frame;
}

inline Bytes Concat(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

inline bool WaitFor(int fd, short events, int timeoutMs) {
    pollfd watch{fd, events, 0};
    return poll(&watch, 1, timeoutMs) == 1;
}

inline bool SendAll(int fd, const Bytes& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

// Reads exactly `count` bytes, or fewer if the peer closes or nothing comes
// for `idleMs`.
inline Bytes ReadExactly(int fd, size_t count, int idleMs = 5000) {
    Bytes bytes(count);
    size_t got = 0;
    while (got < count && WaitFor(fd, POLLIN, idleMs)) {
        const ssize_t n = recv(fd, bytes.data() + got, count - got, 0);
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

// A listening TCP socket on 127.0.0.1 and an ephemeral port.
class LoopbackListener {
public:
    explicit LoopbackListener(int backlog = 8) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        listen(fd_, backlog);
        socklen_t size = sizeof(address);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~LoopbackListener() { close(fd_); }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    uint16_t Port() const { return port_; }
    int Fd() const { return fd_; }
    // The next connection, or -1 when none comes within `timeoutMs`.
    int Accept(int timeoutMs = 5000) const {
        if (!WaitFor(fd_, POLLIN, timeoutMs)) {
            return -1;
        }
        return accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

inline void PointAt(COM_Class& channel, const std::string& host, uint16_t port) {
    channel.Kind = TransportKind::Tcp;
    std::memset(channel.HostAddress, 0, sizeof(channel.HostAddress));
    std::memcpy(channel.HostAddress, host.data(),
                std::min(host.size(), sizeof(channel.HostAddress)));
    channel.HostPort = port;
}

// The length of a request frame for `dataLength` data bytes.
inline size_t RequestLength(size_t dataLength) {
    return dataLength + 1 <= 255 ? 13 + dataLength : 15 + dataLength;
}

// A channel opened to a listener on 127.0.0.1, with the accepted end as the
// device's side.
struct LoopbackChannel {
    LoopbackListener listener;
    COM_Class channel;
    int peer = -1;

    LoopbackChannel() = default;
    LoopbackChannel(const LoopbackChannel&) = delete;
    LoopbackChannel& operator=(const LoopbackChannel&) = delete;
    ~LoopbackChannel() {
        if (peer >= 0) {
            close(peer);
        }
    }

    // Opens (again, after a Close) and accepts the new connection.
    bool Open() {
        if (peer >= 0) {
            close(peer);
            peer = -1;
        }
        PointAt(channel, "127.0.0.1", listener.Port());
        if (channel.Open(5000) != 0) {
            return false;
        }
        peer = listener.Accept();
        return peer >= 0;
    }
};

// Stands in for the window: its "queued event" is the device answering. The
// first time the channel runs queued events (right after its send), it reads
// the request from the device's side and sends what `answer` makes of it.
class AnsweringEvents : public ChannelEvents {
public:
    AnsweringEvents(int peer, size_t requestLength, std::function<Bytes(const Bytes&)> answer)
        : peer_(peer), requestLength_(requestLength), answer_(std::move(answer)) {}

    void RunQueuedEvents() override {
        ++runs;
        if (!answered_) {
            answered_ = true;
            request = ReadExactly(peer_, requestLength_);
            SendAll(peer_, answer_(request));
        }
    }
    void WaitReadable(int fd, int timeoutMs) override {
        ++waits;
        WaitFor(fd, POLLIN, timeoutMs);
    }

    Bytes request;
    int runs = 0;
    int waits = 0;

private:
    int peer_;
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
