#include "commission/Watch.h"

#include <algorithm>

Watch::Watch(SegmentActions& segment, WatchListener& listener, Instant start, int timeoutMs)
    : segment_(segment), listener_(listener), now_(start) {
    if (timeoutMs > 0) {
        endsAt_ = After(start, timeoutMs);
    }
}

void Watch::Advance(Instant now) {
    now_ = now;
    searches_.Advance(now, false, !Over(now));
    if (!searches_.Listening()) {
        port_.GiveBack(segment_);
    }
}

Instant Watch::NextWake() const {
    return std::min(searches_.NextWake(!Over(now_)), endsAt_);
}

void Watch::Answer(Instant now, const uint8_t* record, size_t length, unsigned interfaceIndex) {
    now_ = now;
    searches_.Heard(now);
    view_.Heard(record, length, interfaceIndex);
}

bool Watch::TakePort(Instant now, Instant* retryAt) {
    const PortLease::Taking taking = port_.Take(now, segment_);
    if (taking == PortLease::Taking::Held) {
        return true;
    }
    if (taking == PortLease::Taking::Busy) {
        listener_.OnPortBusy();
    }
    *retryAt = port_.RetryAt();
    return false;
}

bool Watch::SearchEnded(Instant) {
    ++searchesEnded_;
    const std::vector<SegmentChange> changes = view_.SearchEnded();
    listener_.OnSearchEnded(changes);
    return !changes.empty();
}
