#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "channel/PayloadCipher.h"
#include "channel/ReplyParser.h"
#include "channel/ReplyResult.h"
#include "channel/RequestFrame.h"
#include "channel/Transport.h"

int COM_Class::Transact(uint32_t address, uint8_t function, uint8_t command, uint32_t length,
                        const uint8_t* data, uint32_t timeoutMs, int32_t* detail) {
    // Requests that cannot be framed leave everything as it was, the sequence
    // counter included: nothing goes out.
    if (length > kMaxRequestData) {
        return kTransactTooLong;
    }
    if (!MarkerRowExists(MarkerSet)) {
        return kTransactNoMarkerRow;
    }

    SentAddress = 0;
    ReplyResult = 0;
    SentFunction = 0;
    SentCommand = 0;
    SentSequence = 0;

    // The counter lives in the frame buffer itself and wraps 255 to 0.
    ++RequestFrame[kRequestSequenceOffset];
    SentSequence = RequestFrame[kRequestSequenceOffset];
    SentAddress = address;
    SentFunction = function;
    SentCommand = command;

    Rc4 cipher(CipherI, CipherJ, CipherBox);
    if (CipherEnabled) {
        KeyPayloadCipher(*this);
    }
    const RequestFields fields{SentSequence, address, function, command, data, length};
    const std::size_t frameLength = BuildRequestFrame(RequestFrame, MarkersFor(MarkerSet), fields,
                                                      CipherEnabled ? &cipher : nullptr);

    const TransportOps* transport = TransportFor(Kind);
    if (transport == nullptr) {
        return kChannelWrongKind;
    }
    if (transport->drain != nullptr) {
        const int drained = transport->drain(*this, timeoutMs);
        if (drained < 0) {
            return drained;
        }
    }
    const int sent =
        transport->send(*this, RequestFrame, static_cast<uint32_t>(frameLength), timeoutMs);
    if (sent < 0) {
        return sent;
    }
    ReplyParser parser(*this);
    const int received = ReceiveReply(*this, *transport, parser, timeoutMs);
    if (received < 0) {
        return received;
    }

    if (CipherEnabled) {
        KeyPayloadCipher(*this);
        ApplyPayloadCipher(*this, ReplyData, ReplyLength);
    }
    ReplyResult &= kReplyResultMask;
    return ReplyResultCode(ReplyResult, ReplyData, ReplyLength, detail);
}
