#include "setup/SetupBatch.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <deque>

#include "common/ScopeExit.h"
#include "setup/SetupDatagram.h"
#include "setup/SetupSocket.h"

namespace {

using Clock = std::chrono::steady_clock;

struct InFlight {
    size_t index;
    Clock::time_point deadline;
};

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<int64_t>(0, left.count()));
}

}  // namespace

int SendSetupRequests(std::vector<SetupBatchEntry>& entries, const SetupBatchOptions& options) {
    const bool anyBroadcast = std::any_of(entries.begin(), entries.end(), [](const auto& entry) {
        return entry.request.Broadcast != 0;
    });
    const int fd = OpenSetupSocket(anyBroadcast);
    if (fd < 0) {
        return fd;
    }
    const ScopeExit closeSocket([fd] { close(fd); });

    const auto finish = [&](size_t index, int result) {
        entries[index].result = result;
        if (options.onDone) {
            options.onDone(index);
        }
    };
    std::deque<size_t> waiting;
    for (size_t i = 0; i < entries.size(); ++i) {
        waiting.push_back(i);
    }
    std::vector<InFlight> inFlight;
    const size_t window = std::max<size_t>(1, options.window);

    while (!waiting.empty() || !inFlight.empty()) {
        while (!waiting.empty() && inFlight.size() < window) {
            const size_t index = waiting.front();
            waiting.pop_front();
            SetupBatchEntry& entry = entries[index];
            uint8_t datagram[kSetupDatagramLength];
            sockaddr_in destination{};
            const int prepared = PrepareSetupDatagram(entry.request, datagram, &destination);
            if (prepared != kSetupDatagramBuilt) {
                finish(index, prepared);
                continue;
            }
            ++entry.attempts;
            if (!SendSetupDatagram(fd, datagram, entry.request.Broadcast != 0, destination)) {
                finish(index, kSetupSendFailed);
                continue;
            }
            const auto wait = std::chrono::seconds(std::max(0, entry.request.ReplyWaitSeconds));
            inFlight.push_back(InFlight{index, Clock::now() + wait});
        }
        if (inFlight.empty()) {
            continue;
        }

        const auto nearest = std::min_element(
            inFlight.begin(), inFlight.end(),
            [](const InFlight& a, const InFlight& b) { return a.deadline < b.deadline; });
        pollfd readable{fd, POLLIN, 0};
        const int ready = poll(&readable, 1, MillisecondsUntil(nearest->deadline));
        if (ready < 0 && errno != EINTR) {
            for (const InFlight& pending : inFlight) {
                finish(pending.index, kSetupWaitFailed);
            }
            inFlight.clear();
            continue;
        }
        if (ready > 0) {
            uint8_t buffer[kSetupReplyBufferSize] = {};
            // MSG_TRUNC: a datagram longer than the buffer is seen and refused.
            const ssize_t received = recv(fd, buffer, sizeof buffer, MSG_TRUNC | MSG_DONTWAIT);
            const auto confirmed =
                std::find_if(inFlight.begin(), inFlight.end(), [&](const InFlight& pending) {
                    return ClassifySetupReply(buffer, static_cast<long>(received),
                                              entries[pending.index].request.Mac) ==
                           SetupReplyVerdict::Confirms;
                });
            if (confirmed != inFlight.end()) {
                const size_t index = confirmed->index;
                inFlight.erase(confirmed);
                finish(index, kSetupSuccess);
            }
        }
        // Unconfirmed setups whose wait has passed go again, up front, or end.
        const auto now = Clock::now();
        for (auto pending = inFlight.begin(); pending != inFlight.end();) {
            if (pending->deadline > now) {
                ++pending;
                continue;
            }
            const size_t index = pending->index;
            pending = inFlight.erase(pending);
            if (entries[index].attempts < options.attempts) {
                waiting.push_front(index);
            } else {
                finish(index, kSetupNoReply);
            }
        }
    }
    return kSetupSuccess;
}
