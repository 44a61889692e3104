// Writes the seeds of the commission_engine target (corpus/commission_engine)
// from runs of the engine on the in-memory segment, of the kinds that
// commissioner_test.cpp plays: each event the engine hears, at its time, in
// the target's input (CommissionEngineInput.h).
//
//   commission_engine_seeds DIR
#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "commission/Commissioner.h"
#include "tests/fuzz/CommissionEngineInput.h"
#include "tests/support/MemorySegment.h"

namespace {

using namespace engine_input;

constexpr int kSettleMs = 5000;
constexpr int64_t kLimitMs = 60000;
constexpr uint32_t kNewNet = 0x0A010000;  // where each device moves, as in the unit tests

void Put(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

// The engine, and every event it hears written down as it hears it.
class Recorder : public SegmentClient {
public:
    Recorder(const CommissionOptions& options, MemorySegment& segment, bool portHeld, bool station)
        : engine_(options, segment, nullptr, segment.Now(), portHeld),
          segment_(segment),
          station_(station) {
        out_.push_back(static_cast<uint8_t>(std::min<size_t>(options.setupsAtOnce, 255)));
        Put(out_, static_cast<uint32_t>(options.settleTimeoutMs), 2);
        out_.push_back((options.awaitReturn ? kAwaitReturn : 0) | (options.watch ? kWatch : 0) |
                       (portHeld ? 0 : kPortClosed));
        out_.push_back(static_cast<uint8_t>(options.watchTimeoutMs / kOptionUnitMs));
        out_.push_back(0);  // the port free
        out_.push_back(0);  // every interface sends
    }

    void Add(Instant now, const CommissionTask& task) {
        Event(now, engine_input::Add);
        const size_t interfaces = std::min(task.interfaces.size(), kMostInterfaces);
        out_.push_back((task.setupNeeded ? kSetupNeeded : 0) | (task.id ? kHasId : 0) |
                       (task.directTo != 0 ? kDirect : 0) |
                       static_cast<uint8_t>(interfaces << kInterfaceCountShift));
        out_.insert(out_.end(), task.target.mac, task.target.mac + kMacLength);
        Put(out_, task.target.ip, 4);
        Put(out_, task.target.mask, 4);
        Put(out_, task.target.gateway, 4);
        Put(out_, task.target.port, 2);
        out_.push_back(task.target.baudCode);
        out_.push_back(task.id.value_or(0));
        for (size_t i = 0; i < interfaces; ++i) {
            out_.push_back(static_cast<uint8_t>(task.interfaces[i]));
        }
        if (task.directTo != 0) {
            Put(out_, task.directTo, 4);
        }
        engine_.Add(task);
    }

    void Advance(Instant now) override { engine_.Advance(now); }
    Instant NextWake() const override { return engine_.NextWake(); }
    void Answer(Instant now, const uint8_t* record, size_t length, unsigned interface) override {
        if (station_ && engine_.Tasks() == 0) {
            // A station takes the first device it hears, and no more.
            Event(now, SegmentChanged);
            engine_.SegmentChanged();
            Add(now, TaskFor(segment_.Device(0), std::nullopt));
            Event(now, EndWatch);
            engine_.EndWatch();
        }
        Event(now, engine_input::Answer);
        out_.insert(out_.end(),
                    {kRaw, static_cast<uint8_t>(interface), static_cast<uint8_t>(length)});
        out_.insert(out_.end(), record, record + length);
        engine_.Answer(now, record, length, interface);
    }
    void Confirmation(Instant now, const uint8_t* mac) override {
        Event(now, engine_input::Confirmation);
        out_.push_back(kRaw);
        out_.insert(out_.end(), mac, mac + kMacLength);
        engine_.Confirmation(now, mac);
    }
    void IdWritten(Instant now, const IdWriteDone& done) override {
        Event(now, engine_input::IdWritten);
        out_.insert(out_.end(), {static_cast<uint8_t>(done.task), static_cast<uint8_t>(done.result),
                                 done.readBack ? GivenId : NoReadBack, done.readBack.value_or(0)});
        engine_.IdWritten(now, done);
    }
    void Stop(Instant now) override {
        Event(now, engine_input::Stop);
        engine_.Stop(now);
    }
    void End(Instant now) override { engine_.End(now); }

    bool Over(Instant now) const {
        return engine_.AllDone() && (!station_ || engine_.WatchOver(now));
    }
    const std::vector<uint8_t>& Bytes() const { return out_; }

    // The task that moves `device` to 10.1.x.y on its port + 1.
    static CommissionTask TaskFor(const MemoryDevice& device, std::optional<uint8_t> id) {
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

private:
    // A delay, in as many waits as its size needs, then the kind.
    void Event(Instant now, Kind kind) {
        int64_t delay = MillisecondsBetween(last_, now);
        last_ = now;
        for (;;) {
            uint8_t code = static_cast<uint8_t>(std::min<int64_t>(delay, kLargestExactDelay));
            if (delay >= kCoarseDelayMs) {
                code = static_cast<uint8_t>(
                    kLargestExactDelay +
                    std::min<int64_t>(delay / kCoarseDelayMs, 255 - kLargestExactDelay));
            }
            delay -= DelayMs(code);
            out_.push_back(code);
            if (delay == 0) {
                break;
            }
            out_.push_back(KindByte(Wait));
        }
        out_.push_back(KindByte(kind));
    }
    static uint8_t KindByte(Kind kind) {
        return static_cast<uint8_t>(std::find(std::begin(kKinds), std::end(kKinds), kind) -
                                    std::begin(kKinds));
    }

    Commissioner engine_;
    MemorySegment& segment_;
    bool station_;
    std::vector<uint8_t> out_;
    Instant last_{};
};

MemoryDevice Device(uint8_t last) {
    MemoryDevice device;
    device.mac = {0x00, 0x1A, 0x2B, 0x00, 0x00, last};
    device.ip = 0x0A000000 | last;
    device.gateway = 0x0A000001;
    return device;
}

struct Scenario {
    const char* name;
    std::function<void(MemorySegment&)> devices;
    std::optional<uint8_t> id;
    std::function<void(CommissionOptions&)> options = [](CommissionOptions&) {};
    std::function<void(std::vector<CommissionTask>&, MemorySegment&)> tasks =
        [](std::vector<CommissionTask>&, MemorySegment&) {};
    double lossPercent = 0;
    int64_t stopAtMs = -1;
    bool station = false;
};

std::function<void(MemorySegment&)> One(std::function<void(MemoryDevice&)> fault) {
    return [fault](MemorySegment& segment) {
        MemoryDevice device = Device(1);
        fault(device);
        segment.Add(device);
    };
}

const Scenario kScenarios[] = {
    {"restarts-and-takes-its-id", One([](MemoryDevice& d) { d.restartMs = 1500; }), 7},
    {"loses-its-confirmation", One([](MemoryDevice& d) { d.losesConfirmations = true; }), {}},
    {"not-waited-for", One([](MemoryDevice& d) { d.restartMs = 1500; }), 7,
     [](CommissionOptions& o) { o.awaitReturn = false; }},
    {"ignores-every-setup",
     One([](MemoryDevice& d) { d.ignoresSetups = true; }),
     {},
     [](CommissionOptions& o) { o.settleTimeoutMs = 10000; }},
    {"never-comes-back", One([](MemoryDevice& d) { d.restartMs = MemoryDevice::kNeverBack; }), {}},
    {"keeps-its-port",
     One([](MemoryDevice& d) {
         d.keepsPort = true;
         d.restartMs = 500;
     }),
     {}},
    {"refuses-its-id", One([](MemoryDevice& d) { d.refusesId = true; }), 7},
    {"answers-another-id", One([](MemoryDevice& d) { d.answersId = 9; }), 7},
    {"vanishes-before-its-setup", One([](MemoryDevice& d) { d.vanishesAtMs = 0; }), {}},
    {"stopped-while-restarting",
     [](MemorySegment& s) { s.AddMany(3, 10000); },
     {},
     [](CommissionOptions&) {},
     [](std::vector<CommissionTask>&, MemorySegment&) {},
     0,
     2000},
    {"four-setups-at-once",
     [](MemorySegment& s) {
         s.AddMany(10, 0);
         for (size_t i = 0; i < s.Devices(); ++i) {
             s.Device(i).ignoresSetups = true;
             s.Device(i).vanishesAtMs = 0;
         }
     },
     {},
     [](CommissionOptions& o) { o.setupsAtOnce = 4; }},
    {"lossy-restarts-with-ids", [](MemorySegment& s) { s.AddMany(4, 2000); }, 5,
     [](CommissionOptions&) {}, [](std::vector<CommissionTask>&, MemorySegment&) {}, 10},
    {"id-alone", [](MemorySegment& s) { s.AddMany(2, 0); }, 5, [](CommissionOptions&) {},
     [](std::vector<CommissionTask>& tasks, MemorySegment& s) {
         for (size_t i = 0; i < tasks.size(); ++i) {
             tasks[i].setupNeeded = false;
             tasks[i].target.ip = s.Device(i).ip;
             tasks[i].target.port = s.Device(i).port;
         }
     }},
    {"second-interface",
     One([](MemoryDevice& d) {
         d.interfaceIndex = 2;
         d.restartMs = 800;
     }),
     {},
     [](CommissionOptions&) {},
     [](std::vector<CommissionTask>& tasks, MemorySegment&) {
         tasks[0].interfaces = {1, 2};
     }},
    {"straight-to-its-address", One([](MemoryDevice& d) { d.restartMs = 800; }), 3,
     [](CommissionOptions&) {},
     [](std::vector<CommissionTask>& tasks, MemorySegment& s) {
         tasks[0].directTo = s.Device(0).ip;
     }},
    {"station-takes-a-device-that-comes",
     One([](MemoryDevice& d) {
         d.appearsAtMs = 5000;
         d.restartMs = 3000;
     }),
     {},
     [](CommissionOptions& o) {
         o.watch = true;
         o.watchTimeoutMs = 20000;
     },
     [](std::vector<CommissionTask>& tasks, MemorySegment&) { tasks.clear(); },
     0,
     -1,
     true},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: commission_engine_seeds DIR\n");
        return 2;
    }
    for (const Scenario& scenario : kScenarios) {
        MemorySegment segment(scenario.lossPercent, 7, !scenario.station);
        scenario.devices(segment);
        CommissionOptions options;
        options.settleTimeoutMs = kSettleMs;
        scenario.options(options);
        std::vector<CommissionTask> tasks;
        for (size_t i = 0; i < segment.Devices(); ++i) {
            tasks.push_back(Recorder::TaskFor(segment.Device(i), scenario.id));
        }
        scenario.tasks(tasks, segment);
        Recorder recorder(options, segment, !scenario.station, scenario.station);
        for (const CommissionTask& task : tasks) {
            recorder.Add(segment.Now(), task);
        }
        RunInMemory(
            recorder, segment, [&](Instant now) { return recorder.Over(now); },
            After(Instant{}, kLimitMs),
            scenario.stopAtMs < 0 ? kNever : After(Instant{}, scenario.stopAtMs));
        const std::string path = std::string(argv[1]) + "/" + scenario.name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr ||
            std::fwrite(recorder.Bytes().data(), 1, recorder.Bytes().size(), file) !=
                recorder.Bytes().size() ||
            std::fclose(file) != 0) {
            std::fprintf(stderr, "commission_engine_seeds: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s: %zu bytes\n", scenario.name, recorder.Bytes().size());
    }
    return 0;
}
