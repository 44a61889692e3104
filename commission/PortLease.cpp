#include "commission/PortLease.h"

PortLease::Taking PortLease::Take(Instant now, SegmentActions& segment) {
    if (held_) {
        return Taking::Held;
    }
    if (now < retryAt_) {
        return Taking::Later;
    }
    if (!segment.OpenPort()) {
        retryAt_ = After(now, kWatchPortRetryMs);
        return Taking::Busy;
    }
    held_ = true;
    return Taking::Held;
}

void PortLease::GiveBack(SegmentActions& segment) {
    if (held_) {
        segment.ClosePort();
        held_ = false;
    }
}
