// The commissioning engine driven by any sequence of events (answers of any
// record, confirmations of any MAC, results of the ID writes it started,
// tasks added, a stop, a station's calls), each at a time that never goes
// back, on a driver that is always on time. After every event it checks what
// the engine promises, against a model of each task built only from what the
// harness gave it and what the engine told and sent:
//  - Verified only after an answer with every asked value reached the task
//    while it was awaited (or it needed no setup), and, for an ID, a write
//    result of 0 or more that read the asked ID back;
//  - every outcome one of the documented ones, for the reason its comment
//    gives, by the task's deadline (a write under way ends by its own limits,
//    which the harness enforces), and Finished told once, and nothing after;
//  - setup datagrams: only while the task sets up, at most
//    kMostSetupDatagrams, each by the next of the task's interfaces (0 for
//    none) or straight to its directTo, carrying its values; the first
//    seconds' resends on the clock, later ones only on an answer with other
//    values to a request after the last datagram; at most setupsAtOnce tasks
//    in their first seconds;
//  - requests only while someone is awaited or a station's watch runs, never
//    closer together than kLeastSearchGapMs; nothing sent without the port;
//  - the engine's heap bounded by its tasks (counted by allocation hooks).
//
// Input: CommissionEngineInput.h.
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>

#include "channel/ChannelResult.h"
#include "commission/Commissioner.h"
#include "discovery/DeviceRecord.h"
#include "idassign/DeviceId.h"
#include "tests/fuzz/CommissionEngineInput.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

using namespace engine_input;

constexpr Instant kStart{};
// Virtual time beyond which no further event is taken, so that an input
// costs a bounded number of turns.
constexpr int kLongestRunMs = 20000;
// Turns at one moment that bring no time forward: more is a spin.
constexpr int kMostTurnsAtOnce = 64;
// After the last outcome the run goes on this long: nothing may be sent.
constexpr int kAfterDoneMs = 2000;
// The heap a run may hold: what it keeps whatever its tasks (about 1.7 KB:
// libstdc++ gives each deque a 512-byte node from the start), and per task
// its machine, its last record, its interfaces and its share of the run's
// maps, set and deques (about 500 bytes in all with a short record). Memory
// that grows with what is heard, not with the tasks, passes it soon.
constexpr long kRunBytes = 3072;
constexpr long kTaskBytes = sizeof(DeviceCommission) + kLargestRecordLength + 512;
constexpr uint8_t kStrangerMac[kMacLength] = {0x02, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE};

// --- the heap, counted while an input runs on this thread ----------------
thread_local bool counting = false;
long liveBytes = 0;
long peakBytes = 0;

FUZZ_MODEL void OnMalloc(const volatile void*, size_t size) {
    if (counting) {
        liveBytes += static_cast<long>(size);
        peakBytes = std::max(peakBytes, liveBytes);
    }
}

FUZZ_MODEL void OnFree(const volatile void* pointer) {
    if (counting && pointer != nullptr) {
        liveBytes -=
            static_cast<long>(__sanitizer_get_allocated_size(const_cast<const void*>(pointer)));
    }
}

// --- what the harness knows of each task ----------------------------------
enum class Phase { Queued, SettingUp, Returning, Back, WritingId, IdRetryWait, Done };

struct TaskModel {
    SetupValues target;
    bool setupNeeded = false;
    std::optional<uint8_t> id;
    unsigned interfaces[kMostInterfaces] = {};
    size_t interfaceCount = 0;
    uint32_t directTo = 0;

    Phase phase = Phase::Queued;
    Instant startAt{};
    int attempts = 0;  // SendSetup calls
    int sent = 0;      // of them, went out
    Instant lastSetupAt{};
    bool inBurst = false;
    int burstSends = 0;
    bool confirmed = false;  // while setting up
    bool confirmationHeard = false;
    Instant confirmedAt{};
    bool seenOther = false;  // other values, to a request after the confirmation
    bool back = false;
    bool otherAfterVerified = false;
    bool writing = false;
    Instant writeEndsAt{};
    Instant retryAt{};
    bool idProven = false;
    int finished = 0;
    CommissionOutcome outcome{};

    bool Awaited() const { return phase == Phase::SettingUp || phase == Phase::Returning; }
    Instant Deadline(int settleMs) const { return After(startAt, settleMs); }
};

enum class Inside { Nothing, Advance, Answer, Confirmation, IdWritten, Stop };

FUZZ_MODEL uint32_t Read32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

// Bytes compared without memcmp, whose interception would feed libFuzzer's
// tables with the harness's comparisons.
FUZZ_MODEL bool Same(const uint8_t* a, const uint8_t* b, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (a[i] != b[i]) {
            return false;
        }
    }
    return true;
}

FUZZ_MODEL void Put32(uint8_t* bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
    }
}

// The record shows every value of `target`: read at the wire table's offsets.
FUZZ_MODEL bool Shows(const uint8_t* record, size_t length, const SetupValues& target) {
    return length >= kRecordFieldsLength && Read32(record + kRecordIpOffset) == target.ip &&
           Read32(record + kRecordMaskOffset) == target.mask &&
           Read32(record + kRecordGatewayOffset) == target.gateway &&
           (record[kRecordPortOffset] << 8 | record[kRecordPortOffset + 1]) == target.port &&
           record[kRecordBaudCodeOffset] == target.baudCode;
}

// The setup datagram's builder refuses an all-ones address.
FUZZ_MODEL bool Refused(const SetupValues& target) {
    return target.ip == 0xFFFFFFFF || target.mask == 0xFFFFFFFF || target.gateway == 0xFFFFFFFF;
}

// The segment, the observer and the driver's clock in one: each call of the
// engine's is checked as it comes.
class World : public SegmentActions, public CommissionObserver {
public:
    CommissionOptions options;
    Instant now = kStart;
    TaskModel tasks[kMostTasks];
    size_t count = 0;
    bool held = true;
    Instant busyUntil = kStart;
    uint8_t failing = 0;
    bool watchEnded = false;
    bool stopped = false;
    bool requested = false;
    Instant lastRequestAt{};
    Instant lastRefusedAt = kNever;
    Inside inside = Inside::Nothing;
    size_t about = 0;    // the task of the answer, confirmation or result under way
    bool shows = false;  // the answer under way shows its task's values
    bool aboutTask = false;

    FUZZ_MODEL bool Watching() const {
        return options.watch && !watchEnded &&
               (options.watchTimeoutMs == 0 || now < After(kStart, options.watchTimeoutMs));
    }
    FUZZ_MODEL size_t AwaitedCount() const {
        size_t awaited = 0;
        for (size_t i = 0; i < count; ++i) {
            awaited += tasks[i].Awaited() ? 1 : 0;
        }
        return awaited;
    }
    // The task named by `mac`, or kMostTasks.
    FUZZ_MODEL size_t TaskOf(const uint8_t* mac) const {
        for (size_t i = 0; i < count; ++i) {
            if (Same(tasks[i].target.mac, mac, kMacLength)) {
                return i;
            }
        }
        return kMostTasks;
    }
    FUZZ_MODEL bool About(Inside what, size_t task) const {
        return inside == what && aboutTask && about == task;
    }
    FUZZ_MODEL void Begin(TaskModel& task) {
        if (task.phase == Phase::Queued && task.finished == 0) {
            task.startAt = now;
        }
    }

    // SegmentActions
    FUZZ_MODEL bool OpenPort() override {
        FUZZ_CHECK(!held);
        if (now < busyUntil) {
            lastRefusedAt = now;
            return false;
        }
        held = true;
        return true;
    }
    FUZZ_MODEL void ClosePort() override {
        FUZZ_CHECK(held);
        held = false;
    }
    bool SendSearch() override;
    bool SendSetup(const uint8_t (&datagram)[kSetupDatagramLength], unsigned interfaceIndex,
                   uint32_t directTo) override;
    void WriteId(const IdWriteJob& job) override;

    // CommissionObserver
    void OnStep(size_t task, CommissionStep step, const CommissionResult& result) override;
    void OnWaiting(size_t devices, int waitedMs) override;
    FUZZ_MODEL void OnPortBusy() override { FUZZ_CHECK(lastRefusedAt == now); }

    void CheckOutcome(size_t i, CommissionOutcome outcome);
};

World world;
std::optional<Commissioner> engine;
CommissionTask adding;

FUZZ_MODEL bool World::SendSearch() {
    FUZZ_CHECK(held);
    FUZZ_CHECK(AwaitedCount() > 0 || Watching());
    FUZZ_CHECK(!requested || now >= After(lastRequestAt, kLeastSearchGapMs));
    requested = true;
    lastRequestAt = now;
    return true;
}

FUZZ_MODEL bool World::SendSetup(const uint8_t (&datagram)[kSetupDatagramLength],
                                 unsigned interfaceIndex, uint32_t directTo) {
    FUZZ_CHECK(held);
    const size_t i = TaskOf(datagram + kSetupMacOffset);
    FUZZ_CHECK(i < count);
    TaskModel& task = tasks[i];
    FUZZ_CHECK(task.setupNeeded && !Refused(task.target) && task.finished == 0);
    FUZZ_CHECK(task.phase == Phase::Queued || task.phase == Phase::SettingUp);
    FUZZ_CHECK(task.attempts < kMostSetupDatagrams);
    FUZZ_CHECK(
        interfaceIndex ==
        (task.interfaceCount == 0 ? 0 : task.interfaces[task.attempts % task.interfaceCount]));
    FUZZ_CHECK(directTo == task.directTo);
    FUZZ_CHECK(
        Same(datagram, reinterpret_cast<const uint8_t*>("KVM47JS\x02"), kDatagramHeaderLength));
    FUZZ_CHECK(Read32(datagram + kSetupNewIpOffset) == task.target.ip);
    FUZZ_CHECK(Read32(datagram + kSetupNewMaskOffset) == task.target.mask);
    FUZZ_CHECK(Read32(datagram + kSetupNewGatewayOffset) == task.target.gateway);
    FUZZ_CHECK((datagram[kSetupPortHighOffset] << 8 | datagram[kSetupPortLowOffset]) ==
               task.target.port);
    FUZZ_CHECK(datagram[kSetupBaudCodeOffset] == task.target.baudCode);
    if (task.phase == Phase::Queued) {
        // The first: a start, within the limit of setups in their first seconds.
        FUZZ_CHECK(inside == Inside::Advance);
        Begin(task);
        task.phase = Phase::SettingUp;
        task.inBurst = true;
        size_t inBurst = 0;
        for (size_t t = 0; t < count; ++t) {
            inBurst += tasks[t].inBurst ? 1 : 0;
        }
        FUZZ_CHECK(inBurst <= std::max<size_t>(1, options.setupsAtOnce));
    } else if (task.inBurst) {
        // Again by the clock, on time.
        FUZZ_CHECK(inside == Inside::Advance);
        FUZZ_CHECK(now == After(task.startAt, kSetupResendAfterMs[task.burstSends - 1]));
    } else {
        // Again only when the device answered a later request with other values.
        FUZZ_CHECK(About(Inside::Answer, i) && !shows);
        FUZZ_CHECK(requested && lastRequestAt > task.lastSetupAt);
    }
    if (task.inBurst && ++task.burstSends == 1 + static_cast<int>(std::size(kSetupResendAfterMs))) {
        task.inBurst = false;
    }
    ++task.attempts;
    task.lastSetupAt = now;
    const bool out = (failing >> (interfaceIndex & 7) & 1) == 0;
    task.sent += out ? 1 : 0;
    return out;
}

FUZZ_MODEL void World::WriteId(const IdWriteJob& job) {
    FUZZ_CHECK(job.task < count);
    TaskModel& task = tasks[job.task];
    FUZZ_CHECK(task.id && options.awaitReturn && task.finished == 0 && !task.writing);
    FUZZ_CHECK(job.id == *task.id && job.ip == task.target.ip && job.port == task.target.port);
    FUZZ_CHECK(job.connectLimitMs >= kLeastConnectLimitMs &&
               job.connectLimitMs <= kDeviceIdConnectLimitMs);
    if (task.phase == Phase::Queued) {
        FUZZ_CHECK(!task.setupNeeded && inside == Inside::Advance);
        Begin(task);
    } else if (task.phase == Phase::IdRetryWait) {
        FUZZ_CHECK(inside == Inside::Advance && now == task.retryAt);
    } else {
        FUZZ_CHECK(task.phase == Phase::Back);
    }
    FUZZ_CHECK(now <= task.Deadline(options.settleTimeoutMs));
    task.phase = Phase::WritingId;
    task.writing = true;
    task.writeEndsAt = After(now, job.connectLimitMs + kDeviceIdReplyLimitMs);
}

FUZZ_MODEL void World::OnStep(size_t i, CommissionStep step, const CommissionResult& result) {
    FUZZ_CHECK(i < count);
    TaskModel& task = tasks[i];
    FUZZ_CHECK(task.finished == 0);
    FUZZ_CHECK(result.setupDatagrams == task.sent);
    // A refused target fails before anything is sent, at its start.
    const bool refused = task.setupNeeded && Refused(task.target) && inside == Inside::Advance;
    FUZZ_CHECK(result.sendFailed == (task.attempts > task.sent || refused));
    switch (step) {
        case CommissionStep::SetupSent:
            FUZZ_CHECK(task.phase == Phase::SettingUp && task.lastSetupAt == now);
            break;
        case CommissionStep::Confirmed:
            FUZZ_CHECK(About(Inside::Confirmation, i) && task.phase == Phase::SettingUp);
            task.inBurst = false;
            task.confirmed = true;
            task.confirmedAt = now;
            task.phase = options.awaitReturn ? Phase::Returning : Phase::Back;
            break;
        case CommissionStep::Back:
            FUZZ_CHECK(About(Inside::Answer, i) && shows && task.Awaited());
            task.inBurst = false;
            task.back = true;
            task.phase = Phase::Back;
            break;
        case CommissionStep::IdFailed:
            FUZZ_CHECK(About(Inside::IdWritten, i) && result.idResult < 0);
            FUZZ_CHECK(After(now, kIdRetryAfterMs) < task.Deadline(options.settleTimeoutMs));
            task.phase = Phase::IdRetryWait;
            task.retryAt = After(now, kIdRetryAfterMs);
            break;
        case CommissionStep::Finished:
            Begin(task);
            FUZZ_CHECK(result.elapsedMs == MillisecondsBetween(task.startAt, now));
            CheckOutcome(i, result.outcome);
            task.inBurst = false;
            task.phase = Phase::Done;
            task.finished = 1;
            task.outcome = result.outcome;
            break;
        default:
            FUZZ_CHECK(false);
    }
}

// Each outcome for the reason its comment gives, and at the moment it may
// come: at the start, at the deadline, or on what came in.
FUZZ_MODEL void World::CheckOutcome(size_t i, CommissionOutcome outcome) {
    const TaskModel& task = tasks[i];
    const bool writesId = task.id && options.awaitReturn;
    const bool deadline =
        inside == Inside::Advance && now >= task.Deadline(options.settleTimeoutMs);
    switch (outcome) {
        case CommissionOutcome::Verified:
            FUZZ_CHECK(task.setupNeeded ? task.back : writesId || inside == Inside::Advance);
            FUZZ_CHECK(!writesId || (About(Inside::IdWritten, i) && task.idProven));
            break;
        case CommissionOutcome::Confirmed:
            FUZZ_CHECK(!options.awaitReturn && task.confirmed && About(Inside::Confirmation, i));
            break;
        case CommissionOutcome::NotConfirmed:
            FUZZ_CHECK(task.setupNeeded && !task.confirmed && !task.back);
            FUZZ_CHECK(deadline || (inside == Inside::Advance && Refused(task.target)));
            break;
        case CommissionOutcome::NotBack:
        case CommissionOutcome::OtherValues:
            FUZZ_CHECK(deadline && options.awaitReturn && task.confirmed && !task.back);
            FUZZ_CHECK(task.seenOther == (outcome == CommissionOutcome::OtherValues));
            break;
        case CommissionOutcome::IdNotWritten:
            FUZZ_CHECK(writesId && (!task.setupNeeded || task.back));
            FUZZ_CHECK(About(Inside::IdWritten, i) ||
                       (deadline && task.phase == Phase::IdRetryWait));
            break;
        case CommissionOutcome::Interrupted:
            FUZZ_CHECK(inside == Inside::Stop);
            break;
        default:
            FUZZ_CHECK(false);  // not an outcome the engine documents
    }
    // Late only while a write that began in time was under way.
    FUZZ_CHECK(now <= task.Deadline(options.settleTimeoutMs) || About(Inside::IdWritten, i) ||
               task.writing);
}

FUZZ_MODEL void World::OnWaiting(size_t devices, int waitedMs) {
    FUZZ_CHECK(devices > 0 && devices == AwaitedCount());
    Instant earliest = now;
    for (size_t i = 0; i < count; ++i) {
        earliest = tasks[i].Awaited() ? std::min(earliest, tasks[i].startAt) : earliest;
    }
    FUZZ_CHECK(waitedMs == MillisecondsBetween(earliest, now));
}

// After every turn of the engine: no task past its deadline without its
// outcome (unless a write is under way), and the heap within its bound.
FUZZ_MODEL void CheckTurn() {
    for (size_t i = 0; i < world.count; ++i) {
        const TaskModel& task = world.tasks[i];
        FUZZ_CHECK(task.phase == Phase::Queued || task.phase == Phase::Done || task.writing ||
                   world.now <= task.Deadline(world.options.settleTimeoutMs));
    }
    FUZZ_CHECK(peakBytes <= kRunBytes + static_cast<long>(world.count) * kTaskBytes);
}

FUZZ_MODEL void Turn() {
    world.inside = Inside::Advance;
    engine->Advance(world.now);
    world.inside = Inside::Nothing;
    CheckTurn();
}

FUZZ_MODEL void Deliver(size_t i, int result, std::optional<uint8_t> readBack) {
    TaskModel& task = world.tasks[i];
    task.writing = false;
    task.idProven = result >= 0 && readBack == task.id;
    IdWriteDone done;
    done.task = i;
    done.result = result;
    done.readBack = readBack;
    world.inside = Inside::IdWritten;
    world.about = i;
    world.aboutTask = true;
    engine->IdWritten(world.now, done);
    world.inside = Inside::Nothing;
    // A result always ends the write: the outcome, or a retry.
    FUZZ_CHECK(task.phase == Phase::Done || task.phase == Phase::IdRetryWait);
}

// The first write under way from task `from` on.
FUZZ_MODEL size_t WriteFrom(size_t from) {
    for (size_t k = 0; k < world.count; ++k) {
        const size_t i = (from + k) % world.count;
        if (world.tasks[i].writing) {
            return i;
        }
    }
    return kMostTasks;
}

// The driver's wait until `until`: every wake of the engine's and every write
// that reaches its limits before then, in turn.
FUZZ_MODEL void RunUntil(Instant until, bool tillDone) {
    int still = 0;
    for (;;) {
        if (tillDone && engine->AllDone()) {
            return;
        }
        Instant writeEnd = kNever;
        size_t writer = kMostTasks;
        for (size_t i = 0; i < world.count; ++i) {
            if (world.tasks[i].writing && world.tasks[i].writeEndsAt < writeEnd) {
                writeEnd = world.tasks[i].writeEndsAt;
                writer = i;
            }
        }
        const Instant next = std::min(engine->NextWake(), writeEnd);
        if (next >= until) {
            return;
        }
        still = next <= world.now ? still + 1 : 0;
        FUZZ_CHECK(still < kMostTurnsAtOnce);
        world.now = std::max(world.now, next);
        if (writeEnd <= world.now) {
            Deliver(writer, kTcpConnectTimeout, std::nullopt);
        }
        Turn();
    }
}

FUZZ_MODEL void HearAnswer(FuzzInput& input) {
    const uint8_t selector = input.Byte();
    const unsigned interfaceIndex = input.Byte();
    uint8_t record[kLargestRecordLength] = {};
    size_t length = kRecordFieldsLength;
    const TaskModel* task =
        world.count == 0 ? nullptr : &world.tasks[(selector & kTaskBits) % world.count];
    if (selector & kRaw) {
        length = std::min<size_t>(input.Byte(), kLargestRecordLength);
        for (size_t i = 0; i < length; ++i) {
            record[i] = input.Byte();
        }
        if (task != nullptr && (selector & kTaskMac)) {
            std::memcpy(record, task->target.mac, std::min(length, kMacLength));
        }
    } else {
        const uint8_t change = input.Byte();
        const SetupValues& values = task != nullptr ? task->target : SetupValues{};
        std::memcpy(record, task != nullptr ? values.mac : kStrangerMac, kMacLength);
        record[kRecordVersionMajorOffset] = 1;
        record[kRecordVersionMinorOffset] = 6;
        Put32(record + kRecordIpOffset, values.ip);
        Put32(record + kRecordMaskOffset, values.mask);
        Put32(record + kRecordGatewayOffset, values.gateway);
        record[kRecordPortOffset] = static_cast<uint8_t>(values.port >> 8);
        record[kRecordPortOffset + 1] = static_cast<uint8_t>(values.port);
        record[kRecordBaudCodeOffset] = values.baudCode;
        const uint8_t by = static_cast<uint8_t>(change >> 3 | 1);
        constexpr size_t kChangedAt[] = {0,
                                         kRecordIpOffset + 3,
                                         kRecordMaskOffset + 3,
                                         kRecordGatewayOffset + 3,
                                         kRecordPortOffset + 1,
                                         kRecordBaudCodeOffset,
                                         kRecordVersionMinorOffset};
        const uint8_t field = change & 7;
        if (field == Cut) {
            length = (change >> 3) % kRecordFieldsLength;
        } else if (field != None) {
            record[kChangedAt[field]] ^= by;
        }
    }
    const size_t found = length >= kMacLength ? world.TaskOf(record) : kMostTasks;
    world.aboutTask = found < world.count;
    world.shows = false;
    if (world.aboutTask) {
        world.about = found;
        TaskModel& model = world.tasks[found];
        world.shows = Shows(record, length, model.target);
        if (!world.shows && model.phase == Phase::Returning && world.requested &&
            world.lastRequestAt > model.confirmedAt) {
            model.seenOther = true;
        }
        if (!world.shows && model.phase == Phase::Done &&
            model.outcome == CommissionOutcome::Verified) {
            model.otherAfterVerified = true;
        }
    }
    const bool proof = world.aboutTask && world.shows && world.tasks[found].Awaited();
    world.inside = Inside::Answer;
    engine->Answer(world.now, record, length, interfaceIndex);
    world.inside = Inside::Nothing;
    // Seen with every value while awaited: the engine takes it as the proof.
    FUZZ_CHECK(!proof || world.tasks[found].back);
}

FUZZ_MODEL void HearConfirmation(FuzzInput& input) {
    const uint8_t selector = input.Byte();
    uint8_t mac[kMacLength];
    if ((selector & kRaw) || world.count == 0) {
        for (uint8_t& byte : mac) {
            byte = input.Byte();
        }
    } else {
        std::memcpy(mac, world.tasks[(selector & kTaskBits) % world.count].target.mac, kMacLength);
    }
    const size_t found = world.TaskOf(mac);
    world.aboutTask = found < world.count;
    bool settingUp = false;
    if (world.aboutTask) {
        world.about = found;
        world.tasks[found].confirmationHeard = true;
        settingUp = world.tasks[found].phase == Phase::SettingUp;
    }
    world.inside = Inside::Confirmation;
    engine->Confirmation(world.now, mac);
    world.inside = Inside::Nothing;
    FUZZ_CHECK(!settingUp || world.tasks[found].confirmed);
}

FUZZ_MODEL void HearIdResult(FuzzInput& input) {
    const size_t from = input.Byte();
    const int result = static_cast<int8_t>(input.Byte());
    const uint8_t mode = input.Byte() % 3;
    const uint8_t given = input.Byte();
    const size_t i = world.count == 0 ? kMostTasks : WriteFrom(from % world.count);
    if (i == kMostTasks) {
        return;
    }
    std::optional<uint8_t> readBack;
    if (mode == AskedId) {
        readBack = world.tasks[i].id;
    } else if (mode == GivenId) {
        readBack = given;
    }
    Deliver(i, result, readBack);
}

FUZZ_MODEL void AddTask(FuzzInput& input) {
    const uint8_t flags = input.Byte();
    SetupValues target;
    for (uint8_t& byte : target.mac) {
        byte = input.Byte();
    }
    uint8_t fields[15];
    for (uint8_t& byte : fields) {
        byte = input.Byte();
    }
    target.ip = Read32(fields);
    target.mask = Read32(fields + 4);
    target.gateway = Read32(fields + 8);
    target.port = static_cast<uint16_t>(fields[12] << 8 | fields[13]);
    target.baudCode = fields[14];
    const uint8_t id = input.Byte();
    TaskModel model;
    model.interfaceCount = (flags >> kInterfaceCountShift) % (kMostInterfaces + 1);
    for (size_t k = 0; k < model.interfaceCount; ++k) {
        model.interfaces[k] = input.Byte();
    }
    if (flags & kDirect) {
        uint8_t address[4];
        for (uint8_t& byte : address) {
            byte = input.Byte();
        }
        model.directTo = Read32(address);
    }
    // MACs are unique among the tasks; the count is bounded.
    if (world.count == kMostTasks || world.TaskOf(target.mac) < world.count) {
        return;
    }
    model.target = target;
    model.setupNeeded = flags & kSetupNeeded;
    if (flags & kHasId) {
        model.id = id;
    }
    adding.target = target;
    adding.setupNeeded = model.setupNeeded;
    adding.id = model.id;
    adding.interfaces.assign(model.interfaces, model.interfaces + model.interfaceCount);
    adding.directTo = model.directTo;
    world.tasks[world.count++] = model;
    FUZZ_CHECK(engine->Add(adding) == world.count - 1);
}

// The run's end: every task with its outcome, told once, as the engine keeps it.
FUZZ_MODEL void CheckEnd() {
    FUZZ_CHECK(engine->AllDone() && engine->Tasks() == world.count);
    for (size_t i = 0; i < world.count; ++i) {
        const TaskModel& task = world.tasks[i];
        const CommissionResult& result = engine->Result(i);
        FUZZ_CHECK(task.finished == 1);
        // Verified, then seen with other values: the row says so.
        FUZZ_CHECK(result.outcome == task.outcome ||
                   (task.otherAfterVerified && result.outcome == CommissionOutcome::OtherValues));
        FUZZ_CHECK(result.setupDatagrams == task.sent);
        FUZZ_CHECK(result.confirmed == task.confirmationHeard);
        FUZZ_CHECK(result.lastRecord.size() <= kLargestRecordLength);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    adding.interfaces.reserve(kMostInterfaces);
    __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
    return 0;
}

extern "C" FUZZ_MODEL int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    world = World{};
    CommissionOptions& options = world.options;
    options.setupsAtOnce = input.Byte();
    options.settleTimeoutMs = input.BigEndian16() % (kLongestSettleMs + 1);
    const uint8_t flags = input.Byte();
    options.awaitReturn = flags & kAwaitReturn;
    options.watch = flags & kWatch;
    options.watchTimeoutMs = input.Byte() * kOptionUnitMs;
    world.busyUntil = After(kStart, input.Byte() * kOptionUnitMs);
    world.failing = input.Byte();
    world.held = !(flags & kPortClosed);

    counting = true;
    liveBytes = peakBytes = 0;
    engine.emplace(options, world, &world, kStart, world.held);
    // Events of one moment come in together, as the driver takes what one
    // wait brought: the engine's turn follows the last of them.
    bool heard = false;
    while (input.Left() > 0 && !world.stopped) {
        const int delay = DelayMs(input.Byte());
        if (heard && delay > 0) {
            Turn();
            heard = false;
        }
        const Instant at = After(world.now, delay);
        if (at > After(kStart, kLongestRunMs)) {
            break;
        }
        RunUntil(at, false);
        world.now = at;
        switch (kKinds[input.Byte() & 15]) {
            case Answer:
                HearAnswer(input);
                break;
            case Confirmation:
                HearConfirmation(input);
                break;
            case IdWritten:
                HearIdResult(input);
                break;
            case Add:
                AddTask(input);
                break;
            case Wait:
                break;
            case Stop:
                world.inside = Inside::Stop;
                engine->Stop(world.now);
                world.inside = Inside::Nothing;
                world.stopped = true;
                break;
            case EndWatch:
                engine->EndWatch();
                world.watchEnded = true;
                break;
            case SegmentChanged:
                engine->SegmentChanged();
                break;
            case Segment:
                world.busyUntil = After(world.now, input.Byte() * kOptionUnitMs);
                world.failing = input.Byte();
                break;
        }
        heard = true;
    }
    if (!world.stopped) {
        if (heard) {
            Turn();
        }
        // Every task starts within its turn of the first seconds (2 s each at
        // the most) once the port is free, and ends by its deadline or its
        // write's limits.
        const Instant free = std::max(world.now, world.busyUntil);
        const int64_t longest = static_cast<int64_t>(world.count + 1) * kWatchPortRetryMs +
                                static_cast<int64_t>(world.count) * kSetupResendAfterMs[2] +
                                options.settleTimeoutMs + kDeviceIdConnectLimitMs +
                                kDeviceIdReplyLimitMs;
        RunUntil(After(free, longest), true);
        FUZZ_CHECK(engine->AllDone());
        RunUntil(After(world.now, kAfterDoneMs), false);
        engine->End(world.now);
    }
    CheckEnd();
    engine.reset();
    counting = false;
    return 0;
}
