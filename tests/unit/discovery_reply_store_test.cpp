#include "discovery/DiscoveryReplyStore.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "discovery/DeviceTable.h"
#include "tests/support/TestFrames.h"

using test_frames::Bytes;

namespace {

constexpr uint8_t kUntouched = 0xA5;

// "KVM47JR", the search command and `recordLength` record bytes.
Bytes Reply(size_t recordLength, uint8_t command = 0x01, const char* identifier = "KVM47JR") {
    Bytes datagram(identifier, identifier + 7);
    datagram.push_back(command);
    for (size_t i = 0; i < recordLength; ++i) {
        datagram.push_back(static_cast<uint8_t>(0x10 + i));
    }
    return datagram;
}

struct StoreCase {
    const char* name;
    Bytes datagram;
    long length;  // what the receive gave
    DiscoveryDatagramOutcome outcome;
};

void PrintTo(const StoreCase& c, std::ostream* os) {
    *os << c.name;
}

class StoreDiscoveryDatagramTest : public testing::TestWithParam<StoreCase> {};

TEST_P(StoreDiscoveryDatagramTest, StoresRepliesAndSkipsTheRest) {
    const StoreCase& c = GetParam();
    Bytes table(64, kUntouched);
    size_t position = ResetDeviceTable(table.data());

    EXPECT_EQ(
        StoreDiscoveryDatagram(table.data(), table.size(), &position, c.datagram.data(), c.length),
        c.outcome);

    if (c.outcome == DiscoveryDatagramOutcome::Stored) {
        const size_t recordLength = static_cast<size_t>(c.length) - 8;
        EXPECT_EQ(table[0], 1);
        EXPECT_EQ(table[1], recordLength);
        EXPECT_EQ(Bytes(table.begin() + 2, table.begin() + 2 + static_cast<long>(recordLength)),
                  Bytes(c.datagram.begin() + 8, c.datagram.begin() + c.length));
        EXPECT_EQ(position, 2 + recordLength);
    } else {
        EXPECT_EQ(table[0], 0);
        EXPECT_EQ(table[1], kUntouched);
        EXPECT_EQ(position, 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Datagrams, StoreDiscoveryDatagramTest,
    testing::Values(
        StoreCase{"NineBytes", Reply(1), 9, DiscoveryDatagramOutcome::Stored},
        StoreCase{"WholeReply", Reply(23), 31, DiscoveryDatagramOutcome::Stored},
        StoreCase{"EightBytes", Reply(0), 8, DiscoveryDatagramOutcome::Skipped},
        StoreCase{"FailedReceive", Reply(1), -1, DiscoveryDatagramOutcome::Skipped},
        // Longer than the receive buffer: only 256 bytes arrived.
        StoreCase{"LongerThanTheBuffer", Reply(248), 257, DiscoveryDatagramOutcome::Skipped},
        StoreCase{"SetupReply", Reply(6, 0x02), 14, DiscoveryDatagramOutcome::Skipped},
        StoreCase{"OwnRequest", Reply(1, 0x01, "KVM47JS"), 9, DiscoveryDatagramOutcome::Skipped},
        // 1 + 1 + 62 bytes would leave no byte of the 64 free.
        StoreCase{"DoesNotFit", Reply(62), 70, DiscoveryDatagramOutcome::TableFull},
        StoreCase{"FitsWithOneByteFree", Reply(61), 69, DiscoveryDatagramOutcome::Stored}),
    [](const testing::TestParamInfo<StoreCase>& info) { return std::string(info.param.name); });

}  // namespace
