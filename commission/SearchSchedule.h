#pragma once

#include "commission/Clock.h"

// When a run searches, and how long each search listens. One search is under
// way at a time; it lasts until its answers have stopped coming, and its end
// is told to the host, which knows what the answers changed.
//
// Two policies share it:
//  - The return wait, while devices are awaited after their setup: a search
//    every kReturnSearchSlowMs, and every kReturnSearchFastMs while devices
//    are coming back (the interval doubles again with each search that brings
//    none back). A reply lost at the moment a device returns costs a quarter
//    of a second, and a segment waiting for devices to restart hears one
//    request a second. The first search after a confirmation goes out
//    kReturnSearchPromptMs after it. No request goes out while nobody is
//    awaited.
//  - A watch, while nobody is awaited: a search about every kWatchSearchMs,
//    with kWatchPasses requests kSearchPassIntervalMs apart (a device missed
//    by both is rare even on a lossy segment). While nothing changes it grows
//    quieter: each search that brings no change doubles the interval, up to
//    kWatchQuietestMs.
constexpr int kReturnSearchSlowMs = 1000;
constexpr int kReturnSearchFastMs = 250;
constexpr int kReturnSearchPromptMs = 50;
constexpr int kWatchSearchMs = 1000;
constexpr int kWatchQuietestMs = 4000;
constexpr int kWatchPasses = 2;
// A search listens until this long after its last request or answer.
constexpr int kSearchListenMs = 300;
// Two searches never go out closer together than this.
constexpr int kLeastSearchGapMs = 100;

// The repeated search of a command (RepeatedSearch.h): requests this far
// apart, and while a caller waits for devices that have not answered, a
// further request this often.
constexpr int kSearchPassIntervalMs = 100;
constexpr int kSearchMorePassIntervalMs = 500;

// What a schedule asks of the run it serves.
class SearchHost {
public:
    virtual ~SearchHost() = default;
    // Sends one discovery request.
    virtual void SendRequest() = 0;
    // The port for a watch's search; false while it cannot be had, to be
    // tried again at `*retryAt`.
    virtual bool TakePort(Instant now, Instant* retryAt) = 0;
    // A search has ended: every answer it brought came before. True when
    // they changed the segment as the host sees it.
    virtual bool SearchEnded(Instant now) = 0;
};

class SearchSchedule {
public:
    explicit SearchSchedule(SearchHost& host) : host_(host) {}

    // A device begins to be awaited: a search goes out kReturnSearchSlowMs
    // from now, unless one is due sooner.
    void Awaiting(Instant now);
    // A device confirmed its setup: search for it soon.
    void Confirmed(Instant now);
    // An answer showed an awaited device back: the next searches go fast.
    void BroughtBack();
    // Any answer: the search under way listens on.
    void Heard(Instant now) { lastAnswerAt_ = now; }

    // Ends a search whose answers have stopped, and sends what is due: the
    // return wait's requests while `awaited`, the watch's while `watching`
    // and nobody is awaited.
    void Advance(Instant now, bool awaited, bool watching);
    // The run is over: a search that still listens ends.
    void End(Instant now);

    Instant NextWake(bool watching) const;
    bool Listening() const { return listening_; }
    // When the last request went out: an answer to a later one is news of
    // a device after anything sent to it before.
    Instant LastRequest() const { return lastRequestAt_; }

private:
    void ReturnSearch(Instant now);
    void WatchSearch(Instant now);
    void Request(Instant now);
    void EndSearch(Instant now);
    void SearchBy(Instant moment);
    Instant ListenEndsAt() const;

    SearchHost& host_;
    Instant lastRequestAt_{};
    Instant lastAnswerAt_{};
    bool listening_ = false;

    Instant nextReturnSearchAt_ = kNever;
    Milliseconds returnGap_{kReturnSearchSlowMs};
    bool lastSearchBroughtBack_ = false;

    bool watchSearch_ = false;
    int watchPasses_ = 0;
    Instant watchSearchStartedAt_{};
    Instant nextWatchSearchAt_{};
    Milliseconds watchGap_{kWatchSearchMs};
};
