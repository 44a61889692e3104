#include "commission/RepeatedSearch.h"

#include <algorithm>

#include "commission/SegmentDriver.h"
#include "discovery/DiscoverDevices.h"

namespace {

bool IsNews(SightingNews news) {
    return news == SightingNews::NewDevice || news == SightingNews::NewRecord ||
           news == SightingNews::NewInterface;
}

}  // namespace

RepeatedSearch::RepeatedSearch(const RepeatedSearchOptions& options, SegmentActions& segment,
                               DeviceSightings* sightings, Instant start)
    : options_(options),
      segment_(segment),
      sightings_(sightings),
      start_(start),
      limit_(After(start, std::max(0, options.timeLimitMs))),
      passes_(std::max(1, options.passes)),
      lastPass_(start),
      nextPass_(start),
      lastNews_(start) {}

void RepeatedSearch::Advance(Instant now) {
    if (over_ || now >= limit_) {
        over_ = true;
        return;
    }
    if (now >= nextPass_ && (sent_ < passes_ || !Satisfied())) {
        if (!segment_.SendSearch() && sent_ == 0) {
            sendFailed_ = over_ = true;
            return;
        }
        ++sent_;
        lastPass_ = now;
        nextPass_ =
            After(now, sent_ < passes_ ? options_.passIntervalMs : kSearchMorePassIntervalMs);
    }
    over_ = now >= EndsAt();
}

// The end as things stand: the limit while requests are still to go out;
// after them, the quiet after the last request or news (and at least the
// first wait when nothing answered).
Instant RepeatedSearch::EndsAt() const {
    if (sent_ < passes_ || !Satisfied()) {
        return limit_;
    }
    const Instant quietEnd = After(std::max(lastPass_, lastNews_), options_.quietMs);
    const Instant end = sightings_->All().empty()
                            ? std::max(After(start_, options_.firstWaitMs), quietEnd)
                            : quietEnd;
    return std::min(end, limit_);
}

Instant RepeatedSearch::NextWake() const {
    const bool morePasses = sent_ < passes_ || !Satisfied();
    return morePasses ? std::min(nextPass_, limit_) : EndsAt();
}

void RepeatedSearch::Answer(Instant now, const uint8_t* record, size_t length,
                            unsigned interfaceIndex) {
    if (IsNews(sightings_->AddRecord(record, length, interfaceIndex))) {
        lastNews_ = now;
    }
}

int SearchRepeatedly(SegmentPort& port, const RepeatedSearchOptions& options,
                     DeviceSightings* sightings) {
    SegmentDriver driver(port, options.interfaceIndex);
    RepeatedSearch search(options, driver, sightings, RunClock::now());
    driver.Run(
        search, [&search](Instant) { return search.Over(); }, options.stop);
    if (search.SendFailed()) {
        return kDiscoverSendFailed;
    }
    return static_cast<int>(sightings->All().size());
}
