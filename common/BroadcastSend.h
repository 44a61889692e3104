#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Sockets.h"

// Sends one datagram from `socket` (IPv4 UDP, SO_BROADCAST set) to
// 255.255.255.255:`port` with the send flags `flags` (kSendDontRoute or 0).
//
// Linux refuses that send with ENETUNREACH when no route covers the limited
// broadcast address: on a workstation cabled straight to the devices (no
// default route), and also behind a gateway default route once SO_DONTROUTE
// or MSG_DONTROUTE restricts the lookup to on-link routes. Then the datagram
// goes out of each up, broadcast-capable IPv4 interface instead, named with
// IP_PKTINFO (no privileges needed).
//
// Returns `length` when the plain send, or at least one per-interface send,
// went out; otherwise -1.
ssize_t SendBroadcastDatagram(SocketHandle socket, const uint8_t* data, size_t length,
                              uint16_t port, int flags);

// Sends the same datagram out of interface `interfaceIndex` only, with that
// interface's first IPv4 address as the source, named with IP_PKTINFO as
// above. -1 when the interface is not up, cannot broadcast or has no IPv4
// address, or when the send fails.
ssize_t SendBroadcastDatagramVia(SocketHandle socket, const uint8_t* data, size_t length,
                                 uint16_t port, int flags, unsigned interfaceIndex);
