#include "commission/DeviceSightings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>
#include "tests/support/TestFrames.h"

using test_frames::Bytes;

namespace {

// A discovery reply: "KVM47JR", the search command, then the record.
Bytes Reply(const Bytes& record) {
    Bytes datagram = {'K', 'V', 'M', '4', '7', 'J', 'R', 0x01};
    datagram.insert(datagram.end(), record.begin(), record.end());
    return datagram;
}

const Bytes kDevice = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 1, 6, 10, 0, 0, 5};
const Bytes kSameMacOtherRecord = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 1, 6, 10, 0, 0, 6};
const Bytes kOtherDevice = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x61, 1, 6, 10, 0, 0, 7};

// Each step: a datagram as received on an interface, and what it told.
struct Step {
    Bytes datagram;
    unsigned interfaceIndex;
    SightingNews news;
};

TEST(DeviceSightings, MergesRepliesByMacAndKeepsEveryInterface) {
    const Step steps[] = {
        {Reply(kDevice), 2, SightingNews::NewDevice},
        {Reply(kDevice), 2, SightingNews::Known},  // the answer to a second request
        {Reply(kDevice), 3, SightingNews::NewInterface},
        {Reply(kDevice), 3, SightingNews::Known},
        {Reply(kOtherDevice), 2, SightingNews::NewDevice},
        // Two devices that share a MAC: two sightings of it.
        {Reply(kSameMacOtherRecord), 2, SightingNews::NewRecord},
        {Bytes{'K', 'V', 'M', '4', '7', 'J', 'S', 0x01}, 2, SightingNews::NotAReply},
        {Reply({}), 2, SightingNews::NotAReply},  // a header without a record
    };
    DeviceSightings sightings;
    for (const Step& step : steps) {
        EXPECT_EQ(sightings.Add(step.datagram.data(), static_cast<ssize_t>(step.datagram.size()),
                                step.interfaceIndex),
                  step.news);
    }
    ASSERT_EQ(sightings.All().size(), 3u);
    const MacAddress mac = RecordMac(kDevice.data(), kDevice.size());
    const std::vector<const DeviceSighting*> twins = sightings.Of(mac);
    ASSERT_EQ(twins.size(), 2u);
    EXPECT_EQ(twins[0]->record, kDevice);
    EXPECT_EQ(twins[0]->interfaces, (std::vector<unsigned>{2, 3}));
    EXPECT_EQ(twins[1]->record, kSameMacOtherRecord);
    EXPECT_TRUE(sightings.Heard(RecordMac(kOtherDevice.data(), kOtherDevice.size())));
    EXPECT_FALSE(sightings.Heard(MacAddress{}));
}

TEST(DeviceSightings, ShortRecordsAndAFailedReceive) {
    DeviceSightings sightings;
    const Bytes oneByte = Reply({0x7E});
    EXPECT_EQ(sightings.Add(oneByte.data(), static_cast<ssize_t>(oneByte.size()), 0),
              SightingNews::NewDevice);
    EXPECT_EQ(sightings.All().front().mac, (MacAddress{0x7E, 0, 0, 0, 0, 0}));
    EXPECT_EQ(sightings.Add(oneByte.data(), -1, 0), SightingNews::NotAReply);
}

TEST(DeviceSightings, KeepsAtMostItsBoundAndCountsTheRest) {
    DeviceSightings sightings;
    for (size_t n = 0; n <= DeviceSightings::kMostSightings + 1; ++n) {
        const Bytes reply = Reply({0x02, 0x56, 0x51, static_cast<uint8_t>(n >> 16),
                                   static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
        sightings.Add(reply.data(), static_cast<ssize_t>(reply.size()), 1);
    }
    EXPECT_EQ(sightings.All().size(), DeviceSightings::kMostSightings);
    EXPECT_EQ(sightings.Overflowed(), 2u);
}

}  // namespace
