#include "cli/Devices.h"

#include <net/if.h>

#include <algorithm>
#include <map>

#include "common/ByteOrder.h"
#include "discovery/DeviceListRows.h"

namespace {

std::optional<uint32_t> Address(const DeviceRecordView& record, size_t offset) {
    const uint8_t* field = RecordField(record, offset, kIpv4Length);
    if (field == nullptr) {
        return std::nullopt;
    }
    return ReadBigEndian32(field);
}

// Each lookup costs a socket and an ioctl; a search of 255 devices asks
// about one or two interfaces.
std::string InterfaceName(unsigned index) {
    static std::map<unsigned, std::string> names;
    const auto known = names.find(index);
    if (known != names.end()) {
        return known->second;
    }
    char name[IF_NAMESIZE] = {};
    const bool named = index != 0 && if_indextoname(index, name) != nullptr;
    return names[index] = named ? name : "";
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
        const std::string name = InterfaceName(index);
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

std::string InterfacesText(const FoundDevice& device) {
    std::string text;
    for (const std::string& name : device.interfaces) {
        text += (text.empty() ? "" : ",") + name;
    }
    return text;
}
