#include "sim/SimDiscovery.h"

#include <cstring>

namespace {

// The discovery exchange as a device sees it.
constexpr uint8_t kSearchCode = 1;
constexpr size_t kRequestLength = 8;

// Reply layout: offset, and the field that goes there.
constexpr size_t kIdentifierAt = 0;
constexpr size_t kCodeAt = 7;
constexpr size_t kMacAt = 8;
constexpr size_t kMajorAt = 14;
constexpr size_t kMinorAt = 15;
constexpr size_t kIpAt = 16;
constexpr size_t kMaskAt = 20;
constexpr size_t kGatewayAt = 24;
constexpr size_t kPortHighAt = 28;
constexpr size_t kPortLowAt = 29;
constexpr size_t kBaudAt = 30;
constexpr size_t kExtraAt = 31;

constexpr uint8_t kSetupConfirmCode = 2;
constexpr size_t kNoiseKinds = 4;

template <size_t N>
void Put(std::vector<uint8_t>& reply, size_t offset, const std::array<uint8_t, N>& bytes) {
    std::memcpy(reply.data() + offset, bytes.data(), N);
}

}  // namespace

std::vector<uint8_t> BuildSimDiscoveryReply(const SimDevice& device) {
    std::vector<uint8_t> reply(kExtraAt + device.extra.size());
    std::memcpy(reply.data() + kIdentifierAt, device.discovery.identifier.data(),
                device.discovery.identifier.size());
    reply[kCodeAt] = device.discovery.commandCode;
    Put(reply, kMacAt, device.mac);
    reply[kMajorAt] = device.versionMajor;
    reply[kMinorAt] = device.versionMinor;
    Put(reply, kIpAt, device.ip);
    Put(reply, kMaskAt, device.mask);
    Put(reply, kGatewayAt, device.gateway);
    reply[kPortHighAt] = static_cast<uint8_t>(device.servicePort >> 8);
    reply[kPortLowAt] = static_cast<uint8_t>(device.servicePort & 0xFF);
    reply[kBaudAt] = device.baudCode;
    std::copy(device.extra.begin(), device.extra.end(), reply.begin() + kExtraAt);
    if (device.discovery.replyLength > 0) {
        reply.resize(static_cast<size_t>(device.discovery.replyLength), 0);
    }
    return reply;
}

std::vector<uint8_t> BuildSimNoise(unsigned n) {
    SimDevice stranger;
    stranger.mac = {0x02, 0xBA, 0xD0, 0x00, 0x00, static_cast<uint8_t>(n)};
    switch (n % kNoiseKinds) {
        case 0:
            return {'K', 'V', 'M', '4'};
        case 1:
            stranger.discovery.replyLength = static_cast<int>(kRequestLength);
            break;
        case 2:
            stranger.discovery.commandCode = kSetupConfirmCode;
            break;
        default:
            stranger.discovery.identifier = "KVM47JX";
            break;
    }
    return BuildSimDiscoveryReply(stranger);
}

void SimDiscovery::Attach() {
    port_.OnCommand(kSearchCode, [this](const SimDatagram& request) { Answer(request); });
}

void SimDiscovery::Answer(const SimDatagram& request) {
    // A device answers only the exact request; anything else from the tool
    // is a fault that the tests should see as silence.
    if (request.length != kRequestLength) {
        return;
    }
    const sockaddr_in requester = request.sender;
    for (size_t i = 0; i < devices_.size(); ++i) {
        const SimDevice& device = devices_[i];
        // Every device hears its own copy of the request, and may lose it
        // alone.
        if (device.discovery.silent || device.Offline() || port_.Lost()) {
            continue;
        }
        // Built when it leaves, so settings changed meanwhile show.
        const unsigned life = device.restarts;
        loop_.After(device.discovery.delayMs, [this, i, requester, life] {
            const SimDevice& current = devices_[i];
            // A restart meanwhile forgets the request.
            if (current.restarts != life) {
                return;
            }
            const std::vector<uint8_t> reply = BuildSimDiscoveryReply(current);
            for (int copy = 0; copy < current.discovery.copies; ++copy) {
                port_.SendTo(requester, reply);
            }
        });
    }
    if (noise_.intervalMs > 0) {
        const uint64_t endMs =
            noise_.durationMs > 0 ? SimLoop::NowMs() + static_cast<uint64_t>(noise_.durationMs) : 0;
        SendNoise(requester, endMs, 0);
    }
}

void SimDiscovery::SendNoise(const sockaddr_in& destination, uint64_t endMs, unsigned n) {
    if (endMs != 0 && SimLoop::NowMs() >= endMs) {
        return;
    }
    port_.SendTo(destination, BuildSimNoise(n));
    loop_.After(noise_.intervalMs,
                [this, destination, endMs, n] { SendNoise(destination, endMs, n + 1); });
}
