#include "commission/Commissioner.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "channel/ChannelResult.h"
#include "tests/support/MemorySegment.h"

namespace {

constexpr int kSettleMs = 5000;
constexpr uint32_t kNewNet = 0x0A010000;  // 10.1.0.0: where the plan moves each device

Instant At(int64_t milliseconds) {
    return After(Instant{}, milliseconds);
}

// The task that moves device `device` to 10.1.x.y, keeping its other values.
CommissionTask TaskFor(const MemoryDevice& device, std::optional<uint8_t> id) {
    CommissionTask task;
    std::copy(device.mac.begin(), device.mac.end(), task.target.mac);
    task.target.ip = kNewNet | (device.ip & 0xFFFF);
    task.target.mask = device.mask;
    task.target.gateway = device.gateway;
    task.target.port = static_cast<uint16_t>(device.port + 1);
    task.target.baudCode = device.baudCode;
    task.id = id;
    task.interfaces = {device.interfaceIndex};
    return task;
}

struct Outcomes : CommissionObserver {
    void OnStep(size_t, CommissionStep step, const CommissionResult&) override {
        finished += step == CommissionStep::Finished ? 1 : 0;
    }
    void OnWaiting(size_t, int) override {}
    size_t finished = 0;
};

// Every device of `segment` commissioned in memory, each with `id` (when
// given), until every task has its outcome or a minute passes.
CommissionOptions Settling(int settleMs = kSettleMs) {
    CommissionOptions options;
    options.settleTimeoutMs = settleMs;
    return options;
}

struct EngineRun {
    EngineRun(MemorySegment& segment, std::optional<uint8_t> id = std::nullopt,
              CommissionOptions options = Settling(), Instant stopAt = kNever)
        : engine(options, segment, &outcomes, segment.Now()) {
        for (size_t i = 0; i < segment.Devices(); ++i) {
            engine.Add(TaskFor(segment.Device(i), id));
        }
        run = RunInMemory(
            engine, segment, [this](Instant) { return engine.AllDone(); }, At(60000), stopAt);
    }
    const CommissionResult& Result(size_t i = 0) const { return engine.Result(i); }

    Outcomes outcomes;
    Commissioner engine;
    MemoryRun run;
};

MemoryDevice Device(uint8_t last) {
    MemoryDevice device;
    device.mac = {0x00, 0x1A, 0x2B, 0x00, 0x00, last};
    device.ip = 0x0A000000 | last;
    device.gateway = 0x0A000001;
    return device;
}

// Each outcome from the fault that causes it, and every task's outcome by
// its deadline.
struct OutcomeCase {
    const char* name;
    std::function<void(MemoryDevice&)> fault;
    std::optional<uint8_t> id;
    bool awaitReturn;
    CommissionOutcome outcome;
    bool confirmed;
};

class Outcome : public testing::TestWithParam<OutcomeCase> {};

TEST_P(Outcome, FollowsFromTheDevicesFault) {
    const OutcomeCase& c = GetParam();
    MemorySegment segment;
    MemoryDevice device = Device(1);
    c.fault(device);
    segment.Add(device);
    CommissionOptions options = Settling();
    options.awaitReturn = c.awaitReturn;
    const EngineRun run(segment, c.id, options);
    ASSERT_TRUE(run.run.done);
    const CommissionResult& result = run.Result();
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(result.confirmed, c.confirmed);
    // A write under way ends by its own limits (5 ms here).
    EXPECT_LE(result.elapsedMs, kSettleMs + 5);
    EXPECT_EQ(run.outcomes.finished, 1u);
    EXPECT_EQ(segment.Traffic().sentWithoutPort, 0u);
}

const OutcomeCase kOutcomeCases[] = {
    {"RestartsAndTakesItsId", [](MemoryDevice& d) { d.restartMs = 1500; }, 7, true,
     CommissionOutcome::Verified, true},
    {"LosesItsConfirmation", [](MemoryDevice& d) { d.losesConfirmations = true; }, std::nullopt,
     true, CommissionOutcome::Verified, false},
    {"NotWaitedFor", [](MemoryDevice& d) { d.restartMs = 1500; }, 7, false,
     CommissionOutcome::Confirmed, true},
    {"IgnoresEverySetup", [](MemoryDevice& d) { d.ignoresSetups = true; }, std::nullopt, true,
     CommissionOutcome::NotConfirmed, false},
    {"NeverComesBack", [](MemoryDevice& d) { d.restartMs = MemoryDevice::kNeverBack; },
     std::nullopt, true, CommissionOutcome::NotBack, true},
    {"KeepsItsPort",
     [](MemoryDevice& d) {
         d.keepsPort = true;
         d.restartMs = 500;
     },
     std::nullopt, true, CommissionOutcome::OtherValues, true},
    {"RefusesItsId", [](MemoryDevice& d) { d.refusesId = true; }, 7, true,
     CommissionOutcome::IdNotWritten, true},
    {"AnswersAnotherId", [](MemoryDevice& d) { d.answersId = 9; }, 7, true,
     CommissionOutcome::IdNotWritten, true},
    {"VanishesBeforeItsSetup", [](MemoryDevice& d) { d.vanishesAtMs = 0; }, std::nullopt, true,
     CommissionOutcome::NotConfirmed, false},
};

INSTANTIATE_TEST_SUITE_P(Commissioner, Outcome, testing::ValuesIn(kOutcomeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Commissioner, AStopEndsEveryTaskInterruptedAtOnce) {
    MemorySegment segment;
    segment.AddMany(3, 10000);
    const EngineRun run(segment, std::nullopt, Settling(), At(2000));
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(run.Result(i).outcome, CommissionOutcome::Interrupted);
        EXPECT_EQ(run.Result(i).elapsedMs, 2000);
    }
}

TEST(Commissioner, AnIdThatFailsIsTriedAgainUntilTheDeadline) {
    MemorySegment segment;
    MemoryDevice device = Device(1);
    device.refusesId = true;
    segment.Add(device);
    const EngineRun run(segment, 7);
    // Every 0.5 s from its return (at once) while a retry fits the deadline.
    EXPECT_EQ(run.Result().idAttempts, kSettleMs / kIdRetryAfterMs);
    EXPECT_EQ(run.Result().idResult, kTcpConnectFailed);
}

// The schedule of setup datagrams: again 0.5, 1 and 2 s after the first while
// unconfirmed; after that only when the device answers with its old values,
// up to the most a task sends.
TEST(Commissioner, SetupsGoAgainByTheClockThenOnOldValues) {
    const struct {
        bool answers;
        std::vector<int64_t> expected;
    } cases[] = {
        // Gone: the clock's three resends, then nothing more.
        {false, {0, 500, 1000, 2000}},
        // Up and ignoring them: then one per search that shows the old
        // values, which go out every second while it is awaited.
        {true, {0, 500, 1000, 2000, 3000, 4000, 5000, 6000}},
    };
    for (const auto& c : cases) {
        MemorySegment segment;
        MemoryDevice device = Device(1);
        device.ignoresSetups = true;
        device.vanishesAtMs = c.answers ? -1 : 0;
        segment.Add(device);
        const EngineRun run(segment, std::nullopt, Settling(10000));
        std::vector<int64_t> sent;
        for (const Instant at : segment.Traffic().SetupsOf(device.mac)) {
            // A resend on an answer goes out when the answer comes in.
            sent.push_back(MillisecondsBetween(Instant{}, at) / 100 * 100);
        }
        EXPECT_EQ(sent, c.expected) << (c.answers ? "answers" : "gone");
        EXPECT_LE(sent.size(), static_cast<size_t>(kMostSetupDatagrams));
    }
}

TEST(Commissioner, NoSearchWhileNobodyIsAwaited) {
    // IDs alone: nothing is searched for.
    MemorySegment idsOnly;
    idsOnly.AddMany(4, 0);
    CommissionTask task = TaskFor(idsOnly.Device(0), 5);
    task.setupNeeded = false;
    task.target.ip = idsOnly.Device(0).ip;
    task.target.port = idsOnly.Device(0).port;
    Outcomes outcomes;
    Commissioner engine({}, idsOnly, &outcomes, Instant{});
    engine.Add(task);
    const MemoryRun run = RunInMemory(
        engine, idsOnly, [&](Instant) { return engine.AllDone(); }, At(60000));
    EXPECT_TRUE(run.done);
    EXPECT_EQ(engine.Result(0).outcome, CommissionOutcome::Verified);
    EXPECT_TRUE(idsOnly.Traffic().requests.empty());

    // Setups: searches while the devices restart, none after the last is back.
    MemorySegment segment;
    segment.AddMany(4, 3000);
    const EngineRun setups(segment);
    const Instant lastBack = After(Instant{}, setups.Result(0).elapsedMs);
    ASSERT_FALSE(segment.Traffic().requests.empty());
    EXPECT_LE(segment.Traffic().requests.back(), lastBack);
    // While they restart, about one request a second.
    EXPECT_LE(segment.Traffic().requests.size(), 6u);
}

TEST(Commissioner, AtMostTheConfiguredSetupsAreInTheirFirstSecondsAtOnce) {
    MemorySegment segment;
    segment.AddMany(10, 0);
    for (size_t i = 0; i < 10; ++i) {
        segment.Device(i).ignoresSetups = true;  // each stays in its first seconds
        segment.Device(i).vanishesAtMs = 0;
    }
    CommissionOptions options = Settling();
    options.setupsAtOnce = 4;
    const EngineRun run(segment, std::nullopt, options);
    // Four start at once; the next four when those leave their first 2 s.
    std::map<int64_t, int> firsts;
    for (size_t i = 0; i < 10; ++i) {
        ++firsts[MillisecondsBetween(Instant{},
                                     segment.Traffic().SetupsOf(segment.Device(i).mac)[0])];
    }
    EXPECT_EQ(firsts, (std::map<int64_t, int>{{0, 4}, {2000, 4}, {4000, 2}}));
}

// A station that takes the device it hears in its `take`-th answer, and
// counts the turns after which the engine would be woken at once again: a
// wake that has passed, which a driver would serve in a busy loop.
struct Station : SegmentClient {
    Station(Commissioner& e, MemorySegment& s, int take, bool endsWatch)
        : engine(e), segment(s), take(take), endsWatch(endsWatch) {}
    void Advance(Instant now) override {
        engine.Advance(now);
        stuck += engine.NextWake() <= now ? 1 : 0;
    }
    Instant NextWake() const override { return engine.NextWake(); }
    void Answer(Instant now, const uint8_t* record, size_t length, unsigned i) override {
        if (++answers == take) {
            engine.SegmentChanged();
            engine.Add(TaskFor(segment.Device(0), std::nullopt));
            if (endsWatch) {
                engine.EndWatch();
            }
        }
        engine.Answer(now, record, length, i);
    }
    void Confirmation(Instant now, const uint8_t* mac) override { engine.Confirmation(now, mac); }
    MemoryRun Run() {
        return RunInMemory(
            *this, segment,
            [this](Instant now) {
                return stuck > 0 || (engine.AllDone() && engine.WatchOver(now));
            },
            At(60000));
    }

    Commissioner& engine;
    MemorySegment& segment;
    int take;
    bool endsWatch;
    int answers = 0;
    int stuck = 0;
};

// A station holds the port while a search listens or a device is under way,
// and gives it back between its searches.
TEST(Commissioner, AStationHoldsThePortOnlyWhileItNeedsIt) {
    MemorySegment segment(0, 1, false);
    MemoryDevice device = Device(1);
    device.appearsAtMs = 5000;
    device.restartMs = 3000;
    segment.Add(device);
    CommissionOptions options;
    options.watch = true;
    options.watchTimeoutMs = 20000;
    Outcomes outcomes;
    Commissioner engine(options, segment, &outcomes, Instant{}, false);
    Station station(engine, segment, 1, true);
    const MemoryRun run = station.Run();
    ASSERT_TRUE(run.done);
    EXPECT_EQ(engine.Result(0).outcome, CommissionOutcome::Verified);
    const MemoryTraffic& traffic = segment.Traffic();
    EXPECT_EQ(traffic.sentWithoutPort, 0u);
    // Before the device came, each search took the port for its listening
    // alone; from then on it was held until the device was verified (and
    // the command, which closes it, ended).
    ASSERT_EQ(traffic.taken.size(), traffic.givenBack.size() + 1);
    for (size_t i = 0; i < traffic.givenBack.size(); ++i) {
        EXPECT_LE(MillisecondsBetween(traffic.taken[i], traffic.givenBack[i]), 500);
    }
    EXPECT_LE(traffic.taken.back(), After(Instant{}, 8000));
    EXPECT_GE(run.end, After(traffic.taken.back(), 3000));
}

// While its device restarts, a station's wakes lie ahead: the second request
// of a watch's search waits while a device is awaited, and a time-out that
// has passed is no wake.
TEST(Commissioner, AStationIsWokenOnlyForWhatIsDue) {
    const struct {
        const char* name;
        int take;  // the answer whose device it takes
        int watchTimeoutMs;
    } cases[] = {
        {"taken between the requests of a search", 1, 20000},
        {"time-out while the device restarts", 2, 1000},
    };
    for (const auto& c : cases) {
        MemorySegment segment(0, 1, false);
        MemoryDevice device = Device(1);
        device.restartMs = 3000;
        segment.Add(device);
        CommissionOptions options;
        options.watch = true;
        options.watchTimeoutMs = c.watchTimeoutMs;
        Commissioner engine(options, segment, nullptr, Instant{}, false);
        Station station(engine, segment, c.take, false);
        station.Run();
        EXPECT_EQ(station.stuck, 0) << c.name;
        EXPECT_EQ(engine.Result(0).outcome, CommissionOutcome::Verified) << c.name;
    }
}

// A card that sends nothing: the task's setups go by its other card in turn,
// and the failed attempts count towards the most a task sends.
TEST(Commissioner, AFailingInterfaceIsNotTriedAgainBeforeTheOthers) {
    struct DeadCard : MemorySegment {
        bool SendSetup(const uint8_t (&datagram)[kSetupDatagramLength], unsigned interfaceIndex,
                       uint32_t directTo) override {
            ++attempts;
            return interfaceIndex != 1 &&
                   MemorySegment::SendSetup(datagram, interfaceIndex, directTo);
        }
        int attempts = 0;
    } segment;
    MemoryDevice device = Device(1);
    device.interfaceIndex = 2;
    device.ignoresSetups = true;  // so that every attempt is made
    segment.Add(device);
    CommissionTask task = TaskFor(device, std::nullopt);
    task.interfaces = {1, 2};
    Commissioner engine(Settling(10000), segment, nullptr, Instant{});
    engine.Add(task);
    RunInMemory(
        engine, segment, [&](Instant) { return engine.AllDone(); }, At(60000));
    EXPECT_EQ(segment.attempts, kMostSetupDatagrams);
    EXPECT_EQ(engine.Result(0).setupDatagrams, kMostSetupDatagrams / 2);
    for (const MemoryTraffic::Setup& setup : segment.Traffic().setups) {
        EXPECT_EQ(setup.interfaceIndex, 2u);
    }
}

// Thousands of devices that restart for 10 s after their setup, on a segment
// that loses a tenth of all datagrams each way: every one verified. Nearly all
// are back within a second of their restart; the last are the few (one in a
// thousand) whose first three datagrams were lost, which take the clock's
// last resend at 2 s and are seen within a search or two of their return.
// Setups all at once: the command line's --parallel (255 at most) would
// spread the first datagrams over several seconds.
TEST(Commissioner, FourThousandDevicesAtATenthLost) {
    MemorySegment segment(10, 7);
    segment.AddMany(DeviceSightings::kMostSightings, 10000);
    CommissionOptions options;
    options.setupsAtOnce = DeviceSightings::kMostSightings;
    options.settleTimeoutMs = kDefaultSettleTimeoutMs;
    Outcomes outcomes;
    Commissioner engine(options, segment, &outcomes, Instant{});
    for (size_t i = 0; i < segment.Devices(); ++i) {
        engine.Add(TaskFor(segment.Device(i), std::nullopt));
    }
    const MemoryRun run = RunInMemory(
        engine, segment, [&](Instant) { return engine.AllDone(); }, At(60000));
    ASSERT_TRUE(run.done);
    size_t verified = 0;
    for (size_t i = 0; i < engine.Tasks(); ++i) {
        verified += engine.Result(i).outcome == CommissionOutcome::Verified ? 1 : 0;
    }
    EXPECT_EQ(verified, engine.Tasks());
    EXPECT_LE(run.end, At(10000 + kSetupResendAfterMs[2] + kReturnSearchSlowMs));
}

}  // namespace
