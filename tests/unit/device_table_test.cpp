#include "discovery/DeviceTable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "discovery/DiscoveryDatagram.h"
#include "tests/support/TestFrames.h"

using test_frames::Bytes;

namespace {

Bytes Record(size_t length, uint8_t fill) {
    return Bytes(length, fill);
}

// Appends records of `length` bytes to an 8192-byte table until one is refused.
size_t FillWith(size_t length, Bytes* table) {
    table->assign(kDeviceTableSize, 0);
    size_t position = ResetDeviceTable(table->data());
    const Bytes record = Record(length, 0x11);
    size_t stored = 0;
    while (AppendDeviceRecord(table->data(), table->size(), &position, record.data(), length)) {
        ++stored;
    }
    return stored;
}

TEST(DeviceTableLayout, RecordsFollowTheCountEachBehindItsLength) {
    Bytes table(32, 0xEE);
    size_t position = ResetDeviceTable(table.data());
    const Bytes first = {0xA1, 0xA2};
    const Bytes second = {0xB1};
    ASSERT_TRUE(AppendDeviceRecord(table.data(), table.size(), &position, first.data(), 2));
    ASSERT_TRUE(AppendDeviceRecord(table.data(), table.size(), &position, second.data(), 1));

    const Bytes expected = {2, 2, 0xA1, 0xA2, 1, 0xB1};
    EXPECT_EQ(Bytes(table.begin(), table.begin() + 6), expected);
    EXPECT_EQ(position, 6u);

    DeviceRecordView record;
    ASSERT_TRUE(GetDeviceRecord(table.data(), table.size(), 1, &record));
    EXPECT_EQ(Bytes(record.bytes, record.bytes + record.length), second);
    EXPECT_FALSE(GetDeviceRecord(table.data(), table.size(), 2, &record));
}

TEST(DeviceTableLayout, WalkNeverLeavesTheBuffer) {
    // The count claims three records, the second announces more bytes than
    // the buffer has left.
    const Bytes table = {3, 1, 0xAA, 200, 0xBB, 0xCC};
    DeviceRecordView records[kMaxDeviceRecords];
    EXPECT_EQ(ListDeviceRecords(table.data(), table.size(), records, kMaxDeviceRecords), 1u);
    DeviceRecordView record;
    EXPECT_FALSE(GetDeviceRecord(table.data(), table.size(), 1, &record));
    EXPECT_FALSE(GetDeviceRecord(table.data(), table.size(), 2, &record));
}

TEST(DeviceTableCapacity, AtLeastOneByteStaysFree) {
    // Record of 10 bytes at position 1 uses 1 + 1 + 10 = 12 bytes.
    EXPECT_TRUE(RecordFits(1, 10, 13));
    EXPECT_FALSE(RecordFits(1, 10, 12));
    EXPECT_FALSE(RecordFits(1, 10, 11));
}

TEST(DeviceTableCapacity, Holds255RecordsOf23BytesAndNoMore) {
    Bytes table;
    EXPECT_EQ(FillWith(23, &table), 255u);
    EXPECT_EQ(DeviceTableCount(table.data()), 255u);
}

TEST(DeviceTableCapacity, Holds32RecordsOf248Bytes) {
    Bytes table;
    EXPECT_EQ(FillWith(248, &table), 32u);
}

TEST(DeviceTableCapacity, CountNeverWrapsPast255) {
    // One-byte records would fit 4095 times; the count stops them at 255.
    Bytes table;
    EXPECT_EQ(FillWith(1, &table), 255u);
    EXPECT_EQ(DeviceTableCount(table.data()), 255u);
}

TEST(DeviceTableCapacity, RefusedRecordLeavesTableAndPositionAlone) {
    Bytes table(8, 0);
    size_t position = ResetDeviceTable(table.data());
    const Bytes record = Record(5, 0x22);
    ASSERT_TRUE(AppendDeviceRecord(table.data(), table.size(), &position, record.data(), 5));
    const Bytes before = table;
    EXPECT_FALSE(AppendDeviceRecord(table.data(), table.size(), &position, record.data(), 1));
    EXPECT_EQ(table, before);
    EXPECT_EQ(position, 7u);
}

TEST(DiscoveryDatagram, RequestIsIdentifierAndSearchCode) {
    uint8_t request[kDiscoveryRequestLength];
    BuildDiscoveryRequest(request);
    const Bytes expected = {0x4B, 0x56, 0x4D, 0x34, 0x37, 0x4A, 0x53, 0x01};
    EXPECT_EQ(Bytes(request, request + sizeof request), expected);
}

TEST(DiscoveryDatagram, AcceptsOnlySearchRepliesOf9To256Bytes) {
    uint8_t reply[300] = {'K', 'V', 'M', '4', '7', 'J', 'R', 0x01};
    const struct {
        ssize_t length;
        bool accepted;
    } lengths[] = {{-1, false}, {0, false},  {8, false},   {9, true},
                   {31, true},  {256, true}, {257, false}, {300, false}};
    for (const auto& c : lengths) {
        EXPECT_EQ(IsDiscoveryReply(reply, c.length), c.accepted) << c.length << " bytes";
    }

    const struct {
        size_t offset;
        uint8_t value;
    } changes[] = {{0, 'k'}, {6, 'S'}, {6, 'X'}, {7, 0x00}, {7, 0x02}, {7, 0x03}};
    for (const auto& c : changes) {
        uint8_t changed[31];
        std::memcpy(changed, reply, sizeof changed);
        changed[c.offset] = c.value;
        EXPECT_FALSE(IsDiscoveryReply(changed, sizeof changed))
            << "byte " << c.offset << " = " << int(c.value);
    }
}

}  // namespace
