#pragma once

#include <cstddef>
#include <vector>

#include "commission/Clock.h"
#include "commission/PortLease.h"
#include "commission/SearchSchedule.h"
#include "commission/Segment.h"
#include "commission/SegmentWatch.h"

// Following the segment without changing anything: searches on a watch's
// schedule (SearchSchedule.h), the port held only while a search listens,
// and the segment as they see it (SegmentWatch). It runs until its time-out
// (or for as long as its caller lets it).

// What a watch tells, for people and programs.
class WatchListener {
public:
    virtual ~WatchListener() = default;
    // A search has ended, with what changed since the one before (often
    // nothing).
    virtual void OnSearchEnded(const std::vector<SegmentChange>& changes) = 0;
    // A search found the port taken; it is tried again kWatchPortRetryMs later.
    virtual void OnPortBusy() {}
};

class Watch : public SegmentClient, private SearchHost {
public:
    // `timeoutMs`: the watch ends this long after `start` (0: never).
    Watch(SegmentActions& segment, WatchListener& listener, Instant start, int timeoutMs);

    void Advance(Instant now) override;
    Instant NextWake() const override;
    void Answer(Instant now, const uint8_t* record, size_t length,
                unsigned interfaceIndex) override;
    void End(Instant now) override { searches_.End(now); }

    bool Over(Instant now) const { return now >= endsAt_; }
    const SegmentWatch& Segment() const { return view_; }
    size_t Searches() const { return searchesEnded_; }

private:
    void SendRequest() override { segment_.SendSearch(); }
    bool TakePort(Instant now, Instant* retryAt) override;
    bool SearchEnded(Instant now) override;

    SegmentActions& segment_;
    WatchListener& listener_;
    SearchSchedule searches_{*this};
    PortLease port_{false};
    SegmentWatch view_;
    Instant now_;
    Instant endsAt_ = kNever;
    size_t searchesEnded_ = 0;
};
