#pragma once

#include <cstddef>
#include <cstdint>

// Results of DiscoverDevices: 0 to 255 is the number of replies stored.
constexpr int kDiscoverSocketFailed = -1;           // the UDP socket could not be created
constexpr int kDiscoverBroadcastOptionFailed = -2;  // SO_BROADCAST could not be set
constexpr int kDiscoverDontRouteOptionFailed = -3;  // SO_DONTROUTE could not be set
constexpr int kDiscoverBindFailed = -4;             // port 3195 could not be bound
constexpr int kDiscoverSendFailed = -5;             // the request went out of no interface
constexpr int kDiscoverTableFull = -6;              // a further reply did not fit; the
                                                    // records stored before it remain

// What the Search command passes.
constexpr int kSearchFirstWaitSeconds = 2;
// The wait after each accepted reply.
constexpr int kReplyWaitMicroseconds = 400000;
// However busy the port is, a search ends this long after it began, so a
// stream of foreign datagrams cannot hold the window forever.
constexpr int kSearchTimeLimitMs = 30000;
// Many devices answer within microseconds of each other; a default-sized
// receive buffer would drop part of the burst. The kernel may grant less.
constexpr int kDiscoveryReceiveBufferBytes = 1 << 20;

// What a search may do beyond the window's, for the command line.
struct DiscoveryOptions {
    // 0: the request goes out as the window's does; otherwise out of this
    // interface only, and only replies that come in on it are taken.
    unsigned interfaceIndex = 0;
    // When not null, room for kMaxDeviceRecords: the index of the interface
    // each stored record came in on, in table order.
    unsigned* replyInterfaces = nullptr;
};

// Broadcasts one discovery request from port 3195 and stores each reply, from
// its byte 8 on, as one record of `table` (a DeviceTable of `capacity` bytes,
// count byte included). Waits `firstWaitSeconds` for the first datagram and
// 0.4 s after each accepted reply, each wait afresh, and ends when a wait
// passes with nothing to read or `timeLimitMs` after the call began.
// Replies are not de-duplicated. On -1 to -5 the table is untouched.
int DiscoverDevices(uint8_t* table, size_t capacity, int firstWaitSeconds,
                    int timeLimitMs = kSearchTimeLimitMs, const DiscoveryOptions& options = {});
