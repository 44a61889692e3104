#include "sim/SimTcp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr int kListenBacklog = 16;
constexpr size_t kReceiveChunk = 4096;
// A flood writes until the connection takes no more, then looks again this
// much later; a task due at once would keep the loop from reading.
constexpr size_t kFloodChunk = 65536;
constexpr int kFloodPauseMs = 1;
constexpr uint64_t kFloodForEver = UINT64_MAX;
// What a frame that trickles announces unless tcp-size says otherwise: long
// enough that, one byte just inside each time-out, it would take hours.
constexpr uint32_t kTrickleFrameSize = 4000;
// The header of a long-form reply, up to its count: the part of a trickling
// frame that goes at once, so that the tool knows the length it waits for.
constexpr size_t kLongReplyHeader = 12;
// A serial line carries a start bit, 8 data bits and a stop bit per byte.
constexpr uint64_t kLineBitsPerByte = 10;
constexpr uint64_t kMsPerSecond = 1000;

uint32_t HostOrder(const std::array<uint8_t, 4>& address) {
    uint32_t value = 0;
    for (uint8_t octet : address) {
        value = (value << 8) | octet;
    }
    return value;
}

std::string DottedText(uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

}  // namespace

SimTcp::~SimTcp() {
    for (const ConnectionPtr& connection : connections_) {
        loop_.Unwatch(connection->fd);
        close(connection->fd);
    }
    for (const Listener& listener : listeners_) {
        if (listener.fd >= 0) {
            loop_.Unwatch(listener.fd);
            close(listener.fd);
        }
    }
    for (const int terminal : ptyTerminals_) {
        close(terminal);
    }
    if (record_ != nullptr) {
        std::fclose(record_);
    }
}

bool SimTcp::Open(const std::string& bindAddress, std::string* error) {
    bindAddress_ = bindAddress;
    listeners_.assign(devices_.size(), Listener{});
    for (size_t i = 0; i < devices_.size(); ++i) {
        if (!Listen(i, error)) {
            return false;
        }
    }
    return true;
}

bool SimTcp::RecordTo(const std::string& path, std::string* error) {
    record_ = std::fopen(path.c_str(), "a");
    if (record_ == nullptr) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool SimTcp::ServePty(size_t device, std::string* path, std::string* error) {
    int device_side = -1;
    int terminal = -1;
    char name[64] = {};
    // Raw from the start: a device's bytes reach the tool unchanged even
    // before the tool sets the line up.
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&device_side, &terminal, name, &raw, nullptr) != 0) {
        *error = std::string("openpty: ") + std::strerror(errno);
        return false;
    }
    fcntl(device_side, F_SETFD, FD_CLOEXEC);
    fcntl(terminal, F_SETFD, FD_CLOEXEC);
    fcntl(device_side, F_SETFL, fcntl(device_side, F_GETFL) | O_NONBLOCK);
    ptyTerminals_.push_back(terminal);
    auto connection = std::make_shared<Connection>();
    connection->fd = device_side;
    connection->device = device;
    connection->serial = true;
    connections_.push_back(connection);
    loop_.Watch(device_side, [this, connection] { Receive(connection); });
    *path = name;
    return true;
}

std::string SimTcp::Endpoint(size_t device) const {
    const Listener& listener = listeners_.at(device);
    return DottedText(listener.address) + ":" + std::to_string(listener.port);
}

bool SimTcp::Follow(size_t device, std::string* error) {
    const SimDevice& moved = devices_.at(device);
    Listener& listener = listeners_.at(device);
    const uint32_t address = bindAddress_.empty() ? HostOrder(moved.ip) : listener.address;
    // Port 0 stands for whatever free port the service already has.
    const bool samePort = moved.servicePort == 0 || listener.port == moved.servicePort;
    if (listener.fd >= 0 && listener.address == address && samePort) {
        return true;
    }
    return Release(device, error) && Listen(device, error);
}

bool SimTcp::Halt(size_t device, std::string* error) {
    // Drop erases from connections_.
    const std::vector<ConnectionPtr> open = connections_;
    for (const ConnectionPtr& connection : open) {
        if (connection->device == device && !connection->serial) {
            Drop(connection);
        }
    }
    return Release(device, error);
}

bool SimTcp::Release(size_t device, std::string* error) {
    Listener& listener = listeners_.at(device);
    if (listener.fd < 0) {
        return true;
    }
    loop_.Unwatch(listener.fd);
    close(listener.fd);
    listener.fd = -1;
    // The devices that shared this service keep it, as though they had come
    // first: the first of them listens, the others share its listener. Not
    // one that restarts, or is about to (a twin that took the same setup):
    // the kernel would take connections on its listener at once.
    for (size_t other = 0; other < listeners_.size(); ++other) {
        const Listener& sharing = listeners_[other];
        if (other != device && sharing.fd < 0 && !devices_[other].Offline() &&
            !devices_[other].restartDue && sharing.address == listener.address &&
            sharing.port == listener.port && !Listen(other, error)) {
            return false;
        }
    }
    return true;
}

bool SimTcp::Listen(size_t device, std::string* error) {
    const SimDevice& served = devices_[device];
    in_addr address{};
    if (bindAddress_.empty()) {
        address.s_addr = htonl(HostOrder(served.ip));
    } else if (inet_pton(AF_INET, bindAddress_.c_str(), &address) != 1) {
        *error = "cannot listen on " + bindAddress_ + ": not a dotted address";
        return false;
    }
    const std::string where =
        DottedText(ntohl(address.s_addr)) + ":" + std::to_string(served.servicePort);
    // Devices that report the same address and port (duplicates in a
    // discovery test) share the first one's service.
    if (served.servicePort != 0) {
        for (size_t other = 0; other < listeners_.size(); ++other) {
            const Listener& taken = listeners_[other];
            if (other != device && taken.fd >= 0 && taken.address == ntohl(address.s_addr) &&
                taken.port == served.servicePort) {
                listeners_[device] = Listener{-1, taken.address, taken.port};
                return true;
            }
        }
    }

    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // A device's address may be one the namespace only routes locally, or one
    // that a setup has just given it.
    setsockopt(fd, IPPROTO_IP, IP_FREEBIND, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = address;
    local.sin_port = htons(served.servicePort);
    socklen_t size = sizeof local;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        listen(fd, kListenBacklog) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        *error = "cannot listen on " + where + ": " + std::strerror(errno);
        close(fd);
        return false;
    }
    listeners_[device] = Listener{fd, ntohl(local.sin_addr.s_addr), ntohs(local.sin_port)};
    loop_.Watch(fd, [this, device] { Accept(device); });
    return true;
}

void SimTcp::Accept(size_t device) {
    const int fd = accept4(listeners_[device].fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        return;
    }
    auto connection = std::make_shared<Connection>();
    connection->fd = fd;
    connection->device = device;
    connections_.push_back(connection);
    loop_.Watch(fd, [this, connection] { Receive(connection); });
    if (!devices_[device].tcp.before.empty()) {
        Send(connection, devices_[device].tcp.before);
    }
    if (devices_[device].tcp.flood == SimTcpFlood::Accept) {
        StartFlood(connection);
    }
}

void SimTcp::Receive(const ConnectionPtr& connection) {
    uint8_t buffer[kReceiveChunk];
    // read and write serve a socket and a pseudo-terminal alike.
    const ssize_t received = read(connection->fd, buffer, sizeof buffer);
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return;
    }
    if (received <= 0) {
        Drop(connection);
        return;
    }
    std::vector<SimFrameSeen> frames;
    connection->reader.Feed(buffer, static_cast<size_t>(received), &frames);
    for (const SimFrameSeen& frame : frames) {
        // An earlier frame's answer may have closed the connection.
        if (connection->fd < 0) {
            return;
        }
        Handle(connection, frame);
    }
}

void SimTcp::Handle(const ConnectionPtr& connection, const SimFrameSeen& frame) {
    Record(connection->device, frame);
    if (!frame.valid) {
        return;
    }
    const SimTcpBehaviour& behaviour = devices_[connection->device].tcp;
    const SimRequest request = frame.request;
    if (behaviour.flood == SimTcpFlood::Request) {
        StartFlood(connection);
    }
    switch (behaviour.reply) {
        case SimTcpReply::None:
            return;
        case SimTcpReply::Close:
            loop_.After(behaviour.delayMs, [this, connection] { Drop(connection); });
            return;
        case SimTcpReply::Trickle:
            loop_.After(behaviour.delayMs, [this, connection] { Trickle(connection, 0); });
            return;
        case SimTcpReply::Answer:
        case SimTcpReply::TrickleFrame:
            break;
    }
    // The ID is taken when the request arrives; only the answer waits.
    const bool setId = request.function == simframe::kSetIdFunction &&
                       request.command == simframe::kSetIdCommand && !request.data.empty();
    SimDevice& device = devices_[connection->device];
    if (setId) {
        device.id = request.data.front();
    }
    loop_.After(behaviour.delayMs, [this, connection, request] { Answer(connection, request); });
}

void SimTcp::Answer(const ConnectionPtr& connection, const SimRequest& request) {
    // A device that streams zeros answers nothing meanwhile.
    if (connection->fd < 0 || connection->floodUntilMs > SimLoop::NowMs()) {
        return;
    }
    const SimDevice& device = devices_[connection->device];
    const SimTcpBehaviour& behaviour = device.tcp;
    const bool setId = request.function == simframe::kSetIdFunction &&
                       request.command == simframe::kSetIdCommand && !request.data.empty();
    const uint8_t result = setId ? behaviour.result : simframe::kUnknownRequestResult;
    const bool trickle = behaviour.reply == SimTcpReply::TrickleFrame;
    SimTcpBehaviour shape = behaviour;
    shape.longForm = behaviour.longForm || trickle;
    const uint32_t size = trickle && behaviour.size == 0 ? kTrickleFrameSize : behaviour.size;
    const std::vector<uint8_t> data =
        behaviour.forceData ? behaviour.data : SimReplyData(device.id, size);

    std::vector<uint8_t> bytes;
    for (int n = 0; n < behaviour.noiseBytes; ++n) {
        bytes.push_back(SimNoiseByte(static_cast<size_t>(n)));
    }
    const size_t headerEnd = bytes.size() + kLongReplyHeader;
    const std::vector<uint8_t> reply = BuildSimReply(request, shape, result, data);
    bytes.insert(bytes.end(), reply.begin(), reply.end());
    auto shared = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
    if (trickle) {
        Send(connection,
             std::vector<uint8_t>(shared->begin(), shared->begin() + static_cast<long>(headerEnd)));
        loop_.After(behaviour.trickleMs,
                    [this, connection, shared, headerEnd] { Drip(connection, shared, headerEnd); });
    } else if (behaviour.lineRate != 0) {
        Pace(connection, shared, 0, SimLoop::NowMs());
    } else {
        Send(connection, *shared);
    }
}

void SimTcp::Drip(const ConnectionPtr& connection, const SharedBytes& bytes, size_t next) {
    if (connection->fd < 0 || next >= bytes->size()) {
        return;
    }
    Send(connection, {(*bytes)[next]});
    loop_.After(devices_[connection->device].tcp.trickleMs,
                [this, connection, bytes, next] { Drip(connection, bytes, next + 1); });
}

void SimTcp::Pace(const ConnectionPtr& connection, const SharedBytes& bytes, size_t next,
                  uint64_t startMs) {
    if (connection->fd < 0) {
        return;
    }
    // Byte n leaves n byte times after the first, counted from the start so
    // that a late timer does not slow the line down.
    const uint64_t rate = devices_[connection->device].tcp.lineRate;
    const uint64_t byteTimes =
        (SimLoop::NowMs() - startMs) * rate / (kLineBitsPerByte * kMsPerSecond);
    const size_t due = static_cast<size_t>(std::min<uint64_t>(bytes->size(), byteTimes + 1));
    if (due > next) {
        Send(connection, std::vector<uint8_t>(bytes->begin() + static_cast<long>(next),
                                              bytes->begin() + static_cast<long>(due)));
    }
    if (due >= bytes->size()) {
        return;
    }
    const uint64_t dueMs = startMs + (due * kLineBitsPerByte * kMsPerSecond + rate - 1) / rate;
    const uint64_t now = SimLoop::NowMs();
    loop_.After(static_cast<int>(dueMs > now ? dueMs - now : 0),
                [this, connection, bytes, due, startMs] { Pace(connection, bytes, due, startMs); });
}

void SimTcp::Trickle(const ConnectionPtr& connection, size_t n) {
    if (connection->fd < 0) {
        return;
    }
    Send(connection, {SimNoiseByte(n)});
    loop_.After(devices_[connection->device].tcp.trickleMs,
                [this, connection, n] { Trickle(connection, n + 1); });
}

void SimTcp::StartFlood(const ConnectionPtr& connection) {
    const int forMs = devices_[connection->device].tcp.floodForMs;
    const bool running = connection->floodUntilMs > SimLoop::NowMs();
    connection->floodUntilMs =
        forMs < 0 ? kFloodForEver : SimLoop::NowMs() + static_cast<uint64_t>(forMs);
    if (!running) {
        Flood(connection);
    }
}

void SimTcp::Flood(const ConnectionPtr& connection) {
    if (connection->fd < 0 || SimLoop::NowMs() >= connection->floodUntilMs) {
        return;
    }
    static const std::vector<uint8_t> zeros(kFloodChunk, 0);
    while (write(connection->fd, zeros.data(), zeros.size()) > 0) {
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        Drop(connection);
        return;
    }
    loop_.After(kFloodPauseMs, [this, connection] { Flood(connection); });
}

void SimTcp::Send(const ConnectionPtr& connection, const std::vector<uint8_t>& bytes) {
    // The tool reads everything a device sends at once; a send that cannot
    // go out whole means the peer has stopped reading, and the rest is lost
    // as on a device whose buffer overflows.
    size_t sent = 0;
    while (connection->fd >= 0 && sent < bytes.size()) {
        const ssize_t taken = write(connection->fd, bytes.data() + sent, bytes.size() - sent);
        if (taken < 0 && errno == EINTR) {
            continue;
        }
        if (taken <= 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                Drop(connection);
            }
            return;
        }
        sent += static_cast<size_t>(taken);
    }
}

void SimTcp::Drop(const ConnectionPtr& connection) {
    if (connection->fd < 0) {
        return;
    }
    loop_.Unwatch(connection->fd);
    close(connection->fd);
    connection->fd = -1;
    connections_.erase(std::remove(connections_.begin(), connections_.end(), connection),
                       connections_.end());
}

void SimTcp::Record(size_t device, const SimFrameSeen& frame) {
    if (record_ == nullptr) {
        return;
    }
    std::fprintf(record_, "%s ", Endpoint(device).c_str());
    for (uint8_t byte : frame.bytes) {
        std::fprintf(record_, "%02X", byte);
    }
    std::fputs(frame.valid ? "\n" : " bad\n", record_);
    std::fflush(record_);
}
