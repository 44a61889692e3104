#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/Values.h"

// A device's network settings, each as far as it is known: what a device
// reports, or what a person asks for.
struct NetworkSettings {
    std::optional<uint32_t> ip;  // host byte order
    std::optional<uint32_t> mask;
    std::optional<uint32_t> gateway;
    std::optional<uint16_t> port;
    std::optional<uint8_t> baudCode;
};

// The devices one search found, read from the DeviceTable the same way the
// window's list reads it. A short record leaves the settings it lacks empty.
struct FoundDevice : NetworkSettings {
    Mac mac{};
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
