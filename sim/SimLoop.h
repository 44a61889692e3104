#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

// The simulator's single-threaded main loop: file descriptors to watch for
// input and one-shot timers, served by poll(). Each side of the simulator
// (discovery, setup, TCP service) registers its sockets and timers here, so
// a new side plugs in without touching the others.
class SimLoop {
public:
    using Task = std::function<void()>;

    // Runs `onReadable` whenever `fd` has input (or an error to collect).
    void Watch(int fd, Task onReadable);
    void Unwatch(int fd);

    // Runs `task` once, `delayMs` from now. Tasks due at the same moment run in
    // the order they were scheduled.
    void After(int delayMs, Task task);

    // Serves watches and timers until Stop() is called or nothing is left.
    void Run();
    void Stop() { stopped_ = true; }

    static uint64_t NowMs();

private:
    struct Watched {
        int fd;
        Task onReadable;
    };
    std::vector<Watched> watched_;
    std::multimap<uint64_t, Task> timers_;
    bool stopped_ = false;
};
