#pragma once

#include <cstdint>

#include "setup/SetupDatagram.h"
#include "setup/SetupRequest.h"

// Results of SendSetupRequest. Callers tell only zero from non-zero; the
// distinct values say which step failed.
constexpr int kSetupSuccess = 0;                 // the device confirmed
constexpr int kSetupSocketFailed = -1;           // the UDP socket could not be opened
constexpr int kSetupBroadcastOptionFailed = -2;  // SO_BROADCAST could not be set
constexpr int kSetupDontRouteOptionFailed = -3;  // SO_DONTROUTE could not be set
constexpr int kSetupBindFailed = -4;             // port 3195 could not be bound
// -5, -6, -7: NewIp, NewMask, NewGateway refused (see SetupDatagram.h)
constexpr int kSetupCurrentIpRefused = -8;          // direct setup to an unusable address
constexpr int kSetupSendFailed = -9;                // the datagram did not go out
constexpr int kSetupNoReply = -10;                  // a full wait passed without any datagram
constexpr int kSetupWaitFailed = -11;               // the readiness wait itself failed
constexpr int kSetupWaitCapReached = -12;           // only non-matching datagrams until the cap
constexpr int kSetupAddressTextUnterminated = -13;  // an address field lacks its zero byte

// However many non-matching datagrams keep arriving, the reply wait ends this
// long after the send: a chatty neighbour on port 3195 must not hang the
// window for ever.
constexpr uint32_t kSetupOverallWaitCapMs = 30000;

// Sends one setup datagram (by broadcast or straight to CurrentIp) from port
// 3195 and waits for the device's confirmation. Every wait for a datagram
// lasts the full ReplyWaitSeconds; a datagram that does not confirm is
// discarded and the wait starts again. Blocks the calling thread throughout.
// `overallCapMs` is there for tests; the tool always leaves it at the default.
int SendSetupRequest(const SetupRequest& request, uint32_t overallCapMs = kSetupOverallWaitCapMs);
