#include "cli/Search.h"

#include "cli/Reporter.h"
#include "discovery/DiscoverDevices.h"
#include "platform/Interfaces.h"

std::optional<Failure> FindInterface(const std::string& name, unsigned* index) {
    *index = 0;
    if (name.empty()) {
        return std::nullopt;
    }
    *index = InterfaceIndex(name);
    if (*index == 0) {
        return Failure{kExitLocal, "no interface named " + name, {}};
    }
    return std::nullopt;
}

std::optional<Failure> OpenPort(SegmentPort& port) {
    switch (port.Open()) {
        case 0:
            return std::nullopt;
        case kDiscoverBindFailed:
            return Failure{kExitLocal, "port 3195 is in use by another program", {}};
        default:
            return Failure{kExitLocal, "cannot open a UDP socket for the search", {}};
    }
}

std::optional<Failure> Search(SegmentPort& port, const RepeatedSearchOptions& options,
                              const std::string& interfaceName, Reporter& reporter,
                              DeviceSightings* sightings) {
    if (SearchRepeatedly(port, options, sightings) == kDiscoverSendFailed) {
        return Failure{kExitLocal,
                       interfaceName.empty()
                           ? "the search request went out of no interface (none is up with an "
                             "IPv4 broadcast address)"
                           : "the search request could not go out of " + interfaceName +
                                 " (down, or without an IPv4 broadcast address)",
                       {}};
    }
    if (sightings->Overflowed() > 0) {
        reporter.Warn("more than " + std::to_string(DeviceSightings::kMostSightings) +
                      " devices answered; " + std::to_string(sightings->Overflowed()) +
                      " answers of further devices were left out");
    }
    return std::nullopt;
}
