#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/SignedSize.h"

// What one received datagram did to the table during a search.
enum class DiscoveryDatagramOutcome {
    Skipped,    // not a discovery reply (too short, too long, failed, foreign); table untouched
    Stored,     // stored as the next record
    TableFull,  // a reply, but it did not fit; table untouched
};

// The accept-and-store step of a search, apart from the socket: a datagram
// of `length` bytes (-1 for a failed receive) that is a discovery reply is
// stored, from its byte 8 on, as the next record of `table` at
// `*writePosition`, under the capacity rule for a buffer of `capacity` bytes
// and the one-byte count. Reads no byte of `datagram` beyond `length`.
DiscoveryDatagramOutcome StoreDiscoveryDatagram(uint8_t* table, size_t capacity,
                                                size_t* writePosition, const uint8_t* datagram,
                                                ssize_t length);
