#include "sim/SimLoop.h"

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

void SimLoop::Watch(int fd, Task onReadable) {
    Unwatch(fd);
    watched_.push_back(Watched{fd, std::move(onReadable)});
}

void SimLoop::Unwatch(int fd) {
    watched_.erase(std::remove_if(watched_.begin(), watched_.end(),
                                  [fd](const Watched& w) { return w.fd == fd; }),
                   watched_.end());
}

void SimLoop::After(int delayMs, Task task) {
    timers_.emplace(NowMs() + static_cast<uint64_t>(std::max(0, delayMs)), std::move(task));
}

uint64_t SimLoop::NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u +
           static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

void SimLoop::Run() {
    while (!stopped_ && (!watched_.empty() || !timers_.empty())) {
        // Due timers first: a burst of replies goes out before new input.
        while (!timers_.empty() && timers_.begin()->first <= NowMs() && !stopped_) {
            Task task = std::move(timers_.begin()->second);
            timers_.erase(timers_.begin());
            task();
        }
        if (stopped_) {
            break;
        }
        int timeoutMs = -1;
        if (!timers_.empty()) {
            const uint64_t now = NowMs();
            const uint64_t due = timers_.begin()->first;
            timeoutMs = due > now ? static_cast<int>(due - now) : 0;
        }
        std::vector<pollfd> entries;
        for (const Watched& w : watched_) {
            entries.push_back(pollfd{w.fd, POLLIN, 0});
        }
        const int ready = poll(entries.data(), entries.size(), timeoutMs);
        if (ready < 0 && errno != EINTR) {
            break;
        }
        for (const pollfd& entry : entries) {
            if (entry.revents == 0) {
                continue;
            }
            // A handler may unwatch or watch other descriptors: look it up afresh.
            auto it = std::find_if(watched_.begin(), watched_.end(),
                                   [&entry](const Watched& w) { return w.fd == entry.fd; });
            if (it != watched_.end()) {
                Task handler = it->onReadable;
                handler();
            }
        }
    }
}
