#include "commission/SearchSchedule.h"

#include <algorithm>

void SearchSchedule::Awaiting(Instant now) {
    if (nextReturnSearchAt_ == kNever) {
        nextReturnSearchAt_ = After(now, kReturnSearchSlowMs);
    }
}

void SearchSchedule::Confirmed(Instant now) {
    SearchBy(After(now, kReturnSearchPromptMs));
}

void SearchSchedule::BroughtBack() {
    lastSearchBroughtBack_ = true;
    returnGap_ = Milliseconds(kReturnSearchFastMs);
    SearchBy(lastRequestAt_ + returnGap_);
}

void SearchSchedule::Advance(Instant now, bool awaited, bool watching) {
    if (listening_ && now >= ListenEndsAt()) {
        EndSearch(now);
    }
    if (awaited) {
        ReturnSearch(now);
        return;
    }
    nextReturnSearchAt_ = kNever;
    if (watching) {
        WatchSearch(now);
    }
}

void SearchSchedule::End(Instant now) {
    if (listening_) {
        EndSearch(now);
    }
}

void SearchSchedule::ReturnSearch(Instant now) {
    Awaiting(now);
    if (now < nextReturnSearchAt_) {
        return;
    }
    if (!lastSearchBroughtBack_) {
        returnGap_ = std::min(returnGap_ * 2, Milliseconds(kReturnSearchSlowMs));
    }
    lastSearchBroughtBack_ = false;
    // A watch's search under way becomes the return wait's: its end no
    // longer moves the watch's interval.
    watchSearch_ = false;
    Request(now);
    nextReturnSearchAt_ = now + returnGap_;
}

void SearchSchedule::WatchSearch(Instant now) {
    if (watchSearch_) {
        if (watchPasses_ < kWatchPasses &&
            now >= After(watchSearchStartedAt_, kSearchPassIntervalMs)) {
            ++watchPasses_;
            Request(now);
        }
        return;
    }
    if (now < nextWatchSearchAt_ || listening_) {
        return;
    }
    Instant retryAt = kNever;
    if (!host_.TakePort(now, &retryAt)) {
        nextWatchSearchAt_ = retryAt;
        return;
    }
    watchSearch_ = true;
    watchPasses_ = 1;
    watchSearchStartedAt_ = now;
    Request(now);
}

void SearchSchedule::Request(Instant now) {
    // Each request of the return wait is a search of its own; the watch's
    // second request belongs to the search of its first.
    if (listening_ && !watchSearch_) {
        EndSearch(now);
    }
    host_.SendRequest();
    lastRequestAt_ = now;
    listening_ = true;
}

void SearchSchedule::EndSearch(Instant now) {
    listening_ = false;
    const bool changed = host_.SearchEnded(now);
    if (watchSearch_) {
        watchSearch_ = false;
        watchGap_ = changed ? Milliseconds(kWatchSearchMs)
                            : std::min(watchGap_ * 2, Milliseconds(kWatchQuietestMs));
        nextWatchSearchAt_ = std::max(now, watchSearchStartedAt_ + watchGap_);
    }
}

void SearchSchedule::SearchBy(Instant moment) {
    nextReturnSearchAt_ =
        std::min(nextReturnSearchAt_, std::max(moment, After(lastRequestAt_, kLeastSearchGapMs)));
}

Instant SearchSchedule::ListenEndsAt() const {
    return After(std::max(lastRequestAt_, lastAnswerAt_), kSearchListenMs);
}

Instant SearchSchedule::NextWake(bool watching) const {
    Instant next = nextReturnSearchAt_;
    if (listening_) {
        next = std::min(next, ListenEndsAt());
    }
    if (!watching) {
        return next;
    }
    // A watch's search waits while another search listens or a device is
    // awaited.
    if (!watchSearch_ && !listening_ && nextReturnSearchAt_ == kNever) {
        next = std::min(next, nextWatchSearchAt_);
    } else if (watchSearch_ && watchPasses_ < kWatchPasses) {
        next = std::min(next, After(watchSearchStartedAt_, kSearchPassIntervalMs));
    }
    return next;
}
