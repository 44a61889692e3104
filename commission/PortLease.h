#pragma once

#include "commission/Clock.h"
#include "commission/Segment.h"

// UDP port 3195, held only while a run needs it. A command that sends
// throughout (apply, setup) holds it from start to end. A watch, and the
// commissioning station, give it back between their searches whenever no
// device is under way, so that the window or another velquint on this
// machine can search meanwhile; they take it again for the next search.

// A search of a watch that finds the port taken is tried again this much
// later.
constexpr int kWatchPortRetryMs = 1000;

class PortLease {
public:
    // `held`: the port is open already.
    explicit PortLease(bool held) : held_(held) {}

    enum class Taking {
        Held,   // the port is ours
        Busy,   // another program holds it: tried again at RetryAt()
        Later,  // it was busy a moment ago; not tried again yet
    };

    Taking Take(Instant now, SegmentActions& segment);
    void GiveBack(SegmentActions& segment);

    bool Held() const { return held_; }
    Instant RetryAt() const { return retryAt_; }

private:
    bool held_;
    Instant retryAt_{};
};
