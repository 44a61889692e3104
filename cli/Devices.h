#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/Values.h"
#include "commission/DeviceSightings.h"

// A device's network settings, each as far as it is known: what a device
// reports, or what a person asks for.
struct NetworkSettings {
    std::optional<uint32_t> ip;  // host byte order
    std::optional<uint32_t> mask;
    std::optional<uint32_t> gateway;
    std::optional<uint16_t> port;
    std::optional<uint8_t> baudCode;
};

// A device as the searches found it, read from its record the way the
// window's list reads it. A short record leaves the settings it lacks empty.
struct FoundDevice : NetworkSettings {
    Mac mac{};
    std::string version;   // as the list shows it, "1.06"
    std::string baudRate;  // the rate of the code, empty for a code outside the table
    std::vector<std::string> interfaces;  // every one it answered on, first heard first
    std::vector<unsigned> interfaceIndexes;
};

struct SearchSettings {
    int firstWaitSeconds = 2;
    int passes = 3;
    bool sortByIp = false;
    std::string interfaceName;  // empty: the window's way, every route
};

// The device a record describes, heard on `interfaces`.
FoundDevice ReadFoundDevice(const std::vector<uint8_t>& record,
                            const std::vector<unsigned>& interfaces = {});

// Every sighting as a device, sorted ascending by MAC or IP (a device without
// an address first), devices of equal keys in the order they were heard.
std::vector<FoundDevice> ListDevices(const DeviceSightings& sightings, bool sortByIp);

// True for a MAC ending in FF.FF.FF: one never programmed, which several
// devices may share.
bool UnprogrammedMac(const Mac& mac);

class RowWriter;

// A device's fields as a row, in every format. `listed`: the device is the
// row (search, watch): its MAC, version and interfaces show in a table too,
// and its MAC in CSV. Otherwise they show in JSON only (the settings of a
// report row's device).
void PutDevice(RowWriter& row, const FoundDevice& device, bool listed);

// The device's fields for JSON output; null for what its record lacks.
nlohmann::ordered_json DeviceJson(const FoundDevice& device);

// The one device that answers as `mac`, or why there is none to set up: no
// answer (`missing`), or devices with different settings that share the
// MAC, which a setup by that MAC would all reach.
struct DeviceLookup {
    std::optional<FoundDevice> device;
    bool missing = false;
    std::string refusal;  // empty when `device` is there
};
DeviceLookup LookUpDevice(const DeviceSightings& heard, const Mac& mac);

// Addresses in use on the segment, and whose: a plan must not move a device
// to an address another device has.
class AddressBook {
public:
    // Every device a search heard.
    void AddAll(const DeviceSightings& heard);
    void Add(uint32_t ip, const Mac& owner) { owners_.emplace(ip, owner); }
    // A device takes `ip` as its own (its target address).
    void Take(uint32_t ip, const Mac& owner);
    // Another device than `self` that has `ip`, if any.
    std::optional<Mac> OtherOwner(uint32_t ip, const Mac& self) const;

private:
    std::multimap<uint32_t, Mac> owners_;
};
