#include "setup/SetupDatagram.h"

#include <cstring>

#include "common/ByteOrder.h"

int BuildSetupDatagram(const SetupRequest& request, uint8_t (&datagram)[kSetupDatagramLength]) {
    std::memset(datagram, 0, sizeof datagram);
    std::memcpy(datagram + kIdentifierOffset, kRequestIdentifier, kIdentifierLength);
    datagram[kCommandCodeOffset] = request.Command;
    std::memcpy(datagram + kSetupMacOffset, request.Mac, kSetupMacLength);

    struct AddressSlot {
        const char (&text)[kAddressTextFieldSize];
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
        if (!ConvertAddressText(slot.text, address)) {
            return slot.refusal;
        }
        WriteBigEndian32(datagram + slot.offset, address);
    }

    WriteBigEndian16(datagram + kSetupPortHighOffset, request.Port);
    datagram[kSetupBaudCodeOffset] = request.BaudCode;
    return kSetupDatagramBuilt;
}

SetupReplyVerdict ClassifySetupReply(const uint8_t* buffer, long received,
                                     const uint8_t (&mac)[kSetupMacLength]) {
    if (received < static_cast<long>(kSetupReplyMinLength) ||
        received > static_cast<long>(kSetupReplyBufferSize)) {
        return SetupReplyVerdict::TooShortOrFailed;
    }
    if (std::memcmp(buffer + kIdentifierOffset, kReplyIdentifier, kIdentifierLength) != 0) {
        return SetupReplyVerdict::NotAReply;
    }
    const uint8_t command = buffer[kCommandCodeOffset];
    if (command != kSetupReplyConfirmed && command != kSetupReplyConfirmedAlternative) {
        return SetupReplyVerdict::NotAConfirmation;
    }
    if (std::memcmp(buffer + kSetupReplyMacOffset, mac, kSetupMacLength) != 0) {
        return SetupReplyVerdict::OtherDevice;
    }
    return SetupReplyVerdict::Confirms;
}
