#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "setup/SendSetupRequest.h"
#include "setup/SetupRequest.h"

// Several setups in flight at once on one socket, each confirmation matched
// by its MAC: what commissioning many devices needs, where one setup at a
// time would wait out every device's answer in turn. Each datagram is the
// single setup's, and so is the test of a confirmation.

// How a batch runs.
struct SetupBatchOptions {
    // Setups awaiting their confirmation at any moment.
    size_t window = 32;
    // Datagrams per setup: the first and the retries of an unconfirmed one.
    int attempts = 2;
    // Called once per setup as soon as it has its result.
    std::function<void(size_t index)> onDone;
};

// One setup of a batch and what became of it.
struct SetupBatchEntry {
    SetupRequest request;
    int result = kSetupNoReply;  // kSetupSuccess, kSetupNoReply after every attempt, a
                                 // refused address, or kSetupSendFailed
    int attempts = 0;            // datagrams sent
};

// Runs every entry's setup. Each attempt waits ReplyWaitSeconds for its
// confirmation; a datagram that confirms no setup of the batch is discarded.
// Returns kSetupSuccess when the batch ran, whatever its entries' results, or
// the code of the socket step that failed for all of them (then nothing was
// sent).
int SendSetupRequests(std::vector<SetupBatchEntry>& entries, const SetupBatchOptions& options);
