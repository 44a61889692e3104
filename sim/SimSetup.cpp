#include "sim/SimSetup.h"

#include <cstring>

#include "sim/SimDiscovery.h"

namespace {

// The setup datagram as a device reads it.
constexpr uint8_t kSetupCode = 2;
constexpr size_t kSetupLength = 29;
constexpr size_t kMacAt = 8;
constexpr size_t kIpAt = 14;
constexpr size_t kMaskAt = 18;
constexpr size_t kGatewayAt = 22;
constexpr size_t kPortHighAt = 26;
constexpr size_t kPortLowAt = 27;
constexpr size_t kBaudAt = 28;

constexpr size_t kShortAnswerLength = 13;
// One byte more than the tool's receive buffer holds.
constexpr size_t kOversizedAnswerLength = 257;
constexpr char kRequestIdentifier[] = "KVM47JS";
// Flipped in the last MAC byte to make another device's MAC.
constexpr uint8_t kOtherMacFlip = 0xFF;
constexpr size_t kLastMacByte = 5;

template <size_t N>
void Take(const std::vector<uint8_t>& datagram, size_t offset, std::array<uint8_t, N>* field) {
    std::memcpy(field->data(), datagram.data() + offset, N);
}

// A device that kept its settings has nothing to restart for.
bool RestartsAfterSetup(const SimDevice& device) {
    return device.setup.restartMs > 0 && !device.setup.keep;
}

}  // namespace

bool SimSetupNames(const std::vector<uint8_t>& datagram, size_t length, const SimDevice& device) {
    return length == kSetupLength && datagram.size() >= kSetupLength &&
           std::memcmp(datagram.data() + kMacAt, device.mac.data(), device.mac.size()) == 0;
}

bool ApplySimSetup(const std::vector<uint8_t>& datagram, size_t length, SimDevice* device) {
    if (!SimSetupNames(datagram, length, *device)) {
        return false;
    }
    // A device that refuses a value without saying so still confirms.
    if (device->setup.keep) {
        return true;
    }
    Take(datagram, kIpAt, &device->ip);
    Take(datagram, kMaskAt, &device->mask);
    Take(datagram, kGatewayAt, &device->gateway);
    device->servicePort =
        static_cast<uint16_t>((datagram[kPortHighAt] << 8) | datagram[kPortLowAt]);
    device->baudCode = datagram[kBaudAt];
    return true;
}

std::vector<uint8_t> BuildSimSetupAnswer(const SimDevice& device, SimSetupReply kind) {
    // The confirmation has the discovery reply's layout, with the setup's
    // code: it shows the settings just taken.
    SimDevice answering = device;
    answering.discovery = SimDiscoveryBehaviour{};
    if (kind == SimSetupReply::Discovery) {
        return BuildSimDiscoveryReply(answering);
    }
    answering.discovery.commandCode = device.setup.confirmCode;
    answering.discovery.replyLength = device.setup.confirmLength;
    switch (kind) {
        case SimSetupReply::Short:
            answering.discovery.replyLength = static_cast<int>(kShortAnswerLength);
            break;
        case SimSetupReply::OtherMac:
            answering.mac[kLastMacByte] ^= kOtherMacFlip;
            break;
        case SimSetupReply::RequestIdent:
            answering.discovery.identifier = kRequestIdentifier;
            break;
        case SimSetupReply::Oversized:
            answering.discovery.replyLength = static_cast<int>(kOversizedAnswerLength);
            break;
        default:
            break;
    }
    return BuildSimDiscoveryReply(answering);
}

void SimSetup::Attach() {
    port_.OnCommand(kSetupCode, [this](const SimDatagram& datagram) { Handle(datagram); });
}

void SimSetup::Handle(const SimDatagram& datagram) {
    for (size_t i = 0; i < devices_.size(); ++i) {
        SimDevice& device = devices_[i];
        // A restarting device hears nothing, not even its own MAC; every
        // other one hears its own copy of the datagram, and may lose it alone.
        if (device.Offline() || port_.Lost()) {
            continue;
        }
        if (device.setup.dropFirst > 0 && SimSetupNames(datagram.bytes, datagram.length, device)) {
            --device.setup.dropFirst;
            continue;
        }
        if (!ApplySimSetup(datagram.bytes, datagram.length, &device)) {
            continue;
        }
        device.restartDue = RestartsAfterSetup(device);
        if (applied_) {
            applied_(i);
        }
        const sockaddr_in sender = datagram.sender;
        const unsigned life = device.restarts;
        if (!device.setup.replies.empty()) {
            loop_.After(device.setup.delayMs,
                        [this, i, sender, life] { Answer(i, sender, 0, life); });
        } else if (RestartsAfterSetup(device)) {
            Restart(i);
        }
        if (device.setup.noiseIntervalMs > 0) {
            const uint64_t endMs =
                device.setup.noiseForMs > 0
                    ? SimLoop::NowMs() + static_cast<uint64_t>(device.setup.noiseForMs)
                    : 0;
            SendNoise(i, sender, endMs, 0, life);
        }
    }
}

void SimSetup::Answer(size_t device, const sockaddr_in& destination, size_t next, unsigned life) {
    const SimDevice& current = devices_[device];
    // A restart forgets the answers still to come.
    if (current.restarts != life || next >= current.setup.replies.size()) {
        return;
    }
    const std::vector<uint8_t> answer = BuildSimSetupAnswer(current, current.setup.replies[next]);
    if (next == 0 && RestartsAfterSetup(current)) {
        // Off the network before the answer leaves: after it, a peer that
        // acts on it at once could still find the TCP service up.
        Restart(device);
        port_.SendTo(destination, answer);
        return;
    }
    port_.SendTo(destination, answer);
    loop_.After(current.setup.gapMs, [this, device, destination, next, life] {
        Answer(device, destination, next + 1, life);
    });
}

void SimSetup::SendNoise(size_t device, const sockaddr_in& destination, uint64_t endMs, unsigned n,
                         unsigned life) {
    if (devices_[device].restarts != life || (endMs != 0 && SimLoop::NowMs() >= endMs)) {
        return;
    }
    port_.SendTo(destination, BuildSimNoise(n));
    loop_.After(devices_[device].setup.noiseIntervalMs,
                [this, device, destination, endMs, n, life] {
                    SendNoise(device, destination, endMs, n + 1, life);
                });
}

void SimSetup::Restart(size_t device) {
    SimDevice& current = devices_[device];
    current.restarting = true;
    current.restartDue = false;
    ++current.restarts;
    if (restartBegan_) {
        restartBegan_(device);
    }
    // No setup reaches a restarting device, so nothing begins another restart
    // before this one ends.
    loop_.After(current.setup.restartMs, [this, device] {
        devices_[device].restarting = false;
        // One unplugged meanwhile stays off.
        if (restartEnded_ && !devices_[device].unplugged) {
            restartEnded_(device);
        }
    });
}
