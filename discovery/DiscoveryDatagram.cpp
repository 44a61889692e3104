#include "discovery/DiscoveryDatagram.h"

#include <cstring>

void BuildDiscoveryRequest(uint8_t (&request)[kDiscoveryRequestLength]) {
    std::memcpy(request + kIdentifierOffset, kRequestIdentifier, kIdentifierLength);
    request[kCommandCodeOffset] = kSearchCommand;
}

bool IsDiscoveryReply(const uint8_t* datagram, ssize_t length) {
    if (length < static_cast<ssize_t>(kShortestReplyAccepted) ||
        length > static_cast<ssize_t>(kLargestReplyRead)) {
        return false;
    }
    if (std::memcmp(datagram + kIdentifierOffset, kReplyIdentifier, kIdentifierLength) != 0) {
        return false;
    }
    return datagram[kCommandCodeOffset] == kSearchCommand;
}
