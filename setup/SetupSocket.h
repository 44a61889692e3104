#pragma once

#include <cstdint>

#include "platform/Sockets.h"
#include "setup/SetupDatagram.h"
#include "setup/SetupRequest.h"

// The steps of a setup exchange that a single setup and a batch of them
// share.

// A UDP socket bound to port 3195 without address reuse, with SO_BROADCAST
// and SO_DONTROUTE for a broadcast setup: 0 with the socket in `*socket`, or
// the code of the step that failed (kSetupSocketFailed to kSetupBindFailed).
int OpenSetupSocket(bool broadcast, SocketHandle* socket);

// The datagram of `request` and where it goes, port 3195: 255.255.255.255 or
// the device's present address (`*destination`, host byte order).
// kSetupDatagramBuilt, or the refusal of an address text; nothing may be
// sent then.
int PrepareSetupDatagram(const SetupRequest& request, uint8_t (&datagram)[kSetupDatagramLength],
                         uint32_t* destination);

// Sends the datagram once with MSG_DONTROUTE. A broadcast that Linux refuses
// for want of a route goes out of each broadcast-capable interface instead.
bool SendSetupDatagram(SocketHandle socket, const uint8_t (&datagram)[kSetupDatagramLength],
                       bool broadcast, uint32_t destination);
