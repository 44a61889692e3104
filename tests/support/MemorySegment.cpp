#include "tests/support/MemorySegment.h"

#include <algorithm>

#include "channel/ChannelResult.h"

namespace {

// The device's side of the wire, from the tables. A discovery answer's record
// (the reply from byte 8 on): MAC, firmware 1.06, IP, mask, gateway, port
// (big-endian) and baud-rate code.
constexpr size_t kRecordLength = 23;
// A setup datagram: "KVM47JS", command 2, the MAC, then the new IP, mask,
// gateway, port (big-endian) and baud-rate code.
constexpr size_t kSetupCommandAt = 7;
constexpr uint8_t kSetupCommandCode = 2;
constexpr size_t kSetupMacAt = 8;
constexpr size_t kSetupIpAt = 14;
constexpr size_t kSetupMaskAt = 18;
constexpr size_t kSetupGatewayAt = 22;
constexpr size_t kSetupPortAt = 26;
constexpr size_t kSetupBaudAt = 28;

// Delays of the devices' answers: a search's answers arrive over a few
// milliseconds, a confirmation and a write's reply a little later.
constexpr int64_t kAnswerMs = 1;
constexpr int64_t kAnswerSpreadMs = 4;
constexpr int64_t kConfirmationMs = 3;
constexpr int64_t kWriteMs = 5;

void Put32(std::vector<uint8_t>& bytes, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
}

uint32_t Read32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

}  // namespace

std::vector<Instant> MemoryTraffic::SetupsOf(const std::array<uint8_t, 6>& mac) const {
    std::vector<Instant> times;
    for (const Setup& setup : setups) {
        if (setup.mac == mac) {
            times.push_back(setup.at);
        }
    }
    return times;
}

MemorySegment::MemorySegment(double lossPercent, uint32_t seed, bool portHeld)
    : loss_(lossPercent / 100), random_(seed), held_(portHeld) {}

MemoryDevice& MemorySegment::Add(const MemoryDevice& device) {
    byMac_[device.mac] = devices_.size();
    devices_.push_back({device, {}, false});
    return devices_.back().spec;
}

void MemorySegment::AddMany(size_t count, int64_t restartMs) {
    for (size_t i = 1; i <= count; ++i) {
        MemoryDevice device;
        device.mac = {0x02, 0, 0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
        device.ip = 0x0A000000 | static_cast<uint32_t>(i);
        device.gateway = 0x0A000001;
        device.restartMs = restartMs;
        Add(device);
    }
}

std::vector<uint8_t> MemorySegment::Record(size_t i) const {
    const MemoryDevice& device = devices_.at(i).spec;
    std::vector<uint8_t> record(device.mac.begin(), device.mac.end());
    record.push_back(1);
    record.push_back(6);
    Put32(record, device.ip);
    Put32(record, device.mask);
    Put32(record, device.gateway);
    record.push_back(static_cast<uint8_t>(device.port >> 8));
    record.push_back(static_cast<uint8_t>(device.port));
    record.push_back(device.baudCode);
    return record;
}

bool MemorySegment::OpenPort() {
    if (held_ || now_ < busyUntil_) {
        return false;
    }
    held_ = true;
    traffic_.taken.push_back(now_);
    return true;
}

void MemorySegment::ClosePort() {
    if (held_) {
        held_ = false;
        traffic_.givenBack.push_back(now_);
    }
}

bool MemorySegment::SendSearch() {
    traffic_.requests.push_back(now_);
    traffic_.sentWithoutPort += held_ ? 0 : 1;
    for (size_t i = 0; i < devices_.size(); ++i) {
        const Simulated& device = devices_[i];
        // The request and the answer, each lost on its own.
        if (!Up(device) || Lost() || Lost()) {
            continue;
        }
        Schedule({After(now_, kAnswerMs + static_cast<int64_t>(i) % kAnswerSpreadMs),
                  0,
                  Delivery::Answer,
                  Record(i),
                  device.spec.interfaceIndex,
                  {}});
    }
    return true;
}

bool MemorySegment::SendSetup(const uint8_t (&datagram)[kSetupDatagramLength],
                              unsigned interfaceIndex, uint32_t directTo) {
    std::array<uint8_t, 6> mac{};
    std::copy_n(datagram + kSetupMacAt, mac.size(), mac.begin());
    traffic_.setups.push_back({now_, mac, interfaceIndex});
    traffic_.sentWithoutPort += held_ ? 0 : 1;
    const auto known = byMac_.find(mac);
    if (known == byMac_.end() || datagram[kSetupCommandAt] != kSetupCommandCode) {
        return true;
    }
    Simulated& device = devices_[known->second];
    const bool reaches = directTo != 0
                             ? directTo == device.spec.ip
                             : interfaceIndex == 0 || interfaceIndex == device.spec.interfaceIndex;
    if (reaches && Up(device) && !device.spec.ignoresSetups && !Lost()) {
        Take(device, datagram);
    }
    return true;
}

void MemorySegment::Take(Simulated& device, const uint8_t* datagram) {
    MemoryDevice& spec = device.spec;
    spec.ip = Read32(datagram + kSetupIpAt);
    spec.mask = Read32(datagram + kSetupMaskAt);
    spec.gateway = Read32(datagram + kSetupGatewayAt);
    if (!spec.keepsPort) {
        spec.port = static_cast<uint16_t>(datagram[kSetupPortAt] << 8 | datagram[kSetupPortAt + 1]);
    }
    spec.baudCode = datagram[kSetupBaudAt];
    // It confirms, then restarts.
    if (!spec.losesConfirmations && !Lost()) {
        Schedule({After(now_, kConfirmationMs),
                  0,
                  Delivery::Confirmation,
                  std::vector<uint8_t>(spec.mac.begin(), spec.mac.end()),
                  spec.interfaceIndex,
                  {}});
    }
    device.quietForever = spec.restartMs == MemoryDevice::kNeverBack;
    device.quietUntil = After(now_, std::max<int64_t>(0, spec.restartMs));
}

void MemorySegment::WriteId(const IdWriteJob& job) {
    traffic_.idWrites.push_back(now_);
    IdWriteDone done;
    done.task = job.task;
    done.result = kTcpConnectFailed;
    for (Simulated& device : devices_) {
        if (device.spec.ip != job.ip || device.spec.port != job.port || !Up(device) ||
            device.spec.refusesId) {
            continue;
        }
        device.spec.id = job.id;
        done.result = 1;  // the reply's one data byte: the ID it holds now
        done.readBack = device.spec.answersId.value_or(job.id);
        break;
    }
    Schedule({After(now_, kWriteMs), 0, Delivery::Written, {}, 0, done});
}

Instant MemorySegment::NextDelivery() const {
    return due_.empty() ? kNever : due_.top().at;
}

void MemorySegment::Deliver(Instant now, SegmentClient& client) {
    while (!due_.empty() && due_.top().at <= now) {
        const Delivery delivery = due_.top();
        due_.pop();
        switch (delivery.kind) {
            case Delivery::Answer:
                client.Answer(now, delivery.bytes.data(), delivery.bytes.size(),
                              delivery.interfaceIndex);
                break;
            case Delivery::Confirmation:
                client.Confirmation(now, delivery.bytes.data());
                break;
            case Delivery::Written:
                client.IdWritten(now, delivery.done);
                break;
        }
    }
}

bool MemorySegment::Lost() {
    return loss_ > 0 && std::uniform_real_distribution<double>(0, 1)(random_) < loss_;
}

bool MemorySegment::Present(const Simulated& device) const {
    return now_ >= After(Instant{}, device.spec.appearsAtMs) &&
           (device.spec.vanishesAtMs < 0 || now_ < After(Instant{}, device.spec.vanishesAtMs));
}

bool MemorySegment::Up(const Simulated& device) const {
    return Present(device) && !device.quietForever && now_ >= device.quietUntil;
}

void MemorySegment::Schedule(Delivery delivery) {
    delivery.order = sent_++;
    due_.push(std::move(delivery));
}

MemoryRun RunInMemory(SegmentClient& client, MemorySegment& segment,
                      const std::function<bool(Instant)>& done, Instant limit, Instant stopAt) {
    Instant now = segment.Now();
    for (;;) {
        segment.SetTime(now);
        if (now >= stopAt) {
            client.Stop(now);
            return {false, now};
        }
        client.Advance(now);
        if (done(now)) {
            client.End(now);
            return {true, now};
        }
        const Instant next = std::min({client.NextWake(), segment.NextDelivery(), stopAt});
        if (next > limit) {
            return {false, limit};
        }
        now = std::max(now, next);
        segment.SetTime(now);
        segment.Deliver(now, client);
    }
}
