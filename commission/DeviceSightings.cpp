#include "commission/DeviceSightings.h"

#include <algorithm>

#include "discovery/DiscoveryDatagram.h"

MacAddress RecordMac(const uint8_t* record, size_t length) {
    MacAddress mac{};
    std::copy_n(record, std::min(length, mac.size()), mac.begin());
    return mac;
}

SightingNews DeviceSightings::Add(const uint8_t* datagram, ssize_t length,
                                  unsigned interfaceIndex) {
    if (!IsDiscoveryReply(datagram, length)) {
        return SightingNews::NotAReply;
    }
    return AddRecord(datagram + kReplyRecordOffset,
                     static_cast<size_t>(length) - kReplyRecordOffset, interfaceIndex);
}

SightingNews DeviceSightings::AddRecord(const uint8_t* record, size_t recordLength,
                                        unsigned interfaceIndex) {
    const MacAddress mac = RecordMac(record, recordLength);

    const auto known = byMac_.find(mac);
    if (known != byMac_.end()) {
        for (const size_t index : known->second) {
            DeviceSighting& sighting = sightings_[index];
            if (!std::equal(sighting.record.begin(), sighting.record.end(), record,
                            record + recordLength)) {
                continue;
            }
            if (std::find(sighting.interfaces.begin(), sighting.interfaces.end(), interfaceIndex) !=
                sighting.interfaces.end()) {
                return SightingNews::Known;
            }
            sighting.interfaces.push_back(interfaceIndex);
            return SightingNews::NewInterface;
        }
    }
    if (sightings_.size() >= kMostSightings) {
        ++overflowed_;
        return SightingNews::Overflow;
    }
    sightings_.push_back(
        DeviceSighting{mac, std::vector<uint8_t>(record, record + recordLength), {interfaceIndex}});
    byMac_[mac].push_back(sightings_.size() - 1);
    return known == byMac_.end() ? SightingNews::NewDevice : SightingNews::NewRecord;
}

std::vector<const DeviceSighting*> DeviceSightings::Of(const MacAddress& mac) const {
    std::vector<const DeviceSighting*> found;
    const auto known = byMac_.find(mac);
    if (known != byMac_.end()) {
        for (const size_t index : known->second) {
            found.push_back(&sightings_[index]);
        }
    }
    return found;
}
