#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <queue>
#include <random>
#include <vector>

#include "commission/Segment.h"

// A segment of simulated devices in memory, for the decisions of commission/
// in virtual time: no socket, no thread, no clock. Each device answers
// searches, takes setup datagrams addressed to its MAC (restarting for a
// while after each), confirms them and takes ID writes, as velquint-sim's
// devices do; and like them it misbehaves on request. Datagrams are lost at
// a seeded rate, each way, each device on its own. The device side reads and
// writes bytes from the wire tables, not through the tool's own encoders, so
// that a mistake there is not mirrored here.
//
// RunInMemory plays the driver: it tells the client the time and delivers
// what is due, jumping from one moment to the next.

struct MemoryDevice {
    static constexpr int64_t kNeverBack = -1;

    std::array<uint8_t, 6> mac{};
    uint32_t ip = 0;  // host byte order
    uint32_t mask = 0xFFFF0000;
    uint32_t gateway = 0;
    uint16_t port = 4001;
    uint8_t baudCode = 3;
    uint8_t id = 0;
    unsigned interfaceIndex = 1;  // the card of the tool's that hears it

    // Faults.
    int64_t restartMs = 0;             // quiet this long after taking a setup; kNeverBack
    bool losesConfirmations = false;   // takes a setup without confirming it
    bool ignoresSetups = false;        // never takes one (it still answers searches)
    bool keepsPort = false;            // takes every value of a setup but its port
    bool refusesId = false;            // refuses every connection to its service
    std::optional<uint8_t> answersId;  // answers an ID write with this ID
    int64_t appearsAtMs = 0;           // on the segment from then
    int64_t vanishesAtMs = -1;         // gone from then (-1: never)
};

// What went out, for the tests' account of it.
struct MemoryTraffic {
    std::vector<Instant> requests;
    struct Setup {
        Instant at;
        std::array<uint8_t, 6> mac;
        unsigned interfaceIndex;
    };
    std::vector<Setup> setups;
    std::vector<Instant> idWrites;
    // When the port was taken and given back, in turn; a run that ends with
    // it held has one entry more in `taken`.
    std::vector<Instant> taken;
    std::vector<Instant> givenBack;
    // Requests and setups sent while the port was not held: none may be.
    size_t sentWithoutPort = 0;

    std::vector<Instant> SetupsOf(const std::array<uint8_t, 6>& mac) const;
};

class MemorySegment : public SegmentActions {
public:
    // `lossPercent` of datagrams lost each way, drawn from `seed`.
    explicit MemorySegment(double lossPercent = 0, uint32_t seed = 1, bool portHeld = true);

    MemoryDevice& Add(const MemoryDevice& device);
    // `count` well-behaved devices with MACs 02.00.00.00.hi.lo and
    // addresses 10.0.hi.lo from device 1 on, each with `restartMs`.
    void AddMany(size_t count, int64_t restartMs);
    MemoryDevice& Device(size_t i) { return devices_.at(i).spec; }
    size_t Devices() const { return devices_.size(); }
    // The record device `i` answers a search with now.
    std::vector<uint8_t> Record(size_t i) const;
    // Another program holds port 3195 until `until`.
    void BusyUntil(Instant until) { busyUntil_ = until; }

    // SegmentActions, at the time of the last SetTime.
    bool OpenPort() override;
    void ClosePort() override;
    bool SendSearch() override;
    bool SendSetup(const uint8_t (&datagram)[kSetupDatagramLength], unsigned interfaceIndex,
                   uint32_t directTo) override;
    void WriteId(const IdWriteJob& job) override;

    void SetTime(Instant now) { now_ = now; }
    Instant Now() const { return now_; }
    // When the next datagram or write result is due (kNever: none).
    Instant NextDelivery() const;
    // Delivers what is due at `now`.
    void Deliver(Instant now, SegmentClient& client);

    const MemoryTraffic& Traffic() const { return traffic_; }

private:
    struct Simulated {
        MemoryDevice spec;
        Instant quietUntil{};  // restarting until then
        bool quietForever = false;
    };
    struct Delivery {
        Instant at;
        uint64_t order;  // first sent, first delivered
        enum Kind { Answer, Confirmation, Written } kind;
        std::vector<uint8_t> bytes;  // the record, or the MAC
        unsigned interfaceIndex;
        IdWriteDone done;
        bool operator>(const Delivery& other) const {
            return at != other.at ? at > other.at : order > other.order;
        }
    };

    bool Lost();
    bool Present(const Simulated& device) const;
    bool Up(const Simulated& device) const;
    void Take(Simulated& device, const uint8_t* datagram);
    void Schedule(Delivery delivery);

    double loss_;
    std::mt19937 random_;
    std::vector<Simulated> devices_;
    std::map<std::array<uint8_t, 6>, size_t> byMac_;
    std::priority_queue<Delivery, std::vector<Delivery>, std::greater<Delivery>> due_;
    uint64_t sent_ = 0;
    Instant now_{};
    Instant busyUntil_{};
    bool held_;
    MemoryTraffic traffic_;
};

// How a run in memory ended.
struct MemoryRun {
    bool done = false;  // `done` held; otherwise the time limit passed first
    Instant end{};
};

// Drives `client` on `segment` from the segment's time on, until `done`
// holds after a turn, or `limit` passes. With `stopAt`, the client is
// stopped at that moment instead.
MemoryRun RunInMemory(SegmentClient& client, MemorySegment& segment,
                      const std::function<bool(Instant)>& done, Instant limit,
                      Instant stopAt = kNever);
