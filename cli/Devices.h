#pragma once

#include <cstdint>
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

// The interfaces joined for a table cell: "eth0,wlan0"; empty when unknown.
std::string InterfacesText(const FoundDevice& device);
