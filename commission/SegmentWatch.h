#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "commission/DeviceSightings.h"

// The devices of a segment as searches see them over time: which appeared,
// which changed their settings, which are gone. A device is gone when it has
// not answered kMissesForGone searches in a row: one search can miss a device
// whose request or answer was lost.

struct WatchedDevice {
    MacAddress mac{};
    // The records it answered with in its last search (two or more: devices
    // that share the MAC).
    std::set<std::vector<uint8_t>> records;
    std::set<unsigned> interfaces;
    size_t missed = 0;  // searches in a row without its answer
    bool gone = false;
};

struct SegmentChange {
    enum Kind { Appeared, Changed, Gone };
    Kind kind = Appeared;
    WatchedDevice device;                   // as it is now
    std::set<std::vector<uint8_t>> before;  // Changed: the records before
};

class SegmentWatch {
public:
    static constexpr size_t kMissesForGone = 3;

    // An answer of the search under way.
    void Heard(const uint8_t* record, size_t length, unsigned interfaceIndex);
    // The search has ended: what changed since the one before.
    std::vector<SegmentChange> SearchEnded();

    const std::map<MacAddress, WatchedDevice>& Devices() const { return devices_; }
    size_t Present() const;
    bool AnyAnswered() const { return !devices_.empty(); }

private:
    std::map<MacAddress, WatchedDevice> devices_;
    // What the search under way has heard, by MAC.
    std::map<MacAddress, WatchedDevice> heard_;
};
