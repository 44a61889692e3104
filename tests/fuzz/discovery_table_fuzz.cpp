// A search's datagrams, any number and any bytes, stored into a DeviceTable;
// then the table sorted in every order and every record's row texts built.
//
// Input: capacity (2 bytes, big-endian: 1 + value % 8192), then datagrams,
// each a 2-byte big-endian length and that many bytes. Length 0xFFFF is a
// failed receive; a length above 256 is a datagram longer than the receive
// buffer, of which only 256 bytes arrive, as on the socket.
//
// Checked against a model kept beside the table: the outcome of every
// datagram, the table's count against its records, the capacity rule, the
// records' bytes, the order after each sort (by the selection procedure done
// the slow way), and the text of every column.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commission/DeviceSightings.h"
#include "common/BaudRate.h"
#include "discovery/DeviceListRows.h"
#include "discovery/DeviceTable.h"
#include "discovery/DiscoveryDatagram.h"
#include "discovery/DiscoveryReplyStore.h"
#include "discovery/SortDeviceTable.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kFailedReceive = 0xFFFF;
constexpr uint8_t kGarbage = 0xA5;
const char kReplyHeader[] = "KVM47JR\x01";

FUZZ_MODEL bool ModelAccepts(const uint8_t* datagram, long length) {
    return length >= 9 && length <= 256 && std::memcmp(datagram, kReplyHeader, 8) == 0;
}

FUZZ_MODEL size_t UsedLength(const std::vector<Bytes>& records) {
    size_t used = 1;
    for (const Bytes& record : records) {
        used += 1 + record.size();
    }
    return used;
}

// Missing key bytes of a short record count as 0.
FUZZ_MODEL Bytes KeyOf(const Bytes& record, uint8_t order) {
    const bool mac = order == MacAscending || order == MacDescending;
    const size_t offset = mac ? 0 : 8;
    Bytes key(mac ? 6 : 4, 0);
    for (size_t i = 0; i < key.size(); ++i) {
        if (offset + i < record.size()) {
            key[i] = record[offset + i];
        }
    }
    return key;
}

// Take the first record as the choice, walk them all, let a key that is as
// small (or as large) or more so take over; move the choice out; repeat.
FUZZ_MODEL std::vector<Bytes> SelectionSort(std::vector<Bytes> records, uint8_t order) {
    const bool ascending = order == MacAscending || order == IpAscending;
    std::vector<Bytes> sorted;
    while (!records.empty()) {
        size_t choice = 0;
        Bytes key = KeyOf(records[0], order);
        for (size_t i = 0; i < records.size(); ++i) {
            const Bytes candidate = KeyOf(records[i], order);
            if (ascending ? candidate <= key : candidate >= key) {
                choice = i;
                key = candidate;
            }
        }
        sorted.push_back(records[choice]);
        records.erase(records.begin() + static_cast<long>(choice));
    }
    return sorted;
}

std::vector<Bytes> TableRecords(const uint8_t* table, size_t size) {
    DeviceRecordView views[kMaxDeviceRecords];
    const size_t count = ListDeviceRecords(table, size, views, kMaxDeviceRecords);
    std::vector<Bytes> records;
    for (size_t i = 0; i < count; ++i) {
        records.emplace_back(views[i].bytes, views[i].bytes + views[i].length);
    }
    return records;
}

FUZZ_MODEL std::string Printed(const char* format, unsigned a, unsigned b = 0, unsigned c = 0,
                               unsigned d = 0) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b, c, d);
    return text;
}

FUZZ_MODEL std::string ModelIp(const Bytes& record, size_t offset) {
    if (record.size() < offset + 4) {
        return "";
    }
    return Printed("%u.%u.%u.%u", record[offset], record[offset + 1], record[offset + 2],
                   record[offset + 3]);
}

void CheckRowTexts(const Bytes& record, const DeviceRowTexts& texts) {
    if (record.size() >= 6) {
        char mac[32];
        std::snprintf(mac, sizeof mac, "%02X.%02X.%02X.%02X.%02X.%02X", record[0], record[1],
                      record[2], record[3], record[4], record[5]);
        FUZZ_CHECK(texts.caption == mac);
        FUZZ_CHECK(texts.caption.size() == 17);
    } else {
        FUZZ_CHECK(texts.caption.empty());
    }
    FUZZ_CHECK(texts.subItems[kSubItemIp] == ModelIp(record, 8));
    FUZZ_CHECK(texts.subItems[kSubItemSubmask] == ModelIp(record, 12));
    FUZZ_CHECK(texts.subItems[kSubItemGateway] == ModelIp(record, 16));
    FUZZ_CHECK(texts.subItems[kSubItemPort] ==
               (record.size() >= 22 ? std::to_string(record[20] * 256u + record[21]) : ""));
    std::string baud;
    if (record.size() >= 23 && record[22] < kBaudRateCount) {
        baud = std::to_string(kBaudRates[record[22]]);
    }
    FUZZ_CHECK(texts.subItems[kSubItemBaudRate] == baud);
    std::string version;
    if (record.size() >= 8) {
        version = std::to_string(record[6]) + "." + (record[7] < 10 ? "0" : "") +
                  std::to_string(record[7]);
    }
    FUZZ_CHECK(texts.subItems[kSubItemVersion] == version);
}

FUZZ_MODEL std::string ModelWarning(const std::vector<Bytes>& records) {
    std::string warning;
    for (const Bytes& record : records) {
        if (record.size() >= 6 && record[3] == 0xFF && record[4] == 0xFF && record[5] == 0xFF) {
            char line[64];
            std::snprintf(line, sizeof line, "MAC ID:%02X.%02X.%02X.FF.FF.FF\n", record[0],
                          record[1], record[2]);
            warning += line;
        }
    }
    return warning;
}

void CheckSightings(const DeviceSightings& sightings,
                    const std::vector<std::pair<Bytes, unsigned>>& heard) {
    std::vector<std::pair<Bytes, std::vector<unsigned>>> model;
    for (const auto& [record, interfaceIndex] : heard) {
        auto known = model.begin();
        while (known != model.end() && known->first != record) {
            ++known;
        }
        if (known == model.end()) {
            model.push_back({record, {interfaceIndex}});
        } else if (std::find(known->second.begin(), known->second.end(), interfaceIndex) ==
                   known->second.end()) {
            known->second.push_back(interfaceIndex);
        }
    }
    FUZZ_CHECK(sightings.All().size() == model.size());
    for (size_t i = 0; i < model.size(); ++i) {
        const DeviceSighting& sighting = sightings.All()[i];
        FUZZ_CHECK(sighting.record == model[i].first);
        FUZZ_CHECK(sighting.interfaces == model[i].second);
        FUZZ_CHECK(sightings.Heard(sighting.mac));
    }
}

void CheckTable(const uint8_t* table, size_t capacity, const std::vector<Bytes>& model) {
    FUZZ_CHECK(DeviceTableCount(table) == model.size());
    FUZZ_CHECK(TableRecords(table, capacity) == model);
    // The capacity rule: once a record is stored, at least one byte of the
    // buffer stays free.
    FUZZ_CHECK(model.empty() || UsedLength(model) <= capacity - 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const size_t capacity = 1 + input.BigEndian16() % kDeviceTableSize;

    // Exactly as large as the caller says, so a write past it is caught.
    std::unique_ptr<uint8_t[]> table(new uint8_t[capacity]);
    std::memset(table.get(), kGarbage, capacity);
    size_t writePosition = ResetDeviceTable(table.get());
    std::vector<Bytes> model;
    DeviceSightings sightings;
    std::vector<std::pair<Bytes, unsigned>> heard;

    while (input.Left() >= 2) {
        const uint16_t declared = input.BigEndian16();
        long length = -1;
        Bytes arrived;
        if (declared != kFailedReceive) {
            arrived = input.Bytes(declared < kLargestReplyRead ? declared : kLargestReplyRead);
            length = declared > kLargestReplyRead ? declared : static_cast<long>(arrived.size());
        }
        // Only the bytes that arrived exist, so a read past them is caught.
        std::unique_ptr<uint8_t[]> datagram(new uint8_t[arrived.size()]);
        if (!arrived.empty()) {
            std::memcpy(datagram.get(), arrived.data(), arrived.size());
        }

        const DiscoveryDatagramOutcome outcome =
            StoreDiscoveryDatagram(table.get(), capacity, &writePosition, datagram.get(), length);
        const unsigned interfaceIndex = 1 + static_cast<unsigned>(declared % 3);
        const SightingNews news = sightings.Add(datagram.get(), length, interfaceIndex);

        if (!ModelAccepts(arrived.data(), length)) {
            FUZZ_CHECK(outcome == DiscoveryDatagramOutcome::Skipped);
            FUZZ_CHECK(news == SightingNews::NotAReply);
            continue;
        }
        const Bytes record(arrived.begin() + 8, arrived.end());
        heard.push_back({record, interfaceIndex});
        const bool fits = model.size() < kMaxDeviceRecords &&
                          UsedLength(model) + 1 + record.size() + 1 <= capacity;
        if (!fits) {
            FUZZ_CHECK(outcome == DiscoveryDatagramOutcome::TableFull);
            break;  // the search ends here
        }
        FUZZ_CHECK(outcome == DiscoveryDatagramOutcome::Stored);
        model.push_back(record);
        FUZZ_CHECK(writePosition == UsedLength(model));
    }
    CheckTable(table.get(), capacity, model);
    CheckSightings(sightings, heard);

    std::unique_ptr<uint8_t[]> scratch(new uint8_t[capacity]);
    for (uint8_t order : {MacAscending, MacDescending, IpAscending, IpDescending}) {
        SortDeviceTable(table.get(), scratch.get(), capacity, order);
        model = SelectionSort(model, order);
        CheckTable(table.get(), capacity, model);
    }
    // Orders outside the four leave the table as it is.
    for (uint8_t order : {0, 5, 255}) {
        SortDeviceTable(table.get(), scratch.get(), capacity, order);
        CheckTable(table.get(), capacity, model);
    }

    for (unsigned k = 0; k < model.size(); ++k) {
        DeviceRowTexts texts;
        FUZZ_CHECK(DeviceRowTextsAt(table.get(), capacity, k, &texts));
        CheckRowTexts(model[k], texts);
    }
    DeviceRowTexts none;
    FUZZ_CHECK(
        !DeviceRowTextsAt(table.get(), capacity, static_cast<unsigned>(model.size()), &none));
    FUZZ_CHECK(BuildMacWarningText(table.get(), capacity) == ModelWarning(model));
    return 0;
}
