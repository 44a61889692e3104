#pragma once

#include <cstddef>
#include <cstdint>

#include "common/DatagramHeader.h"
#include "platform/SignedSize.h"

// The discovery request and reply, behind the header that setup datagrams
// share.
constexpr uint8_t kSearchCommand = 1;

constexpr size_t kDiscoveryRequestLength = 8;
// Bytes of a reply from this offset to its end form one DeviceRecord.
constexpr size_t kReplyRecordOffset = kDatagramHeaderLength;
constexpr size_t kLargestReplyRead = 256;
constexpr size_t kShortestReplyAccepted = kReplyRecordOffset + 1;

void BuildDiscoveryRequest(uint8_t (&request)[kDiscoveryRequestLength]);

// A received datagram of `length` bytes (-1 for a failed receive) is a reply
// to the search when it carries at least one record byte, the reply
// identifier and the search command code. Anything else is skipped.
bool IsDiscoveryReply(const uint8_t* datagram, ssize_t length);
