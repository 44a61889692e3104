#pragma once

#include <cstdint>
#include <vector>

#include "sim/SimDevice.h"
#include "sim/SimLoop.h"
#include "sim/SimUdpPort.h"

// Datagrams that no search may accept, sent to whoever searched.
struct SimNoise {
    int intervalMs = 0;  // 0: no noise
    int durationMs = 0;  // 0: until the simulator ends
};

// The reply `device` sends to a discovery request, faults included.
std::vector<uint8_t> BuildSimDiscoveryReply(const SimDevice& device);

// The non-matching datagram number `n` of a noise stream: it cycles through a
// short datagram, a bare header, a setup reply and a reply with a foreign
// identifier.
std::vector<uint8_t> BuildSimNoise(unsigned n);

// Answers each discovery request (exactly "KVM47JS" and command code 1) with
// one reply per device, sent to the requester, at each device's delay.
class SimDiscovery {
public:
    SimDiscovery(SimLoop& loop, SimUdpPort& port, std::vector<SimDevice>& devices, SimNoise noise)
        : loop_(loop), port_(port), devices_(devices), noise_(noise) {}

    void Attach();

private:
    void Answer(const SimDatagram& request);
    void SendNoise(const sockaddr_in& destination, uint64_t endMs, unsigned n);

    SimLoop& loop_;
    SimUdpPort& port_;
    std::vector<SimDevice>& devices_;
    SimNoise noise_;
};
