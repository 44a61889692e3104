#include "setup/SetupDatagram.h"

#include <arpa/inet.h>

#include <cstring>

const char kSetupRequestIdentifier[kSetupIdentifierLength + 1] = "KVM47JS";
const char kSetupReplyIdentifier[kSetupIdentifierLength + 1] = "KVM47JR";

namespace {

void PutBigEndian16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}

void PutBigEndian32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

}  // namespace

bool ConvertSetupAddress(const char (&text)[kSetupAddressFieldSize], uint32_t& hostOrder) {
    // An unterminated field would let inet_addr read past it.
    if (!AddressFieldTerminated(text)) {
        return false;
    }
    const in_addr_t converted = inet_addr(text);
    if (converted == INADDR_NONE) {
        return false;
    }
    hostOrder = ntohl(converted);
    return true;
}

int BuildSetupDatagram(const SetupRequest& request, uint8_t (&datagram)[kSetupDatagramLength]) {
    std::memset(datagram, 0, sizeof datagram);
    std::memcpy(datagram + kSetupIdentifierOffset, kSetupRequestIdentifier, kSetupIdentifierLength);
    datagram[kSetupCommandOffset] = request.Command;
    std::memcpy(datagram + kSetupMacOffset, request.Mac, kSetupMacLength);

    struct AddressSlot {
        const char (&text)[kSetupAddressFieldSize];
        size_t offset;
        int refusal;
    };
    const AddressSlot slots[] = {
        {request.NewIp, kSetupNewIpOffset, kSetupNewIpRefused},
        {request.NewMask, kSetupNewMaskOffset, kSetupNewMaskRefused},
        {request.NewGateway, kSetupNewGatewayOffset, kSetupNewGatewayRefused},
    };
    for (const AddressSlot& slot : slots) {
        uint32_t address = 0;
        if (!ConvertSetupAddress(slot.text, address)) {
            return slot.refusal;
        }
        PutBigEndian32(datagram + slot.offset, address);
    }

    PutBigEndian16(datagram + kSetupPortHighOffset, request.Port);
    datagram[kSetupBaudCodeOffset] = request.BaudCode;
    return kSetupDatagramBuilt;
}

SetupReplyVerdict ClassifySetupReply(const uint8_t* buffer, long received,
                                     const uint8_t (&mac)[kSetupMacLength]) {
    if (received < static_cast<long>(kSetupReplyMinLength) ||
        received > static_cast<long>(kSetupReplyBufferSize)) {
        return SetupReplyVerdict::TooShortOrFailed;
    }
    if (std::memcmp(buffer + kSetupReplyIdentifierOffset, kSetupReplyIdentifier,
                    kSetupIdentifierLength) != 0) {
        return SetupReplyVerdict::NotAReply;
    }
    const uint8_t command = buffer[kSetupReplyCommandOffset];
    if (command != kSetupReplyConfirmed && command != kSetupReplyConfirmedAlternative) {
        return SetupReplyVerdict::NotAConfirmation;
    }
    if (std::memcmp(buffer + kSetupReplyMacOffset, mac, kSetupMacLength) != 0) {
        return SetupReplyVerdict::OtherDevice;
    }
    return SetupReplyVerdict::Confirms;
}
