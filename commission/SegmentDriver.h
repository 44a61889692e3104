#pragma once

#include <functional>
#include <vector>

#include "commission/Commission.h"
#include "commission/IdWriters.h"
#include "commission/Segment.h"
#include "commission/SegmentPort.h"

// The one driver of the decisions on a real segment: it gives a SegmentClient
// the port's socket and ID writers on threads as its SegmentActions, waits
// until a datagram, a finished write or the client's next wake, and tells the
// client the channel's tick and what came in. It decides nothing.
class SegmentDriver : public SegmentActions {
public:
    // Searches go out of `searchInterface` only (0: as the window's), and only
    // the answers that come in on it count.
    SegmentDriver(SegmentPort& port, unsigned searchInterface)
        : port_(port), searchInterface_(searchInterface) {}

    bool OpenPort() override { return port_.Open() == 0; }
    void ClosePort() override { port_.Close(); }
    bool SendSearch() override { return port_.SendSearch(searchInterface_); }
    bool SendSetup(const uint8_t (&datagram)[kSetupDatagramLength], unsigned interfaceIndex,
                   uint32_t directTo) override {
        return port_.SendSetup(datagram, interfaceIndex, directTo);
    }
    void WriteId(const IdWriteJob& job) override { writers_.Submit(job); }

    // Runs `client` until `done` holds (asked after each of its turns), or
    // until `stop` does (asked before each): then the client is stopped and
    // writes under way are left to end on their own. False when stopped.
    bool Run(SegmentClient& client, const std::function<bool(Instant now)>& done,
             const std::function<bool()>& stop);

private:
    void TakeDatagrams(Instant now, SegmentClient& client);

    SegmentPort& port_;
    unsigned searchInterface_;
    IdWriters writers_{kIdWritesAtOnce};
};

// Commissions `tasks` on `port` (open), searching out of `searchInterface`,
// until each has its outcome or `stop` holds. The results, one per task, in
// order.
std::vector<CommissionResult> CommissionOnPort(SegmentPort& port, unsigned searchInterface,
                                               const std::vector<CommissionTask>& tasks,
                                               const CommissionOptions& options,
                                               CommissionObserver* observer,
                                               const std::function<bool()>& stop);
