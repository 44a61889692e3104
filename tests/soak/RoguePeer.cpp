#include "tests/soak/RoguePeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "idassign/DeviceId.h"
#include "tests/support/LabSupport.h"
#include "tests/support/TcpListener.h"
#include "tests/support/TestFrames.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr uint16_t kToolPort = 3195;
constexpr int kGarbageGapMs = 5;
constexpr size_t kLongestGarbage = 300;
// The Set ID request of the tool is 14 bytes; a reply to it is all the peer
// ever starts.
constexpr size_t kRequestLength = 14;
constexpr size_t kRequestSequenceOffset = 1;
constexpr char kReadyLine[] = "ready";

// A datagram that neither a search nor a setup may accept: random bytes, a
// bare reply header, a confirmation of a device no test uses, the tool's own
// identifier, one longer than the receive buffer, an unknown command code.
Bytes Garbage(std::mt19937& random) {
    auto byte = [&random] { return static_cast<uint8_t>(random()); };
    const std::string reply = "KVM47JR";
    Bytes datagram;
    switch (random() % 6) {
        case 0:
            datagram.resize(1 + random() % kLongestGarbage);
            for (uint8_t& b : datagram) {
                b = byte();
            }
            if (datagram[0] == 'K') {
                datagram[0] = 'k';
            }
            return datagram;
        case 1:
            datagram.assign(reply.begin(), reply.end());
            datagram.push_back(1);
            return datagram;
        case 2:
            datagram.assign(reply.begin(), reply.end());
            datagram.push_back(static_cast<uint8_t>(2 + random() % 2));
            for (uint8_t b : {0x02, 0xBA, 0xD0}) {
                datagram.push_back(b);
            }
            break;
        case 3:
            datagram.assign({'K', 'V', 'M', '4', '7', 'J', 'S'});
            break;
        case 4:
            datagram.assign(reply.begin(), reply.end());
            datagram.push_back(1);
            datagram.resize(kLongestGarbage, 0x11);
            return datagram;
        default:
            datagram.assign(reply.begin(), reply.end());
            datagram.push_back(static_cast<uint8_t>(4 + random() % 252));
            break;
    }
    const size_t tail = random() % 40;
    for (size_t i = 0; i < tail; ++i) {
        datagram.push_back(byte());
    }
    return datagram;
}

TcpListener Listen(const std::string& address, uint16_t port) {
    TcpListener listener(address, port);
    if (!listener.ok()) {
        std::perror("rogue peer: listen");
        std::exit(1);
    }
    return listener;
}

// The soak's own program, which plays the peer when started with --rogue.
std::string ThisProgram() {
    char self[4096] = {};
    return readlink("/proc/self/exe", self, sizeof self - 1) > 0 ? self : "";
}

struct Connection {
    int fd;
    bool reset;  // reset rather than close
    Bytes request;
};

// Part of a valid reply to the request, then the end of the connection.
void EndMidFrame(const Connection& connection, std::mt19937& random) {
    const Bytes reply = test_frames::ReplyFrame(
        kDeviceIdAddress, connection.request[kRequestSequenceOffset], 0x00, {0x05});
    const size_t part = random() % reply.size();
    if (part > 0) {
        send(connection.fd, reply.data(), part, MSG_NOSIGNAL);
    }
    if (connection.reset) {
        const linger abort{1, 0};
        setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    close(connection.fd);
}

}  // namespace

int RunRoguePeer(const std::string& toolIp, const std::string& listenIp, RoguePorts ports,
                 uint32_t seed) {
    RequireLabNamespace();
    std::mt19937 random(seed);
    const int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in tool{};
    tool.sin_family = AF_INET;
    tool.sin_port = htons(kToolPort);
    inet_pton(AF_INET, toolIp.c_str(), &tool.sin_addr);
    const TcpListener resetListener = Listen(listenIp, ports.reset);
    const TcpListener closeListener = Listen(listenIp, ports.close);
    std::puts(kReadyLine);
    std::fflush(stdout);

    std::vector<Connection> connections;
    unsigned garbageLeft = 0;
    Clock::time_point nextGarbage = Clock::now();
    std::string commands;
    for (;;) {
        std::vector<pollfd> watch = {{STDIN_FILENO, POLLIN, 0},
                                     {resetListener.Fd(), POLLIN, 0},
                                     {closeListener.Fd(), POLLIN, 0}};
        for (const Connection& c : connections) {
            watch.push_back({c.fd, POLLIN, 0});
        }
        int waitMs = -1;
        if (garbageLeft > 0) {
            const auto due =
                std::chrono::duration_cast<std::chrono::milliseconds>(nextGarbage - Clock::now());
            waitMs = due.count() > 0 ? static_cast<int>(due.count()) : 0;
        }
        if (poll(watch.data(), watch.size(), waitMs) < 0) {
            continue;
        }
        if (garbageLeft > 0 && Clock::now() >= nextGarbage) {
            const Bytes datagram = Garbage(random);
            sendto(udp, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&tool),
                   sizeof tool);
            --garbageLeft;
            nextGarbage = Clock::now() + std::chrono::milliseconds(kGarbageGapMs);
        }
        if (watch[0].revents != 0) {
            char buffer[256];
            const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
            if (got <= 0) {
                return 0;  // the soak has ended
            }
            commands.append(buffer, static_cast<size_t>(got));
            size_t end = 0;
            while ((end = commands.find('\n')) != std::string::npos) {
                unsigned count = 0;
                if (std::sscanf(commands.c_str(), "garbage %u", &count) == 1) {
                    garbageLeft += count;
                }
                commands.erase(0, end + 1);
            }
        }
        for (size_t k = 1; k <= 2; ++k) {
            if (watch[k].revents != 0) {
                const int fd = accept4(watch[k].fd, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) {
                    connections.push_back({fd, k == 1, {}});
                }
            }
        }
        for (size_t k = 3; k < watch.size(); ++k) {
            if (watch[k].revents == 0) {
                continue;
            }
            Connection& c = connections[k - 3];
            uint8_t buffer[256];
            const ssize_t got = recv(c.fd, buffer, sizeof buffer, 0);
            if (got > 0) {
                c.request.insert(c.request.end(), buffer, buffer + got);
            }
            if (got <= 0 || c.request.size() >= kRequestLength) {
                if (got > 0) {
                    EndMidFrame(c, random);
                } else {
                    close(c.fd);
                }
                c.fd = -1;
            }
        }
        connections.erase(std::remove_if(connections.begin(), connections.end(),
                                         [](const Connection& c) { return c.fd < 0; }),
                          connections.end());
    }
}

RogueProcess::RogueProcess(const std::string& deviceNamespace, const std::string& toolIp,
                           const std::string& listenIp, RoguePorts ports, uint32_t seed)
    : peer_(deviceNamespace,
            {ThisProgram(), "--rogue", toolIp, listenIp, std::to_string(ports.reset),
             std::to_string(ports.close), std::to_string(seed)},
            "the rogue peer", true) {}

RogueProcess::~RogueProcess() {
    if (ChildProcess* process = peer_.process()) {
        // The peer ends when its input does.
        process->CloseInput();
        process->Wait(ChildProcess::kStopLimitMs);
    }
}

void RogueProcess::SendGarbage(unsigned count) {
    if (ChildProcess* process = peer_.process()) {
        process->Write("garbage " + std::to_string(count) + "\n");
    }
}
