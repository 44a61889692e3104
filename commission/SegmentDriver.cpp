#include "commission/SegmentDriver.h"

#include <algorithm>

#include "commission/Commissioner.h"
#include "platform/WakeUp.h"

bool SegmentDriver::Run(SegmentClient& client, const std::function<bool(Instant)>& done,
                        const std::function<bool()>& stop) {
    for (;;) {
        const Instant now = RunClock::now();
        if (stop && stop()) {
            client.Stop(now);
            writers_.Abandon();
            return false;
        }
        client.Advance(now);
        if (done(now)) {
            client.End(RunClock::now());
            return true;
        }
        // Nothing a wait can fail on is worth ending the run for: the
        // client's clock still bounds everything it waits for.
        WaitReadableOrWoken(port_.Descriptor(), &writers_.Wake(),
                            WaitMilliseconds(now, client.NextWake()));
        const Instant after = RunClock::now();
        TakeDatagrams(after, client);
        for (const IdWriteDone& written : writers_.Collect()) {
            client.IdWritten(after, written);
        }
    }
}

void SegmentDriver::TakeDatagrams(Instant now, SegmentClient& client) {
    if (!port_.IsOpen()) {
        return;
    }
    SegmentDatagram datagram;
    for (size_t taken = 0; taken < kMostDatagramsAtOnce && port_.Receive(&datagram); ++taken) {
        if (IsDiscoveryReply(datagram.bytes, datagram.length)) {
            if (searchInterface_ == 0 || datagram.interfaceIndex == searchInterface_) {
                client.Answer(now, datagram.bytes + kReplyRecordOffset,
                              static_cast<size_t>(datagram.length) - kReplyRecordOffset,
                              datagram.interfaceIndex);
            }
            continue;
        }
        uint8_t mac[kSetupMacLength] = {};
        std::copy_n(datagram.bytes + kSetupReplyMacOffset, kSetupMacLength, mac);
        if (ClassifySetupReply(datagram.bytes, static_cast<long>(datagram.length), mac) ==
            SetupReplyVerdict::Confirms) {
            client.Confirmation(now, mac);
        }
    }
}

std::vector<CommissionResult> CommissionOnPort(SegmentPort& port, unsigned searchInterface,
                                               const std::vector<CommissionTask>& tasks,
                                               const CommissionOptions& options,
                                               CommissionObserver* observer,
                                               const std::function<bool()>& stop) {
    SegmentDriver driver(port, searchInterface);
    Commissioner run(options, driver, observer, RunClock::now());
    for (const CommissionTask& task : tasks) {
        run.Add(task);
    }
    driver.Run(
        run, [&run](Instant) { return run.AllDone(); }, stop);
    std::vector<CommissionResult> results;
    for (size_t i = 0; i < run.Tasks(); ++i) {
        results.push_back(run.Result(i));
    }
    return results;
}
