#include "discovery/SortDeviceTable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "discovery/DeviceTable.h"
#include "tests/support/TestFrames.h"

using test_frames::Bytes;

namespace {

// A 23-byte record with the given MAC, IP and a tag in its baud-code byte
// that tells records with equal keys apart.
Bytes Device(std::vector<uint8_t> mac, std::vector<uint8_t> ip, uint8_t tag) {
    Bytes record(23, 0);
    std::copy(mac.begin(), mac.end(), record.begin());
    std::copy(ip.begin(), ip.end(), record.begin() + 8);
    record[22] = tag;
    return record;
}

std::vector<uint8_t> Table(const std::vector<Bytes>& records) {
    std::vector<uint8_t> table(kDeviceTableSize, 0);
    size_t position = ResetDeviceTable(table.data());
    for (const Bytes& record : records) {
        AppendDeviceRecord(table.data(), table.size(), &position, record.data(), record.size());
    }
    return table;
}

std::vector<Bytes> Records(const std::vector<uint8_t>& table) {
    DeviceRecordView views[kMaxDeviceRecords];
    const size_t count = ListDeviceRecords(table.data(), table.size(), views, kMaxDeviceRecords);
    std::vector<Bytes> records;
    for (size_t i = 0; i < count; ++i) {
        records.emplace_back(views[i].bytes, views[i].bytes + views[i].length);
    }
    return records;
}

std::vector<uint8_t> Tags(const std::vector<uint8_t>& table) {
    std::vector<uint8_t> tags;
    for (const Bytes& record : Records(table)) {
        tags.push_back(record.size() > 22 ? record[22] : 0);
    }
    return tags;
}

std::vector<uint8_t> Sorted(std::vector<uint8_t> table, uint8_t order) {
    std::vector<uint8_t> scratch(table.size(), 0xEE);
    SortDeviceTable(table.data(), scratch.data(), table.size(), order);
    return table;
}

// The selection procedure taken literally: take the last record whose key is
// less (more) than or equal to every other, move it out, repeat.
std::vector<Bytes> SelectionSort(std::vector<Bytes> records, uint8_t order) {
    const bool mac = order == MacAscending || order == MacDescending;
    const bool ascending = order == MacAscending || order == IpAscending;
    const size_t offset = mac ? 0 : 8;
    const size_t width = mac ? 6 : 4;
    auto key = [&](const Bytes& r) {
        Bytes k;
        for (size_t i = 0; i < width; ++i) {
            k.push_back(offset + i < r.size() ? r[offset + i] : 0);
        }
        return k;
    };
    std::vector<Bytes> out;
    while (!records.empty()) {
        size_t choice = 0;
        for (size_t i = 0; i < records.size(); ++i) {
            if (ascending ? key(records[i]) <= key(records[choice])
                          : key(records[i]) >= key(records[choice])) {
                choice = i;
            }
        }
        out.push_back(records[choice]);
        records.erase(records.begin() + static_cast<long>(choice));
    }
    return out;
}

const std::vector<Bytes> kFourDevices = {
    Device({0x00, 0x1A, 0x00, 0x00, 0x00, 0x02}, {192, 168, 1, 10}, 1),
    Device({0x00, 0x1A, 0x00, 0x00, 0x00, 0x01}, {192, 168, 1, 9}, 2),
    Device({0x00, 0x1A, 0x00, 0x00, 0x00, 0x02}, {10, 0, 0, 1}, 3),
    Device({0xF0, 0x00, 0x00, 0x00, 0x00, 0x00}, {192, 168, 1, 9}, 4),
};

TEST(SortDeviceTable, EachOrderWithEqualKeysReversed) {
    const struct {
        uint8_t order;
        std::vector<uint8_t> tags;
    } cases[] = {
        // MAC ..02 twice (tags 1, 3): the later one first, both ways.
        {MacAscending, {2, 3, 1, 4}},
        {MacDescending, {4, 3, 1, 2}},
        // IP 192.168.1.9 twice (tags 2, 4); .9 sorts before .10.
        {IpAscending, {3, 4, 2, 1}},
        {IpDescending, {1, 4, 2, 3}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Tags(Sorted(Table(kFourDevices), c.order)), c.tags) << "order " << int(c.order);
    }
}

TEST(SortDeviceTable, SortingAgainFlipsEqualKeysBack) {
    const std::vector<uint8_t> once = Sorted(Table(kFourDevices), IpAscending);
    EXPECT_EQ(Tags(Sorted(once, IpAscending)), (std::vector<uint8_t>{3, 2, 4, 1}));
}

TEST(SortDeviceTable, MatchesTheSelectionProcedureOnRandomTables) {
    std::mt19937 random(47);
    for (int round = 0; round < 200; ++round) {
        std::vector<Bytes> records;
        const size_t count = random() % 40;
        for (size_t i = 0; i < count; ++i) {
            // Few distinct key bytes, so equal keys are common; some records
            // are too short to hold their whole key.
            Bytes record(1 + random() % 30);
            for (uint8_t& byte : record) {
                byte = static_cast<uint8_t>(random() % 3);
            }
            records.push_back(record);
        }
        for (uint8_t order : {MacAscending, MacDescending, IpAscending, IpDescending}) {
            ASSERT_EQ(Records(Sorted(Table(records), order)), SelectionSort(records, order))
                << "round " << round << ", order " << int(order);
        }
    }
}

TEST(SortDeviceTable, MissingKeyBytesCountAsZero) {
    const std::vector<Bytes> records = {
        Bytes{0x00, 0x00, 0x00, 0x00, 0x00, 0x01},  // whole MAC, last byte 1
        Bytes{0x00, 0x00, 0x00},                    // MAC cut short: 00.00.00.00.00.00
        Bytes(10, 0x00),                            // IP cut after two bytes
    };
    EXPECT_EQ(Records(Sorted(Table(records), MacAscending)),
              (std::vector<Bytes>{records[2], records[1], records[0]}));
}

TEST(SortDeviceTable, OtherOrderValuesLeaveTheTable) {
    const std::vector<uint8_t> table = Table(kFourDevices);
    EXPECT_EQ(Sorted(table, 0), table);
    EXPECT_EQ(Sorted(table, 5), table);
}

TEST(SortDeviceTable, EmptyTableStaysEmpty) {
    EXPECT_EQ(Records(Sorted(Table({}), MacAscending)).size(), 0u);
}

TEST(SortDeviceTable, WorksOnTheRunsTable) {
    const std::vector<uint8_t> table = Table(kFourDevices);
    std::memcpy(DeviceTable, table.data(), kDeviceTableSize);
    SortDeviceTable(IpDescending);
    EXPECT_EQ(Tags(std::vector<uint8_t>(DeviceTable, DeviceTable + kDeviceTableSize)),
              (std::vector<uint8_t>{1, 4, 2, 3}));
}

TEST(SortOrderAfterColumnClick, FollowsTheTransitionTable) {
    const struct {
        uint8_t current;
        uint8_t afterMac;
        uint8_t afterIp;
    } cases[] = {
        {MacAscending, MacDescending, IpAscending},
        {MacDescending, MacAscending, IpDescending},
        {IpAscending, MacAscending, IpDescending},
        {IpDescending, MacDescending, IpAscending},
    };
    for (const auto& c : cases) {
        uint8_t next = 0;
        ASSERT_TRUE(SortOrderAfterColumnClick(c.current, kMacColumnIndex, &next));
        EXPECT_EQ(next, c.afterMac) << "MAC ID after " << int(c.current);
        ASSERT_TRUE(SortOrderAfterColumnClick(c.current, kIpColumnIndex, &next));
        EXPECT_EQ(next, c.afterIp) << "IP after " << int(c.current);
    }
}

TEST(SortOrderAfterColumnClick, OtherColumnsChangeNothing) {
    for (int column : {-1, 2, 3, 4, 5, 6}) {
        uint8_t next = 0x77;
        EXPECT_FALSE(SortOrderAfterColumnClick(IpDescending, column, &next)) << column;
        EXPECT_EQ(next, 0x77);
    }
}

}  // namespace
