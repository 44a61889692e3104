#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/Values.h"

// The devices one search found, read from the DeviceTable the same way the
// window's list reads it.
struct FoundDevice {
    Mac mac{};
    // What the record holds; a short record leaves the missing fields empty.
    std::optional<uint32_t> ip;
    std::optional<uint32_t> mask;
    std::optional<uint32_t> gateway;
    std::optional<uint16_t> port;
    std::optional<uint8_t> baudCode;
    std::string version;           // as the list shows it, "1.06"
    std::string baudRate;          // the rate of the code, empty for a code outside the table
    std::string interfaceName;     // where the reply came in
    bool unprogrammedMac = false;  // MAC ends in FF.FF.FF
};

struct SearchSettings {
    int firstWaitSeconds = 2;
    bool sortByIp = false;
    std::string interfaceName;  // empty: the window's way, every route
};

struct SearchOutcome {
    int result = 0;  // DiscoverDevices' result
    bool tableFull = false;
    std::vector<FoundDevice> devices;
};

// One discovery, as the window's Search runs it, sorted ascending by MAC or
// IP. The caller tells the failures apart by `result`.
SearchOutcome SearchDevices(const SearchSettings& settings);

// The device with `mac`, or null.
const FoundDevice* FindDevice(const std::vector<FoundDevice>& devices, const Mac& mac);
