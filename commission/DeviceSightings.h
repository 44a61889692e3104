#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "discovery/DeviceRecord.h"
#include "platform/SignedSize.h"

using MacAddress = std::array<uint8_t, kMacLength>;

// One device as a run of searches heard it: its record (the reply from byte 8
// on, kept verbatim) and every interface it answered on.
struct DeviceSighting {
    MacAddress mac{};  // the record's first bytes; zeros where a short record ends
    std::vector<uint8_t> record;
    std::vector<unsigned> interfaces;  // first heard first; 0: not known
};

// What one datagram added to the sightings.
enum class SightingNews {
    NotAReply,     // not a discovery reply; nothing changed
    Known,         // a record and interface heard before
    NewInterface,  // a known record, heard on another interface as well
    NewDevice,     // a MAC not heard before
    NewRecord,     // a known MAC with another record: another device with the same MAC
    Overflow,      // a new record beyond kMostSightings; not kept
};

// The replies of repeated searches, merged: a device that answers several
// requests, or on several interfaces, is one sighting. A MAC that answers
// with two different records is two devices that share it (devices whose MAC
// was never programmed may), and stays two sightings.
class DeviceSightings {
public:
    // Replies of further devices are counted, not kept: far more than a
    // broadcast segment holds, and a bound on what a flood of forged replies
    // can take.
    static constexpr size_t kMostSightings = 4096;

    SightingNews Add(const uint8_t* datagram, ssize_t length, unsigned interfaceIndex);
    // The same for a reply's record (bytes 8 on), heard on `interfaceIndex`.
    SightingNews AddRecord(const uint8_t* record, size_t length, unsigned interfaceIndex);

    const std::vector<DeviceSighting>& All() const { return sightings_; }
    // The sightings of one MAC, in the order they were first heard.
    std::vector<const DeviceSighting*> Of(const MacAddress& mac) const;
    bool Heard(const MacAddress& mac) const { return byMac_.count(mac) != 0; }
    // Replies with a new record that did not fit.
    size_t Overflowed() const { return overflowed_; }

private:
    std::vector<DeviceSighting> sightings_;
    std::map<MacAddress, std::vector<size_t>> byMac_;
    size_t overflowed_ = 0;
};

// The MAC of a record: its first bytes, zeros where it ends before.
MacAddress RecordMac(const uint8_t* record, size_t length);
