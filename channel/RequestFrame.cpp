#include "channel/RequestFrame.h"

#include <cstring>

#include "channel/Crc16Arc.h"
#include "channel/PayloadCipher.h"
#include "common/ByteOrder.h"

std::size_t BuildRequestFrame(uint8_t* frame, const FrameMarkers& markers,
                              const RequestFields& fields, Rc4* cipher) {
    if (fields.length > kMaxRequestData) {
        return 0;
    }
    frame[kRequestStartOffset] = markers.requestStart;
    frame[kRequestSequenceOffset] = fields.sequence;
    WriteLe32(frame + kRequestAddressOffset, fields.address);
    frame[kRequestFunctionOffset] = fields.function;

    const uint32_t count = fields.length + kCommandSize;
    frame[kRequestCountCheckOffset] = CountCheck(count);
    std::size_t commandOffset;
    if (count <= kShortFormMaxCount) {
        frame[kRequestShortCountOffset] = static_cast<uint8_t>(count);
        commandOffset = kRequestShortCommandOffset;
    } else {
        frame[kRequestLongMarkOffset] = kLongFormMark;
        WriteLe16(frame + kRequestLongCountOffset, static_cast<uint16_t>(count));
        commandOffset = kRequestLongCommandOffset;
    }

    frame[commandOffset] = fields.command;
    if (fields.length > 0) {
        std::memcpy(frame + commandOffset + kCommandSize, fields.data, fields.length);
    }
    if (cipher != nullptr) {
        cipher->Apply(frame + commandOffset, count);
    }

    const std::size_t crcOffset = commandOffset + count;
    WriteLe16(frame + crcOffset, Crc16Arc(frame, crcOffset));
    frame[crcOffset + kCrcSize] = markers.end;
    return crcOffset + kFrameTrailerSize;
}
