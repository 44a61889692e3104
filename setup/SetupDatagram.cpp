#include "setup/SetupDatagram.h"

#include <cstring>

#include "common/ByteOrder.h"

int BuildSetupDatagram(const SetupRequest& request, uint8_t (&datagram)[kSetupDatagramLength]) {
    SetupValues values;
    std::memcpy(values.mac, request.Mac, kSetupMacLength);
    struct AddressSlot {
        const char (&text)[kAddressTextFieldSize];
        uint32_t& value;
        int refusal;
    };
    const AddressSlot slots[] = {
        {request.NewIp, values.ip, kSetupNewIpRefused},
        {request.NewMask, values.mask, kSetupNewMaskRefused},
        {request.NewGateway, values.gateway, kSetupNewGatewayRefused},
    };
    for (const AddressSlot& slot : slots) {
        if (!ConvertAddressText(slot.text, slot.value)) {
            return slot.refusal;
        }
    }
    values.port = request.Port;
    values.baudCode = request.BaudCode;
    const int built = BuildSetupDatagram(values, datagram);
    datagram[kCommandCodeOffset] = request.Command;
    return built;
}

int BuildSetupDatagram(const SetupValues& values, uint8_t (&datagram)[kSetupDatagramLength]) {
    std::memset(datagram, 0, sizeof datagram);
    std::memcpy(datagram + kIdentifierOffset, kRequestIdentifier, kIdentifierLength);
    datagram[kCommandCodeOffset] = kSetupCommand;
    std::memcpy(datagram + kSetupMacOffset, values.mac, kSetupMacLength);
    const struct {
        uint32_t value;
        size_t offset;
        int refusal;
    } slots[] = {
        {values.ip, kSetupNewIpOffset, kSetupNewIpRefused},
        {values.mask, kSetupNewMaskOffset, kSetupNewMaskRefused},
        {values.gateway, kSetupNewGatewayOffset, kSetupNewGatewayRefused},
    };
    for (const auto& slot : slots) {
        if (slot.value == kAllOnesAddress) {
            return slot.refusal;
        }
        WriteBigEndian32(datagram + slot.offset, slot.value);
    }
    WriteBigEndian16(datagram + kSetupPortHighOffset, values.port);
    datagram[kSetupBaudCodeOffset] = values.baudCode;
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
