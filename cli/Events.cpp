#include "cli/Events.h"

#include <nlohmann/json.hpp>

ReportEvent SegmentEvent(const char* name, const std::string& text,
                         const std::vector<FoundDevice>& devices) {
    ReportEvent event;
    event.event = name;
    event.text = text;
    nlohmann::ordered_json sharing = nlohmann::ordered_json::array();
    for (size_t i = 1; i < devices.size(); ++i) {
        sharing.push_back(DeviceJson(devices[i]));
    }
    if (!devices.empty()) {
        event.subject = MacText(devices.front().mac);
        event.values["device"] = DeviceJson(devices.front());
    }
    event.values["sharing"] = sharing;
    return event;
}
