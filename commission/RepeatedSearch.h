#pragma once

#include <functional>

#include "commission/DeviceSightings.h"
#include "commission/SearchSchedule.h"
#include "commission/Segment.h"
#include "commission/SegmentPort.h"

// A search made of several requests, for where completeness matters: one
// request can be lost on its way to a device, and so can any reply. Replies
// are merged by MAC (DeviceSightings), so a device that answers every request
// is one device.
//
// Requests go out `passIntervalMs` apart, `passes` of them; the search then
// ends once no reply has brought anything new (a device, a record, an
// interface) for `quietMs` since the last request or the last news, whichever
// came later. When nothing answers at all it ends `firstWaitMs` after the
// first request (or `quietMs` after the last, if that is later). However busy
// the port, it ends `timeLimitMs` after it began.
//
// Measured in the lab at 5 % loss each way (a reply is missed when the
// request or the reply is lost, 9.75 % of devices per request): one request
// misses about 25 of 255 devices, three requests 100 ms apart miss about one
// in four searches of 255 devices, about 0.25 devices a search.
constexpr int kDefaultSearchPasses = 3;
// The quiet that ends a search: the window's wait after each reply.
constexpr int kSearchQuietMs = 400;
constexpr int kSearchFirstWaitMs = 2000;

struct RepeatedSearchOptions {
    int passes = kDefaultSearchPasses;
    int passIntervalMs = kSearchPassIntervalMs;
    int firstWaitMs = kSearchFirstWaitMs;
    int quietMs = kSearchQuietMs;
    int timeLimitMs = 30000;
    // 0: requests go out as the window's; otherwise out of this interface
    // only, and only replies that come in on it count.
    unsigned interfaceIndex = 0;
    // When given, the search does not end while this says the sightings lack
    // something (devices a plan names): requests go on every
    // kSearchMorePassIntervalMs until it is satisfied or the time limit
    // passes.
    std::function<bool(const DeviceSightings&)> complete;
    // When given and true, the search ends at once with what it has (Ctrl-C).
    std::function<bool()> stop;
};

// The search's decisions, on any segment.
class RepeatedSearch : public SegmentClient {
public:
    RepeatedSearch(const RepeatedSearchOptions& options, SegmentActions& segment,
                   DeviceSightings* sightings, Instant start);

    void Advance(Instant now) override;
    Instant NextWake() const override;
    void Answer(Instant now, const uint8_t* record, size_t length,
                unsigned interfaceIndex) override;

    // The search has ended.
    bool Over() const { return over_; }
    // The first request went out nowhere (nothing else was sent then).
    bool SendFailed() const { return sendFailed_; }

private:
    bool Satisfied() const { return !options_.complete || options_.complete(*sightings_); }
    Instant EndsAt() const;

    RepeatedSearchOptions options_;
    SegmentActions& segment_;
    DeviceSightings* sightings_;
    Instant start_;
    Instant limit_;
    int passes_;
    int sent_ = 0;
    Instant lastPass_;
    Instant nextPass_;
    Instant lastNews_;
    bool over_ = false;
    bool sendFailed_ = false;
};

// Runs the search on `port` (open) and adds what it hears to `sightings`.
// Returns the number of sightings, or kDiscoverSendFailed when the first
// request went out nowhere.
int SearchRepeatedly(SegmentPort& port, const RepeatedSearchOptions& options,
                     DeviceSightings* sightings);
