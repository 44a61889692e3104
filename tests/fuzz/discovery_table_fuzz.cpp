// A search's datagrams, any number and any bytes, stored into a DeviceTable;
// then the table sorted once or twice, in the orders the input names, and
// every record's row texts built, as the device list builds them.
//
// Input: capacity (2 bytes, big-endian: 1 + value % 8192), the sorts (1 byte:
// its two lowest bits name the first sort's order, 0 to 3 for MAC ascending,
// MAC descending, IP ascending, IP descending; the next two bits a second
// sort's, done when bit 4 is set), then datagrams,
// each a 2-byte big-endian length and that many bytes. Length 0xFFFF is a
// failed receive; 0xFF00 + n is the datagram before it again, n + 1 times
// (so that a table of 255 records takes a few bytes, not thousands); any
// other length above 256 is a datagram longer than the receive buffer, of
// which only 256 bytes arrive, as on the socket.
//
// Checked against a model kept beside the table: the outcome of every
// datagram, the table's count against its records, the capacity rule, the
// records' bytes, the order after each sort (the selection procedure's,
// reached by a stable sort), and the text of every column.
//
// The model's records are views into the input, and the table, the sort's
// scratch and each datagram live in rooms of exactly their size (ExactRoom):
// what the target allocates per input is what the code under test does.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "commission/DeviceSightings.h"
#include "common/BaudRate.h"
#include "discovery/DeviceListRows.h"
#include "discovery/DeviceTable.h"
#include "discovery/DiscoveryDatagram.h"
#include "discovery/DiscoveryReplyStore.h"
#include "discovery/SortDeviceTable.h"
#include "tests/fuzz/ExactRoom.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

using Records = std::vector<ByteSpan>;

constexpr uint16_t kFailedReceive = 0xFFFF;
constexpr uint16_t kRepeatFirst = 0xFF00;
constexpr uint8_t kSecondSort = 0x10;
constexpr uint8_t kGarbage = 0xA5;
const char kReplyHeader[] = "KVM47JR\x01";
constexpr size_t kReplyHeaderLength = 8;

FUZZ_MODEL bool ModelAccepts(ByteSpan datagram, long length) {
    return length >= 9 && length <= 256 &&
           std::equal(datagram.data, datagram.data + kReplyHeaderLength, kReplyHeader);
}

// The key's bytes, first byte highest, so that comparing the numbers compares
// the bytes in order; missing key bytes of a short record count as 0.
FUZZ_MODEL uint64_t KeyOf(ByteSpan record, uint8_t order) {
    const bool mac = order == MacAscending || order == MacDescending;
    const size_t offset = mac ? 0 : 8;
    uint64_t key = 0;
    for (size_t i = 0; i < (mac ? 6u : 4u); ++i) {
        key = key << 8 | (offset + i < record.size ? record.data[offset + i] : 0);
    }
    return key;
}

// The selection procedure's order, reached another way: it takes the first
// record as the choice, walks them all and lets a key that is as small (or
// as large) or more so take over, moves the choice out and repeats. So keys
// come in order, and of equal keys the one last in the table comes first: a
// stable sort of the table read backwards, here a merge sort by hand (std's
// sorts would carry coverage instrumentation into the model).
struct KeyedRecord {
    uint64_t key;
    ByteSpan record;
};

FUZZ_MODEL void SelectionOrder(Records* records, uint8_t order) {
    const bool ascending = order == MacAscending || order == IpAscending;
    static KeyedRecord first[kMaxDeviceRecords];
    static KeyedRecord second[kMaxDeviceRecords];
    ByteSpan* const all = records->data();
    const size_t count = records->size();
    for (size_t i = 0; i < count; ++i) {
        first[i] = {KeyOf(all[count - 1 - i], order), all[count - 1 - i]};
    }
    KeyedRecord* from = first;
    KeyedRecord* to = second;
    for (size_t width = 1; width < count; width *= 2) {
        for (size_t low = 0; low < count; low += 2 * width) {
            const size_t middle = low + width < count ? low + width : count;
            const size_t high = low + 2 * width < count ? low + 2 * width : count;
            size_t left = low;
            size_t right = middle;
            for (size_t k = low; k < high; ++k) {
                const bool takeRight =
                    left == middle ||
                    (right < high && (ascending ? from[right].key < from[left].key
                                                : from[right].key > from[left].key));
                to[k] = takeRight ? from[right++] : from[left++];
            }
        }
        KeyedRecord* const sorted = to;
        to = from;
        from = sorted;
    }
    for (size_t i = 0; i < count; ++i) {
        all[i] = from[i].record;
    }
}

// A row's text put together in place: printf and string concatenation cost
// more under the sanitizer than the row they would check.
class ShortText {
public:
    FUZZ_MODEL ShortText& Add(char c) {
        text_[size_++] = c;
        return *this;
    }
    FUZZ_MODEL ShortText& Hex(uint8_t byte) {
        const char digits[] = "0123456789ABCDEF";
        return Add(digits[byte >> 4]).Add(digits[byte & 0xF]);
    }
    FUZZ_MODEL ShortText& Decimal(uint32_t value) {
        char digits[10];
        size_t count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (count > 0) {
            Add(digits[--count]);
        }
        return *this;
    }
    FUZZ_MODEL std::string String() const { return std::string(text_, size_); }
    FUZZ_MODEL bool Is(const std::string& text) const {
        return text.size() == size_ && std::equal(text.begin(), text.end(), text_);
    }

private:
    char text_[32];  // the longest row text is a MAC's 17
    size_t size_ = 0;
};

FUZZ_MODEL ShortText ModelMac(const uint8_t* mac, size_t count) {
    ShortText text;
    text.Hex(mac[0]);
    for (size_t i = 1; i < count; ++i) {
        text.Add('.').Hex(mac[i]);
    }
    return text;
}

FUZZ_MODEL ShortText ModelIp(ByteSpan record, size_t offset) {
    ShortText text;
    if (record.size >= offset + 4) {
        const uint8_t* ip = record.data + offset;
        text.Decimal(ip[0]).Add('.').Decimal(ip[1]).Add('.').Decimal(ip[2]).Add('.').Decimal(ip[3]);
    }
    return text;
}

FUZZ_MODEL void CheckRowTexts(ByteSpan span, const DeviceRowTexts& texts) {
    const uint8_t* record = span.data;
    if (span.size >= 6) {
        FUZZ_CHECK(ModelMac(record, 6).Is(texts.caption));
        FUZZ_CHECK(texts.caption.size() == 17);
    } else {
        FUZZ_CHECK(texts.caption.empty());
    }
    FUZZ_CHECK(ModelIp(span, 8).Is(texts.subItems[kSubItemIp]));
    FUZZ_CHECK(ModelIp(span, 12).Is(texts.subItems[kSubItemSubmask]));
    FUZZ_CHECK(ModelIp(span, 16).Is(texts.subItems[kSubItemGateway]));
    ShortText port;
    if (span.size >= 22) {
        port.Decimal(record[20] * 256u + record[21]);
    }
    FUZZ_CHECK(port.Is(texts.subItems[kSubItemPort]));
    ShortText baud;
    if (span.size >= 23 && record[22] < kBaudRateCount) {
        baud.Decimal(kBaudRates[record[22]]);
    }
    FUZZ_CHECK(baud.Is(texts.subItems[kSubItemBaudRate]));
    ShortText version;
    if (span.size >= 8) {
        version.Decimal(record[6]).Add('.');
        if (record[7] < 10) {
            version.Add('0');
        }
        version.Decimal(record[7]);
    }
    FUZZ_CHECK(version.Is(texts.subItems[kSubItemVersion]));
}

FUZZ_MODEL std::string ModelWarning(const Records& records) {
    std::string warning;
    for (const ByteSpan span : records) {
        const uint8_t* record = span.data;
        if (span.size >= 6 && record[3] == 0xFF && record[4] == 0xFF && record[5] == 0xFF) {
            warning += "MAC ID:" + ModelMac(record, 3).String() + ".FF.FF.FF\n";
        }
    }
    return warning;
}

// A record as the sightings merge it: each one once, with every interface it
// came on once (there are three), in the order first heard.
struct ModelSighting {
    ByteSpan record;
    std::array<unsigned, 3> interfaces;
    size_t interfaceCount;
};

FUZZ_MODEL void CheckSightings(const DeviceSightings& sightings,
                               const std::vector<std::pair<ByteSpan, unsigned>>& heard) {
    static std::vector<ModelSighting> model;
    model.clear();
    for (const auto& [record, interfaceIndex] : heard) {
        auto known = model.begin();
        while (known != model.end() && known->record != record) {
            ++known;
        }
        if (known == model.end()) {
            model.push_back({record, {interfaceIndex}, 1});
            continue;
        }
        const auto seen = known->interfaces.begin() + static_cast<long>(known->interfaceCount);
        if (std::find(known->interfaces.begin(), seen, interfaceIndex) == seen) {
            known->interfaces[known->interfaceCount++] = interfaceIndex;
        }
    }
    FUZZ_CHECK(sightings.All().size() == model.size());
    for (size_t i = 0; i < model.size(); ++i) {
        const DeviceSighting& sighting = sightings.All()[i];
        FUZZ_CHECK((ByteSpan{sighting.record.data(), sighting.record.size()} == model[i].record));
        FUZZ_CHECK(std::equal(
            sighting.interfaces.begin(), sighting.interfaces.end(), model[i].interfaces.begin(),
            model[i].interfaces.begin() + static_cast<long>(model[i].interfaceCount)));
        FUZZ_CHECK(sightings.Heard(sighting.mac));
    }
}

// The table read the plain way: the count byte, then each record behind its
// length byte, every one inside the buffer, and each as the model has it.
FUZZ_MODEL void CheckTable(const uint8_t* table, size_t capacity, const Records& model) {
    FUZZ_CHECK(table[0] == model.size());
    size_t at = 1;
    for (const ByteSpan record : model) {
        FUZZ_CHECK(at + 1 + record.size <= capacity);
        FUZZ_CHECK((ByteSpan{table + at + 1, table[at]} == record));
        at += 1 + record.size;
    }
    // The capacity rule: once a record is stored, at least one byte of the
    // buffer stays free.
    FUZZ_CHECK(model.empty() || at <= capacity - 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ExactRoom<kDeviceTableSize> tableRoom;
    static ExactRoom<kDeviceTableSize> scratchRoom;
    static ExactRoom<kLargestReplyRead> datagramRoom;
    static Records model;
    static std::vector<std::pair<ByteSpan, unsigned>> heard;
    model.clear();
    heard.clear();

    FuzzInput input(data, size);
    const size_t capacity = 1 + input.BigEndian16() % kDeviceTableSize;
    const uint8_t sorts = input.Byte();

    // Exactly as large as the caller says, so a write past it is caught.
    uint8_t* const table = tableRoom.Take(capacity);
    std::memset(table, kGarbage, capacity);
    size_t writePosition = ResetDeviceTable(table);
    DeviceSightings sightings;

    size_t used = 1;  // the model's table bytes: its count and its records
    uint16_t declared = kFailedReceive;
    long length = -1;
    ByteSpan arrived;
    unsigned repeats = 0;
    while (repeats > 0 || input.Left() >= 2) {
        if (repeats > 0) {
            --repeats;
        } else if (const uint16_t next = input.BigEndian16();
                   next >= kRepeatFirst && next != kFailedReceive) {
            repeats = next - kRepeatFirst;  // and this one
        } else {
            declared = next;
            length = -1;
            arrived = {};
            if (declared != kFailedReceive) {
                arrived = input.View(declared < kLargestReplyRead ? declared : kLargestReplyRead);
                length = declared > kLargestReplyRead ? declared : static_cast<long>(arrived.size);
            }
        }
        // Only the bytes that arrived exist, so a read past them is caught.
        uint8_t* const datagram = datagramRoom.Take(arrived.size);
        std::copy_n(arrived.data, arrived.size, datagram);

        const DiscoveryDatagramOutcome outcome =
            StoreDiscoveryDatagram(table, capacity, &writePosition, datagram, length);
        const unsigned interfaceIndex = 1 + static_cast<unsigned>(declared % 3);
        const SightingNews news = sightings.Add(datagram, length, interfaceIndex);

        if (!ModelAccepts(arrived, length)) {
            FUZZ_CHECK(outcome == DiscoveryDatagramOutcome::Skipped);
            FUZZ_CHECK(news == SightingNews::NotAReply);
            continue;
        }
        const ByteSpan record{arrived.data + kReplyHeaderLength, arrived.size - kReplyHeaderLength};
        heard.push_back({record, interfaceIndex});
        const bool fits =
            model.size() < kMaxDeviceRecords && used + 1 + record.size + 1 <= capacity;
        if (!fits) {
            FUZZ_CHECK(outcome == DiscoveryDatagramOutcome::TableFull);
            break;  // the search ends here
        }
        FUZZ_CHECK(outcome == DiscoveryDatagramOutcome::Stored);
        model.push_back(record);
        used += 1 + record.size;
        FUZZ_CHECK(writePosition == used);
    }
    CheckTable(table, capacity, model);
    CheckSightings(sightings, heard);

    uint8_t* const scratch = scratchRoom.Take(capacity);
    for (int sort = 0; sort < (sorts & kSecondSort ? 2 : 1); ++sort) {
        const uint8_t order = static_cast<uint8_t>(MacAscending + (sorts >> (2 * sort) & 3));
        SortDeviceTable(table, scratch, capacity, order);
        SelectionOrder(&model, order);
        CheckTable(table, capacity, model);
    }
    // Orders outside the four leave the table as it is.
    for (uint8_t order : {0, 5, 255}) {
        SortDeviceTable(table, scratch, capacity, order);
    }
    CheckTable(table, capacity, model);

    // The rows as the device list builds them: the records listed once, a
    // row made of each.
    static DeviceRecordView records[kMaxDeviceRecords];
    FUZZ_CHECK(ListDeviceRecords(table, capacity, records, kMaxDeviceRecords) == model.size());
    for (size_t k = 0; k < model.size(); ++k) {
        FUZZ_CHECK(records[k].length == model[k].size);
        CheckRowTexts(model[k], MakeDeviceRowTexts(records[k]));
    }
    // A row by its index: the last walks the whole table, and the one
    // behind it is none.
    DeviceRowTexts texts;
    const unsigned count = static_cast<unsigned>(model.size());
    if (count > 0) {
        FUZZ_CHECK(DeviceRowTextsAt(table, capacity, count - 1, &texts));
        CheckRowTexts(model.back(), texts);
    }
    FUZZ_CHECK(!DeviceRowTextsAt(table, capacity, count, &texts));
    FUZZ_CHECK(BuildMacWarningText(table, capacity) == ModelWarning(model));
    return 0;
}
