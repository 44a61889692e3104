#include "commission/SegmentWatch.h"

void SegmentWatch::Heard(const uint8_t* record, size_t length, unsigned interfaceIndex) {
    const MacAddress mac = RecordMac(record, length);
    WatchedDevice& device = heard_[mac];
    device.mac = mac;
    device.records.insert(std::vector<uint8_t>(record, record + length));
    device.interfaces.insert(interfaceIndex);
}

std::vector<SegmentChange> SegmentWatch::SearchEnded() {
    std::vector<SegmentChange> changes;
    for (auto& [mac, now] : heard_) {
        const auto known = devices_.find(mac);
        if (known == devices_.end() || known->second.gone) {
            changes.push_back({SegmentChange::Appeared, now, {}});
        } else if (known->second.records != now.records) {
            changes.push_back({SegmentChange::Changed, now, known->second.records});
        }
        devices_[mac] = now;
    }
    for (auto& [mac, device] : devices_) {
        if (heard_.count(mac) != 0 || device.gone) {
            continue;
        }
        if (++device.missed >= kMissesForGone) {
            device.gone = true;
            changes.push_back({SegmentChange::Gone, device, {}});
        }
    }
    heard_.clear();
    return changes;
}

size_t SegmentWatch::Present() const {
    size_t present = 0;
    for (const auto& entry : devices_) {
        present += entry.second.gone ? 0 : 1;
    }
    return present;
}
