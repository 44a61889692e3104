#include "cli/Devices.h"

#include <net/if.h>

#include <algorithm>
#include <map>

#include "common/ByteOrder.h"
#include "discovery/DeviceListRows.h"
#include "discovery/DeviceTable.h"
#include "discovery/DiscoverDevices.h"
#include "discovery/SortDeviceTable.h"

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

FoundDevice ReadDevice(const DeviceRecordView& record, unsigned interfaceIndex) {
    FoundDevice device;
    std::copy_n(record.bytes, std::min(record.length, kMacLength), device.mac.begin());
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
    device.unprogrammedMac = HasUnprogrammedMac(record);
    device.interfaceName = InterfaceName(interfaceIndex);
    return device;
}

}  // namespace

SearchOutcome SearchDevices(const SearchSettings& settings) {
    static uint8_t table[kDeviceTableSize];
    static uint8_t scratch[kDeviceTableSize];
    unsigned interfaces[kMaxDeviceRecords] = {};
    DiscoveryOptions options;
    options.replyInterfaces = interfaces;
    if (!settings.interfaceName.empty()) {
        options.interfaceIndex = if_nametoindex(settings.interfaceName.c_str());
    }

    SearchOutcome outcome;
    ResetDeviceTable(table);
    outcome.result = DiscoverDevices(table, sizeof table, settings.firstWaitSeconds,
                                     kSearchTimeLimitMs, options);
    outcome.tableFull = outcome.result == kDiscoverTableFull;
    if (!SearchResultIsListed(outcome.result, table)) {
        return outcome;
    }
    unsigned formerPositions[kMaxDeviceRecords] = {};
    SortDeviceTable(table, scratch, sizeof table, settings.sortByIp ? IpAscending : MacAscending,
                    formerPositions);
    DeviceRecordView records[kMaxDeviceRecords];
    const size_t count = ListDeviceRecords(table, sizeof table, records, kMaxDeviceRecords);
    for (size_t i = 0; i < count; ++i) {
        outcome.devices.push_back(ReadDevice(records[i], interfaces[formerPositions[i]]));
    }
    return outcome;
}

const FoundDevice* FindDevice(const std::vector<FoundDevice>& devices, const Mac& mac) {
    const auto found =
        std::find_if(devices.begin(), devices.end(),
                     [&mac](const FoundDevice& device) { return device.mac == mac; });
    return found == devices.end() ? nullptr : &*found;
}
