#pragma once

#include <string>
#include <vector>

#include "cli/Devices.h"
#include "cli/ReportEvent.h"

// The events of a run over time (apply and its station, the watch), as a
// Reporter writes them. In JSON Lines each is one object with "time",
// "event", "mac" for an event about one device, "message" (the line people
// read), and the fields of its kind below: the same fields under the same
// name, wherever the event comes from.
struct EventKind {
    const char* name;
    const char* fields;  // its own fields, by name, separated by blanks
    const char* meaning;
};

constexpr EventKind kEventKinds[] = {
    {"appeared", "device sharing",
     "a device answered for the first time, or again after it was gone: device as search "
     "writes it, sharing the other devices that answer as the same MAC (usually none)"},
    {"changed", "device sharing before", "a device answers with other settings: before as it was"},
    {"gone", "device sharing", "a device did not answer three searches in a row"},
    {"setup-sent", "row datagrams", "the first setup datagram of a row went out"},
    {"setup-sent-again", "row datagrams", "another one went out; datagrams counts them"},
    {"setup-confirmed", "row", "the device confirmed its setup"},
    {"back", "row", "the device answered a search with every asked value"},
    {"id-retry", "row", "a write of the ID failed and will be tried again"},
    {"OUTCOME", "row elapsedMs",
     "the row ended: the event is its outcome's token (verified, not-back, ...), elapsedMs the "
     "time from its first datagram"},
    {"waiting", "devices waitedMs",
     "about once a second while devices are awaited: how many, and how long the first is"},
    {"port-busy", "", "another program holds port 3195; the next search tries again"},
    {"warning", "", "a warning, as on standard error"},
    {"info", "", "a message, as on standard error"},
    {"report", "rows", "the last event of a station: its report, as apply --json writes it"},
};

// An event about one MAC of the segment (appeared, changed, gone): the first
// device that answers as it, and the others that share it.
ReportEvent SegmentEvent(const char* name, const std::string& text,
                         const std::vector<FoundDevice>& devices);
