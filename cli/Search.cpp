#include "cli/Search.h"

#include <net/if.h>

#include "cli/Cli.h"
#include "discovery/DiscoverDevices.h"

namespace {

template <typename Value>
nlohmann::ordered_json OrNull(const std::optional<Value>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json AddressOrNull(const std::optional<uint32_t>& value) {
    return value ? nlohmann::ordered_json(DottedText(*value)) : nlohmann::ordered_json(nullptr);
}

}  // namespace

std::vector<FoundDevice> SearchOrFail(const SearchSettings& settings) {
    if (!settings.interfaceName.empty() && if_nametoindex(settings.interfaceName.c_str()) == 0) {
        Fail(kExitLocal, "no interface named " + settings.interfaceName);
    }
    const SearchOutcome outcome = SearchDevices(settings);
    switch (outcome.result) {
        case kDiscoverSocketFailed:
        case kDiscoverBroadcastOptionFailed:
        case kDiscoverDontRouteOptionFailed:
            Fail(kExitLocal, "cannot open a UDP socket for the search");
        case kDiscoverBindFailed:
            Fail(kExitLocal, "port 3195 is in use by another program");
        case kDiscoverSendFailed:
            Fail(kExitLocal, settings.interfaceName.empty()
                                 ? "the search request went out of no interface (none is up "
                                   "with an IPv4 broadcast address)"
                                 : "the search request could not go out of " +
                                       settings.interfaceName +
                                       " (down, or without an IPv4 broadcast address)");
        default:
            break;
    }
    if (outcome.tableFull) {
        Warn("the device table ran full: more devices answered than are listed");
    }
    return outcome.devices;
}

nlohmann::ordered_json DeviceJson(const FoundDevice& device) {
    nlohmann::ordered_json fields = {
        {"mac", MacText(device.mac)},
        {"ip", AddressOrNull(device.ip)},
        {"mask", AddressOrNull(device.mask)},
        {"gateway", AddressOrNull(device.gateway)},
        {"port", OrNull(device.port)},
        {"baud", device.baudRate.empty() ? nlohmann::ordered_json(nullptr)
                                         : nlohmann::ordered_json(std::stoul(device.baudRate))},
        {"baudCode", OrNull(device.baudCode)},
        {"version", device.version.empty() ? nlohmann::ordered_json(nullptr)
                                           : nlohmann::ordered_json(device.version)},
        {"interface", device.interfaceName.empty() ? nlohmann::ordered_json(nullptr)
                                                   : nlohmann::ordered_json(device.interfaceName)},
    };
    return fields;
}
