#pragma once

#include "platform/Sockets.h"

// The socket of a search: IPv4 UDP with SO_BROADCAST and SO_DONTROUTE, a
// receive buffer wide enough for a burst of replies, bound to port 3195 on
// every local address without address reuse (so the bind fails while another
// program holds the port). With `interfaceInfo`, each receive also tells the
// interface a datagram came in on (IP_PKTINFO).
//
// Returns 0 with the socket in `*socket`, or the DiscoverDevices code of the
// step that failed (kDiscoverSocketFailed to kDiscoverBindFailed); nothing is
// left open then.
int OpenDiscoverySocket(bool interfaceInfo, SocketHandle* socket);
