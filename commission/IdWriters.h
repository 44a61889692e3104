#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "platform/WakeUp.h"

// Set IDs over TCP on worker threads, several at once, for a caller that
// goes on with its own work meanwhile (a run that still sets up and searches
// for other devices). Each worker has a channel of its own; the caller
// learns of finished writes through a wake-up it can wait on
// (WaitReadableOrWoken).

struct IdWriteJob {
    size_t task = 0;  // the caller's number for it
    uint32_t ip = 0;  // host byte order
    uint16_t port = 0;
    uint8_t id = 0;
    uint32_t connectLimitMs = 0;
};

struct IdWriteDone {
    size_t task = 0;
    int result = 0;  // the open's code when it failed, else the transaction's
    int32_t detail = 0;
    std::optional<uint8_t> readBack;  // the ID the reply carries
};

class IdWriters {
public:
    // At most `most` writes run at once (1 or more).
    explicit IdWriters(size_t most);
    // Waits for the writes that run, unless abandoned; queued ones are
    // dropped.
    ~IdWriters();
    IdWriters(const IdWriters&) = delete;
    IdWriters& operator=(const IdWriters&) = delete;

    // Signalled while finished writes wait to be collected; Collect clears it.
    const WakeUp& Wake() const;
    // Its descriptor, readable meanwhile, for a caller that polls.
    SocketHandle WakeDescriptor() const { return Wake().Descriptor(); }

    void Submit(const IdWriteJob& job);
    std::vector<IdWriteDone> Collect();

    // Lets the writes that run end on their own, unwaited for (a run that
    // was stopped must end at once; a write may take seconds more).
    void Abandon();

private:
    struct Shared;
    static void Work(std::shared_ptr<Shared> shared);

    std::shared_ptr<Shared> shared_;
    std::vector<std::thread> workers_;
    bool abandoned_ = false;
};
