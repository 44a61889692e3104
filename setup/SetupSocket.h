#pragma once

#include <netinet/in.h>

#include <cstdint>

#include "setup/SetupDatagram.h"
#include "setup/SetupRequest.h"

// The steps of a setup exchange that a single setup and a batch of them
// share.

// A UDP socket bound to port 3195 without address reuse, with SO_BROADCAST
// and SO_DONTROUTE for a broadcast setup: its descriptor, or the code of the
// step that failed (kSetupSocketFailed to kSetupBindFailed).
int OpenSetupSocket(bool broadcast);

// The datagram of `request` and where it goes: 255.255.255.255 or the
// device's present address, port 3195. kSetupDatagramBuilt, or the refusal
// of an address text; nothing may be sent then.
int PrepareSetupDatagram(const SetupRequest& request, uint8_t (&datagram)[kSetupDatagramLength],
                         sockaddr_in* destination);

// Sends the datagram once with MSG_DONTROUTE. A broadcast that Linux refuses
// for want of a route goes out of each broadcast-capable interface instead.
bool SendSetupDatagram(int fd, const uint8_t (&datagram)[kSetupDatagramLength], bool broadcast,
                       const sockaddr_in& destination);
