#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "sim/SimDevice.h"
#include "sim/SimLoop.h"
#include "sim/SimUdpPort.h"

// True when a setup datagram of `length` bytes names `device`.
bool SimSetupNames(const std::vector<uint8_t>& datagram, size_t length, const SimDevice& device);

// Takes the settings of a setup datagram into `device` when the datagram is
// exactly 29 bytes and names the device's MAC (unless the device keeps its
// settings, setup-keep); false (device untouched) when it is not for it.
bool ApplySimSetup(const std::vector<uint8_t>& datagram, size_t length, SimDevice* device);

// One datagram that `device` sends after a setup, faults included; built from
// the device's settings as they are when it leaves.
std::vector<uint8_t> BuildSimSetupAnswer(const SimDevice& device, SimSetupReply kind);

// Applies each setup datagram (command code 2) to the devices it names and
// answers the sender as each device's setup behaviour says.
class SimSetup {
public:
    SimSetup(SimLoop& loop, SimUdpPort& port, std::vector<SimDevice>& devices)
        : loop_(loop), port_(port), devices_(devices) {}

    void Attach();

    // `applied` runs for each device that has just taken a setup's settings,
    // before it answers, so that other sides can follow its new address.
    void OnApplied(std::function<void(size_t device)> applied) { applied_ = std::move(applied); }

    // A device with a restart time goes off the network when its first answer
    // leaves (at the setup itself when it sends none): `began` runs then,
    // `ended` when it is back, so that other sides can stop and resume.
    void OnRestart(std::function<void(size_t device)> began,
                   std::function<void(size_t device)> ended) {
        restartBegan_ = std::move(began);
        restartEnded_ = std::move(ended);
    }

private:
    void Handle(const SimDatagram& datagram);
    void Answer(size_t device, const sockaddr_in& destination, size_t next, unsigned life);
    void SendNoise(size_t device, const sockaddr_in& destination, uint64_t endMs, unsigned n,
                   unsigned life);
    void Restart(size_t device);

    SimLoop& loop_;
    SimUdpPort& port_;
    std::vector<SimDevice>& devices_;
    std::function<void(size_t)> applied_;
    std::function<void(size_t)> restartBegan_;
    std::function<void(size_t)> restartEnded_;
};
