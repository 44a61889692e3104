// Searches against a few devices, each misbehaving its own way, now and then
// with noise from the simulator and garbage from the rogue peer, and now and
// then so many devices that the table runs full. The records stored must be
// exactly those of the replies a search accepts; the table must then sort in
// every order and give the row texts of every record.
#include <algorithm>
#include <string>
#include <vector>

#include "discovery/DeviceListRows.h"
#include "discovery/DeviceTable.h"
#include "discovery/DiscoverDevices.h"
#include "discovery/SortDeviceTable.h"
#include "tests/soak/RoguePeer.h"
#include "tests/soak/Soak.h"
#include "tests/support/LabSupport.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr unsigned kMostDevices = 6;
constexpr int kInTimeDelayMs = 100;  // well inside the 0.4 s after each reply
constexpr int kLateDelayMs = 3000;   // well after any search of the soak has ended
constexpr unsigned kGarbageBurst = 30;
constexpr int kNoiseIntervalMs = 40;
constexpr int kNoiseForMs = 500;
// A search ends a full 0.4 s wait after its last datagram, and its datagrams
// (noise and garbage included) stop coming within 0.6 s; or after its first
// wait, when nothing comes.
constexpr long kLastDatagramMs = 600;
constexpr long kReplyWaitMs = kReplyWaitMicroseconds / 1000;
constexpr long kSearchBoundMs =
    kSoakSearchFirstWaitSeconds * 1000L + kLastDatagramMs + kReplyWaitMs + kSoakSlackMs;

// What a device fault does to a search: how many copies of which record it
// leaves in the table.
struct DeviceFault {
    const char* name;
    void (*apply)(SoakDevice& device, std::mt19937& random);
    // The records the search stores from this device.
    std::vector<Bytes> (*stored)(const SoakDevice& device);
};

std::vector<Bytes> Once(const SoakDevice& device) {
    return {device.Record()};
}

std::vector<Bytes> Never(const SoakDevice&) {
    return {};
}

Bytes Resized(const SoakDevice& device, size_t length) {
    Bytes record = device.Record();
    record.resize(length, 0);
    return record;
}

const DeviceFault kDeviceFaults[] = {
    {"well-behaved", [](SoakDevice&, std::mt19937&) {}, Once},
    {"silent", [](SoakDevice& d, std::mt19937&) { d.faults = "silent=1"; }, Never},
    {"answers too late",
     [](SoakDevice& d, std::mt19937&) { d.faults = "delay=" + std::to_string(kLateDelayMs); },
     Never},
    {"answers after a delay",
     [](SoakDevice& d, std::mt19937& r) {
         d.faults = "delay=" + std::to_string(r() % (kInTimeDelayMs + 1));
     },
     Once},
    {"duplicate replies", [](SoakDevice& d, std::mt19937&) { d.faults = "copies=3"; },
     [](const SoakDevice& d) { return std::vector<Bytes>(3, d.Record()); }},
    {"9-byte reply", [](SoakDevice& d, std::mt19937&) { d.faults = "length=9"; },
     [](const SoakDevice& d) { return std::vector<Bytes>{Resized(d, 1)}; }},
    {"8-byte reply", [](SoakDevice& d, std::mt19937&) { d.faults = "length=8"; }, Never},
    {"20-byte reply", [](SoakDevice& d, std::mt19937&) { d.faults = "length=20"; },
     [](const SoakDevice& d) { return std::vector<Bytes>{Resized(d, 12)}; }},
    {"256-byte reply", [](SoakDevice& d, std::mt19937&) { d.faults = "length=256"; },
     [](const SoakDevice& d) { return std::vector<Bytes>{Resized(d, 248)}; }},
    {"oversized reply", [](SoakDevice& d, std::mt19937&) { d.faults = "length=300"; }, Never},
    {"request identifier", [](SoakDevice& d, std::mt19937&) { d.faults = "ident=KVM47JS"; }, Never},
    {"foreign identifier", [](SoakDevice& d, std::mt19937&) { d.faults = "ident=KVM47JX"; }, Never},
    {"setup command code", [](SoakDevice& d, std::mt19937&) { d.faults = "code=2"; }, Never},
    {"further bytes",
     [](SoakDevice& d, std::mt19937& r) {
         d.extra.resize(1 + r() % 40);
         for (uint8_t& b : d.extra) {
             b = static_cast<uint8_t>(r());
         }
     },
     Once},
    {"unprogrammed MAC",
     [](SoakDevice& d, std::mt19937&) { d.mac[3] = d.mac[4] = d.mac[5] = 0xFF; }, Once},
    {"baud code out of the table", [](SoakDevice& d, std::mt19937&) { d.baud = 200; }, Once},
};

std::vector<Bytes> TableRecords() {
    DeviceRecordView views[kMaxDeviceRecords];
    const size_t count = ListDeviceRecords(DeviceTable, kDeviceTableSize, views, kMaxDeviceRecords);
    std::vector<Bytes> records;
    for (size_t i = 0; i < count; ++i) {
        records.emplace_back(views[i].bytes, views[i].bytes + views[i].length);
    }
    return records;
}

// Sorts in every order and builds every row, as the list does after a
// search and after header clicks; the records must survive unchanged.
std::string SortAndShow() {
    std::vector<Bytes> before = TableRecords();
    std::sort(before.begin(), before.end());
    for (uint8_t order : {MacAscending, MacDescending, IpAscending, IpDescending}) {
        SortDeviceTable(order);
        std::vector<Bytes> after = TableRecords();
        if (after.size() != DeviceTableCount(DeviceTable)) {
            return "count and records differ after a sort";
        }
        std::sort(after.begin(), after.end());
        if (after != before) {
            return "a sort changed the records";
        }
        for (unsigned k = 0; k < DeviceTableCount(DeviceTable); ++k) {
            DeviceRowTexts texts;
            if (!DeviceRowTextsAt(DeviceTable, kDeviceTableSize, k, &texts)) {
                return "a record has no row";
            }
        }
        BuildMacWarningText(DeviceTable, kDeviceTableSize);
    }
    return "";
}

// So many devices that the table cannot hold their replies: by size (32
// records of 248 bytes) or by count (255 records).
SoakOutcome FullTable(SoakContext& context) {
    const bool bySize = context.random() % 2 == 0;
    SoakOutcome outcome{
        "search", {bySize ? "table full by size" : "table full by count"}, true, {}};
    const std::vector<std::string> arguments = {"--ip-base", DeviceNetPrefix(0) + "2", "--generate",
                                                bySize ? "40,length=256" : "260"};
    SimProcess sim(arguments);
    if (!Serving(sim, &outcome)) {
        return outcome;
    }
    int result = 0;
    {
        SoakTimer timer(&outcome, kSearchBoundMs);
        result = DiscoverDevices(DeviceTable, kDeviceTableSize, kSoakSearchFirstWaitSeconds,
                                 kSoakSearchTimeLimitMs);
    }
    const unsigned expected = bySize ? 32 : kMaxDeviceRecords;
    const std::vector<Bytes> records = TableRecords();
    if (result != kDiscoverTableFull || DeviceTableCount(DeviceTable) != expected ||
        records.size() != expected) {
        outcome.why = "result " + std::to_string(result) + ", " +
                      std::to_string(DeviceTableCount(DeviceTable)) + " records";
    } else {
        outcome.why = SortAndShow();
    }
    outcome.asDocumented = outcome.why.empty();
    JudgeSimulator(sim, &outcome);
    return outcome;
}

}  // namespace

SoakOutcome SoakSearch(SoakContext& context) {
    std::mt19937& random = context.random;
    if (random() % 12 == 0) {
        return FullTable(context);
    }
    SoakOutcome outcome{"search", {}, true, {}};
    const unsigned deviceCount = 1 + random() % kMostDevices;
    std::vector<std::string> arguments;
    std::vector<Bytes> expected;
    for (unsigned i = 0; i < deviceCount; ++i) {
        SoakDevice device = RandomSoakDevice(random, i);
        const DeviceFault& fault = kDeviceFaults[random() % std::size(kDeviceFaults)];
        fault.apply(device, random);
        for (const Bytes& record : fault.stored(device)) {
            expected.push_back(record);
        }
        outcome.faults.push_back(fault.name);
        arguments.push_back("--device");
        arguments.push_back(device.Settings());
    }
    const bool noise = random() % 4 == 0;
    if (noise) {
        outcome.faults.push_back("noise from the simulator");
        for (const std::string& argument :
             {std::string("--noise-interval"), std::to_string(kNoiseIntervalMs),
              std::string("--noise-for"), std::to_string(kNoiseForMs)}) {
            arguments.push_back(argument);
        }
    }
    const bool garbage = random() % 4 == 0;
    if (garbage) {
        outcome.faults.push_back("garbage datagrams");
    }

    SimProcess sim(arguments);
    if (!Serving(sim, &outcome)) {
        return outcome;
    }
    if (garbage) {
        context.rogue.SendGarbage(kGarbageBurst);
    }
    int result = 0;
    {
        SoakTimer timer(&outcome, kSearchBoundMs);
        result = DiscoverDevices(DeviceTable, kDeviceTableSize, kSoakSearchFirstWaitSeconds,
                                 kSoakSearchTimeLimitMs);
    }

    std::vector<Bytes> stored = TableRecords();
    std::sort(stored.begin(), stored.end());
    std::sort(expected.begin(), expected.end());
    if (result != static_cast<int>(expected.size()) || stored != expected) {
        outcome.why = "result " + std::to_string(result) + " with " +
                      std::to_string(stored.size()) + " records, expected " +
                      std::to_string(expected.size());
    } else {
        outcome.why = SortAndShow();
    }
    outcome.asDocumented = outcome.why.empty();
    JudgeSimulator(sim, &outcome);
    return outcome;
}
