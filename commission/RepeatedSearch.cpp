#include "commission/RepeatedSearch.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "discovery/DiscoverDevices.h"

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

int MillisecondsUntil(Clock::time_point moment) {
    const auto left = std::chrono::ceil<Milliseconds>(moment - Clock::now());
    return static_cast<int>(std::max<int64_t>(0, left.count()));
}

bool IsNews(SightingNews news) {
    return news == SightingNews::NewDevice || news == SightingNews::NewRecord ||
           news == SightingNews::NewInterface;
}

}  // namespace

int SearchRepeatedly(SegmentPort& port, const RepeatedSearchOptions& options,
                     DeviceSightings* sightings) {
    const Clock::time_point start = Clock::now();
    const Clock::time_point limit = start + Milliseconds(std::max(0, options.timeLimitMs));
    const int passes = std::max(1, options.passes);
    const auto satisfied = [&] { return !options.complete || options.complete(*sightings); };

    int sent = 0;
    Clock::time_point lastPass = start;
    Clock::time_point nextPass = start;
    Clock::time_point lastNews = start;
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= limit || (options.stop != nullptr && options.stop())) {
            break;
        }
        if (now >= nextPass && (sent < passes || !satisfied())) {
            if (!port.SendSearch(options.interfaceIndex) && sent == 0) {
                return kDiscoverSendFailed;
            }
            ++sent;
            lastPass = now;
            nextPass = now + Milliseconds(sent < passes ? options.passIntervalMs
                                                        : kSearchMorePassIntervalMs);
        }

        Clock::time_point end = limit;
        if (sent >= passes && satisfied()) {
            const Clock::time_point quietEnd =
                std::max(lastPass, lastNews) + Milliseconds(options.quietMs);
            end = sightings->All().empty()
                      ? std::max(start + Milliseconds(options.firstWaitMs), quietEnd)
                      : quietEnd;
            if (now >= end) {
                break;
            }
        } else {
            end = std::min(end, nextPass);
        }

        pollfd entry{port.Descriptor(), POLLIN, 0};
        const int ready = poll(&entry, 1, MillisecondsUntil(std::min(end, limit)));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        SegmentDatagram datagram;
        for (size_t taken = 0; ready > 0 && taken < kMostDatagramsAtOnce && port.Receive(&datagram);
             ++taken) {
            if (options.interfaceIndex != 0 && datagram.interfaceIndex != options.interfaceIndex) {
                continue;
            }
            if (IsNews(sightings->Add(datagram.bytes, datagram.length, datagram.interfaceIndex))) {
                lastNews = Clock::now();
            }
        }
    }
    return static_cast<int>(sightings->All().size());
}
