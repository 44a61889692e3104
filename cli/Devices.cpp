#include "cli/Devices.h"

#include <algorithm>
#include <map>

#include <nlohmann/json.hpp>

#include "cli/Row.h"
#include "common/ByteOrder.h"
#include "discovery/DeviceListRows.h"
#include "platform/Interfaces.h"

namespace {

std::optional<uint32_t> Address(const DeviceRecordView& record, size_t offset) {
    const uint8_t* field = RecordField(record, offset, kIpv4Length);
    if (field == nullptr) {
        return std::nullopt;
    }
    return ReadBigEndian32(field);
}

// Each lookup costs a socket and an ioctl (on Windows, the adapter list); a
// search of 255 devices asks about one or two interfaces.
std::string KnownInterfaceName(unsigned index) {
    static std::map<unsigned, std::string> names;
    const auto known = names.find(index);
    if (known != names.end()) {
        return known->second;
    }
    return names[index] = InterfaceName(index);
}

}  // namespace

FoundDevice ReadFoundDevice(const std::vector<uint8_t>& bytes,
                            const std::vector<unsigned>& interfaces) {
    const DeviceRecordView record{bytes.data(), bytes.size()};
    FoundDevice device;
    device.mac = RecordMac(record.bytes, record.length);
    device.ip = Address(record, kRecordIpOffset);
    device.mask = Address(record, kRecordMaskOffset);
    device.gateway = Address(record, kRecordGatewayOffset);
    uint16_t port = 0;
    if (RecordPort(record, &port)) {
        device.port = port;
    }
    if (RecordHolds(record, kRecordBaudCodeOffset, 1)) {
        device.baudCode = record.bytes[kRecordBaudCodeOffset];
    }
    const DeviceRowTexts texts = MakeDeviceRowTexts(record);
    device.version = texts.subItems[kSubItemVersion];
    device.baudRate = texts.subItems[kSubItemBaudRate];
    device.interfaceIndexes = interfaces;
    for (const unsigned index : interfaces) {
        const std::string name = KnownInterfaceName(index);
        if (!name.empty()) {
            device.interfaces.push_back(name);
        }
    }
    return device;
}

std::vector<FoundDevice> ListDevices(const DeviceSightings& sightings, bool sortByIp) {
    std::vector<FoundDevice> devices;
    for (const DeviceSighting& sighting : sightings.All()) {
        devices.push_back(ReadFoundDevice(sighting.record, sighting.interfaces));
    }
    std::stable_sort(devices.begin(), devices.end(),
                     [sortByIp](const FoundDevice& a, const FoundDevice& b) {
                         return sortByIp ? a.ip < b.ip : a.mac < b.mac;
                     });
    return devices;
}

bool UnprogrammedMac(const Mac& mac) {
    return HasUnprogrammedMac(DeviceRecordView{mac.data(), mac.size()});
}

void PutDevice(RowWriter& row, const FoundDevice& device, bool listed) {
    const unsigned own = listed ? kInEveryFormat : kInJson;
    row.Text("mac", MacText(device.mac), own);
    row.Address("ip", device.ip);
    row.Address("mask", device.mask);
    row.Address("gateway", device.gateway);
    row.Number("port", device.port);
    row.Text("baud", device.baudRate, kInTable | kInCsv);
    row.Number("baud",
               device.baudRate.empty() ? std::nullopt
                                       : std::optional<int64_t>(std::stoul(device.baudRate)),
               kInJson);
    row.Number("baudCode", device.baudCode, kInJson);
    row.Text("version", device.version, own & ~kInCsv);
    row.Text("interface", device.interfaces.empty() ? "" : device.interfaces.front(), kInJson);
    row.Names({"interfaces", "INTERFACE"}, device.interfaces, own & ~kInCsv);
}

nlohmann::ordered_json DeviceJson(const FoundDevice& device) {
    FormatRow row(FormatRow::Kind::Json);
    PutDevice(row, device, true);
    return row.Json();
}

DeviceLookup LookUpDevice(const DeviceSightings& heard, const Mac& mac) {
    const std::vector<const DeviceSighting*> answered = heard.Of(mac);
    DeviceLookup lookup;
    if (answered.empty()) {
        lookup.missing = true;
        lookup.refusal = "no device with MAC " + MacText(mac) + " answered the search";
        return lookup;
    }
    if (answered.size() > 1) {
        std::string addresses;
        for (const DeviceSighting* sighting : answered) {
            const FoundDevice twin = ReadFoundDevice(sighting->record);
            addresses += (addresses.empty() ? "" : ", ") +
                         (twin.ip ? DottedText(*twin.ip) : std::string("no address"));
        }
        lookup.refusal = std::to_string(answered.size()) + " devices with different settings (" +
                         addresses + ") answer as MAC " + MacText(mac) +
                         ": a setup by that MAC would reach all of them";
        return lookup;
    }
    lookup.device = ReadFoundDevice(answered.front()->record, answered.front()->interfaces);
    return lookup;
}

void AddressBook::AddAll(const DeviceSightings& heard) {
    for (const DeviceSighting& sighting : heard.All()) {
        const FoundDevice device = ReadFoundDevice(sighting.record);
        if (device.ip) {
            Add(*device.ip, sighting.mac);
        }
    }
}

void AddressBook::Take(uint32_t ip, const Mac& owner) {
    owners_.erase(ip);
    owners_.emplace(ip, owner);
}

std::optional<Mac> AddressBook::OtherOwner(uint32_t ip, const Mac& self) const {
    const auto [first, last] = owners_.equal_range(ip);
    for (auto owner = first; owner != last; ++owner) {
        if (owner->second != self) {
            return owner->second;
        }
    }
    return std::nullopt;
}
