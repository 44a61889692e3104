#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

// Sends one datagram from `socket` (IPv4 UDP, SO_BROADCAST set) to
// 255.255.255.255:`port` with the send flags `flags`.
//
// Linux refuses that send with ENETUNREACH when no route covers the limited
// broadcast address: on a workstation cabled straight to the devices (no
// default route), and also behind a gateway default route once SO_DONTROUTE
// or MSG_DONTROUTE restricts the lookup to on-link routes. Then the datagram
// goes out of each up, broadcast-capable IPv4 interface instead, named with
// IP_PKTINFO (no privileges needed).
//
// Returns `length` when the plain send, or at least one per-interface send,
// went out; otherwise -1 with errno set by the failing send.
ssize_t SendBroadcastDatagram(int socket, const uint8_t* data, size_t length, uint16_t port,
                              int flags);

// Sends the same datagram out of interface `interfaceIndex` only, with that
// interface's first IPv4 address as the source, named with IP_PKTINFO as
// above. -1 with errno set when the interface is not up, cannot broadcast or
// has no IPv4 address (ENXIO), or when the send fails.
ssize_t SendBroadcastDatagramVia(int socket, const uint8_t* data, size_t length, uint16_t port,
                                 int flags, unsigned interfaceIndex);
