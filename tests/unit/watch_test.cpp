#include "commission/Watch.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/MemorySegment.h"

namespace {

struct Heard : WatchListener {
    void OnSearchEnded(const std::vector<SegmentChange>& now) override {
        for (const SegmentChange& change : now) {
            changes.push_back(change.kind);
        }
    }
    void OnPortBusy() override { ++busy; }
    std::vector<SegmentChange::Kind> changes;
    int busy = 0;
};

std::vector<int64_t> Milliseconds(const std::vector<Instant>& times) {
    std::vector<int64_t> ms;
    for (const Instant at : times) {
        ms.push_back(MillisecondsBetween(Instant{}, at));
    }
    return ms;
}

// Watches `segment` for `ms`, from a closed port.
Heard WatchFor(MemorySegment& segment, int ms) {
    Heard heard;
    Watch watch(segment, heard, Instant{}, ms);
    RunInMemory(
        watch, segment, [&watch](Instant now) { return watch.Over(now); }, kNever);
    return heard;
}

TEST(Watch, SearchesLessOftenWhileNothingChangesAndHoldsThePortOnlyToListen) {
    MemorySegment segment(0, 1, false);
    segment.AddMany(2, 0);
    segment.Device(1).vanishesAtMs = 9000;
    const Heard heard = WatchFor(segment, 30000);
    // Two requests a search. The first finds the devices: 1 s to the next;
    // then 2 s, 4 s and 4 s at the most. The device that vanished at 9 s is
    // gone at the third search without it, a change: 1 s again.
    const std::vector<int64_t> expected = {0,     100,   1000,  1100,  3000,  3100,  7000,
                                           7100,  11000, 11100, 15000, 15100, 19000, 19100,
                                           20000, 20100, 22000, 22100, 26000, 26100};
    EXPECT_EQ(Milliseconds(segment.Traffic().requests), expected);
    EXPECT_EQ(heard.changes,
              (std::vector<SegmentChange::Kind>{SegmentChange::Appeared, SegmentChange::Appeared,
                                                SegmentChange::Gone}));
    // Taken for each search, given back once its answers have stopped.
    const MemoryTraffic& traffic = segment.Traffic();
    ASSERT_EQ(traffic.taken.size(), expected.size() / 2);
    ASSERT_EQ(traffic.givenBack.size(), traffic.taken.size());
    for (size_t i = 0; i < traffic.taken.size(); ++i) {
        const int64_t held = MillisecondsBetween(traffic.taken[i], traffic.givenBack[i]);
        EXPECT_GE(held, kSearchPassIntervalMs + kSearchListenMs);
        EXPECT_LE(held, kSearchPassIntervalMs + kSearchListenMs + 5);  // the last answer's delay
    }
    EXPECT_EQ(traffic.sentWithoutPort, 0u);
}

TEST(Watch, APortTakenByAnotherProgramIsTriedEverySecond) {
    MemorySegment segment(0, 1, false);
    segment.AddMany(1, 0);
    segment.BusyUntil(After(Instant{}, 2500));
    const Heard heard = WatchFor(segment, 4000);
    EXPECT_EQ(heard.busy, 3);  // at 0, 1 and 2 s
    EXPECT_EQ(Milliseconds(segment.Traffic().requests), (std::vector<int64_t>{3000, 3100}));
}

}  // namespace
