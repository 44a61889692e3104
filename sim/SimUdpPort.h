#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "sim/SimLoop.h"

// The devices' UDP port 3195, shared by every side that speaks UDP. Datagrams
// from the tool open with "KVM47JS" and a command code; each side registers
// for the codes it answers.
constexpr uint16_t kSimUdpPort = 3195;

struct SimDatagram {
    std::vector<uint8_t> bytes;  // as received; empty beyond what fitted
    size_t length = 0;           // the datagram's real length
    sockaddr_in sender{};
};

class SimUdpPort {
public:
    using Handler = std::function<void(const SimDatagram&)>;

    explicit SimUdpPort(SimLoop& loop) : loop_(loop) {}
    ~SimUdpPort();
    SimUdpPort(const SimUdpPort&) = delete;
    SimUdpPort& operator=(const SimUdpPort&) = delete;

    // Binds the port on every local address; false with a message on failure.
    bool Open(std::string* error);

    // Every datagram received is written to `path` as one line,
    // "<sender address>:<sender port> <hex bytes>", before it is handled.
    bool RecordTo(const std::string& path, std::string* error);

    // `handler` gets the tool's datagrams that carry `commandCode`.
    void OnCommand(uint8_t commandCode, Handler handler);

    // Sends `bytes` to `destination`; false when the send failed. A datagram
    // lost on its way counts as sent.
    bool SendTo(const sockaddr_in& destination, const std::vector<uint8_t>& bytes);

    // From now on each datagram is lost with a chance of `percent` (0 to 100),
    // drawn from one generator seeded with `seed`, so that a run repeats.
    // SendTo loses what goes out; the sides that take the tool's datagrams ask
    // Lost() for each device that would hear one, since every device hears
    // its own copy of a broadcast.
    void LoseAtRandom(double percent, uint32_t seed);
    bool Lost();

private:
    void ReceiveOne();

    SimLoop& loop_;
    int socket_ = -1;
    FILE* record_ = nullptr;
    std::map<uint8_t, Handler> handlers_;
    std::mt19937 random_;
    uint64_t lostBelow_ = 0;  // a draw below this loses the datagram; 0: none is lost
};
