// Watches of a segment where devices are plugged in and unplugged, driven as
// `velquint watch` drives them. Each search's changes are set against what
// the devices did before it: a device there for a whole search must have
// appeared by its end, one gone for kMissesForGone whole searches must be
// gone; nothing appears before it is plugged in, nothing is gone that stays,
// nothing changes; and the watch ends at its time-out.
#include <map>
#include <string>
#include <vector>

#include "cli/Values.h"
#include "commission/SegmentDriver.h"
#include "commission/SegmentPort.h"
#include "commission/Watch.h"
#include "tests/soak/Soak.h"
#include "tests/support/LabSupport.h"

namespace {

constexpr unsigned kMostWatchDevices = 4;
constexpr int kWatchTimeoutMs = 8000;
// How far the simulator's clock may run behind ours, and how long an answer
// may take to come.
constexpr long kMarginMs = 200;

struct SearchSeen {
    long endedMs;
    std::vector<SegmentChange> changes;
};

class Recorder : public WatchListener {
public:
    void OnSearchEnded(const std::vector<SegmentChange>& changes) override {
        searches.push_back({SoakNowMs(), changes});
    }
    std::vector<SearchSeen> searches;
};

struct WatchDevice {
    SoakDevice device;
    long appearMs = 0;
    long vanishMs = 0;  // 0: stays
};

}  // namespace

SoakOutcome SoakWatch(SoakContext& context) {
    std::mt19937& random = context.random;
    SoakOutcome outcome{"watch", {}, true, {}};
    const unsigned count = 1 + random() % kMostWatchDevices;
    std::vector<WatchDevice> devices;
    std::vector<std::string> arguments;
    for (unsigned i = 0; i < count; ++i) {
        WatchDevice d{RandomSoakDevice(random, i)};
        std::string keys;
        switch (random() % 4) {
            case 0:
                outcome.faults.push_back("there throughout");
                break;
            case 1:
                d.appearMs = 500 + random() % 2001;
                outcome.faults.push_back("appears");
                break;
            case 2:
                d.vanishMs = 300 + random() % 1201;
                outcome.faults.push_back("vanishes");
                break;
            default:
                d.appearMs = 300 + random() % 1001;
                d.vanishMs = d.appearMs + 1500 + random() % 1001;
                outcome.faults.push_back("appears, then vanishes");
                break;
        }
        if (d.appearMs > 0) {
            keys = "appear=" + std::to_string(d.appearMs);
        }
        if (d.vanishMs > 0) {
            keys += std::string(keys.empty() ? "" : ",") + "vanish=" + std::to_string(d.vanishMs);
        }
        d.device.faults = keys;
        arguments.push_back("--device");
        arguments.push_back(d.device.Settings());
        devices.push_back(d);
    }

    const long startingMs = SoakNowMs();
    SimProcess sim(arguments);
    const long readyMs = SoakNowMs();
    if (!Serving(sim, &outcome)) {
        return outcome;
    }
    Recorder recorder;
    long watchStartMs = 0;
    {
        SoakTimer timer(&outcome, kWatchTimeoutMs + kSoakSlackMs);
        SegmentPort port;
        SegmentDriver driver(port, 0);
        watchStartMs = SoakNowMs();
        Watch watch(driver, recorder, RunClock::now(), kWatchTimeoutMs);
        driver.Run(
            watch, [&watch](Instant now) { return watch.Over(now); }, [] { return false; });
    }

    std::map<Mac, const WatchDevice*> byMac;
    for (const WatchDevice& d : devices) {
        byMac[d.device.mac] = &d;
    }
    std::map<Mac, size_t> appeared, gone;
    std::map<Mac, size_t> wholeMisses;  // searches that began after the device vanished
    long searchStartMs = watchStartMs;
    for (const SearchSeen& search : recorder.searches) {
        for (const SegmentChange& change : search.changes) {
            const auto found = byMac.find(change.device.mac);
            const std::string mac = MacText(change.device.mac);
            if (found == byMac.end()) {
                AddFinding(&outcome, "a change of " + mac + ", which is no device of the segment");
                continue;
            }
            const WatchDevice& d = *found->second;
            if (change.kind == SegmentChange::Changed) {
                AddFinding(&outcome, mac + " changed, which it never did");
            } else if (change.kind == SegmentChange::Appeared) {
                ++appeared[d.device.mac];
                if (search.endedMs < startingMs + d.appearMs) {
                    AddFinding(&outcome, mac + " appeared before it was plugged in");
                }
            } else {
                ++gone[d.device.mac];
                if (d.vanishMs == 0 || search.endedMs < startingMs + d.vanishMs) {
                    AddFinding(&outcome, mac + " gone while it was there");
                }
            }
        }
        for (const WatchDevice& d : devices) {
            const Mac& mac = d.device.mac;
            // Plugged in before the search began and still there at its end:
            // it answered.
            const bool throughout =
                searchStartMs > readyMs + d.appearMs + kMarginMs &&
                (d.vanishMs == 0 || search.endedMs + kMarginMs < startingMs + d.vanishMs);
            if (throughout && appeared[mac] == 0) {
                AddFinding(&outcome, MacText(mac) + " there for a whole search, and not appeared");
            }
            if (d.vanishMs > 0 && searchStartMs > readyMs + d.vanishMs + kMarginMs &&
                ++wholeMisses[mac] >= SegmentWatch::kMissesForGone && appeared[mac] > 0 &&
                gone[mac] == 0) {
                AddFinding(&outcome, MacText(mac) + " missed by " + std::to_string(wholeMisses[mac]) +
                                  " searches, and not gone");
            }
        }
        searchStartMs = search.endedMs;
    }
    for (const auto& [mac, times] : appeared) {
        if (times > 1 || gone[mac] > 1) {
            AddFinding(&outcome, MacText(mac) + " appeared or went more than once");
        }
    }
    JudgeSimulator(sim, &outcome);
    return outcome;
}
