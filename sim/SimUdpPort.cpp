#include "sim/SimUdpPort.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr char kToolIdentifier[] = "KVM47JS";
constexpr size_t kToolIdentifierLength = 7;
constexpr size_t kCommandOffset = 7;
// Room for anything a test sends, so the record shows oversized datagrams too.
constexpr size_t kReceiveBufferLength = 2048;
// Hundreds of replies leave in one burst.
constexpr int kSocketBufferBytes = 1 << 20;
constexpr double kWholePercent = 100.0;
// std::mt19937 draws 32 bits.
constexpr double kDrawCount = 4294967296.0;

}  // namespace

SimUdpPort::~SimUdpPort() {
    if (socket_ >= 0) {
        loop_.Unwatch(socket_);
        close(socket_);
    }
    if (record_ != nullptr) {
        std::fclose(record_);
    }
}

bool SimUdpPort::Open(std::string* error) {
    socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &kSocketBufferBytes, sizeof kSocketBufferBytes);
    setsockopt(socket_, SOL_SOCKET, SO_SNDBUF, &kSocketBufferBytes, sizeof kSocketBufferBytes);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(kSimUdpPort);
    if (bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        *error = "bind UDP port " + std::to_string(kSimUdpPort) + ": " + std::strerror(errno);
        return false;
    }
    loop_.Watch(socket_, [this] { ReceiveOne(); });
    return true;
}

bool SimUdpPort::RecordTo(const std::string& path, std::string* error) {
    record_ = std::fopen(path.c_str(), "a");
    if (record_ == nullptr) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void SimUdpPort::OnCommand(uint8_t commandCode, Handler handler) {
    handlers_[commandCode] = std::move(handler);
}

void SimUdpPort::LoseAtRandom(double percent, uint32_t seed) {
    random_.seed(seed);
    // Whole draws of the generator, so that the same seed loses the same
    // datagrams with any standard library; 100 % lies above every draw.
    lostBelow_ = static_cast<uint64_t>(percent / kWholePercent * kDrawCount);
}

bool SimUdpPort::Lost() {
    return lostBelow_ != 0 && random_() < lostBelow_;
}

bool SimUdpPort::SendTo(const sockaddr_in& destination, const std::vector<uint8_t>& bytes) {
    if (Lost()) {
        return true;
    }
    return sendto(socket_, bytes.data(), bytes.size(), 0,
                  reinterpret_cast<const sockaddr*>(&destination),
                  sizeof destination) == static_cast<ssize_t>(bytes.size());
}

void SimUdpPort::ReceiveOne() {
    SimDatagram datagram;
    datagram.bytes.resize(kReceiveBufferLength);
    socklen_t senderLength = sizeof datagram.sender;
    const ssize_t length =
        recvfrom(socket_, datagram.bytes.data(), datagram.bytes.size(), MSG_TRUNC,
                 reinterpret_cast<sockaddr*>(&datagram.sender), &senderLength);
    if (length < 0) {
        return;
    }
    datagram.length = static_cast<size_t>(length);
    datagram.bytes.resize(std::min(datagram.length, kReceiveBufferLength));

    if (record_ != nullptr) {
        char address[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &datagram.sender.sin_addr, address, sizeof address);
        std::fprintf(record_, "%s:%u ", address, ntohs(datagram.sender.sin_port));
        for (uint8_t byte : datagram.bytes) {
            std::fprintf(record_, "%02X", byte);
        }
        std::fputc('\n', record_);
        std::fflush(record_);
    }

    if (datagram.length <= kCommandOffset ||
        std::memcmp(datagram.bytes.data(), kToolIdentifier, kToolIdentifierLength) != 0) {
        return;
    }
    auto handler = handlers_.find(datagram.bytes[kCommandOffset]);
    if (handler != handlers_.end()) {
        handler->second(datagram);
    }
}
