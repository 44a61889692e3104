#pragma once

#include <cstddef>
#include <cstdint>

class COM_Class;
class ReplyParser;

// One table of operations per transport kind. COM_Class dispatches on Kind
// through TransportFor() and nowhere else; each transport lives in a file of
// its own and only that file includes its platform headers. What the
// transports share (the receive loop and its time-out rule) is written once,
// in ReceiveReply.
struct TransportOps {
    // Opens the transport from the channel's fields; 0 or a negative code.
    // A failing open leaves nothing open.
    int (*open)(COM_Class& channel, uint32_t timeoutMs);
    // Releases whatever the transport holds and clears its open flag.
    void (*close)(COM_Class& channel);
    // Throws away bytes left over from earlier traffic; 0 or a negative code.
    // Bytes that keep arriving for longer than `timeoutMs` (the transaction's
    // time-out) end it with kReceiveTimeout. Null for a transport without a
    // drain (HID).
    int (*drain)(COM_Class& channel, uint32_t timeoutMs);
    // Sends one finished request frame; 0 or a negative code. `timeoutMs` is
    // the transaction's time-out, for a transport whose send may have to wait
    // for room (TCP); the others may ignore it.
    int (*send)(COM_Class& channel, const uint8_t* frame, uint32_t length, uint32_t timeoutMs);
    // Takes bytes that have arrived into `buffer` (room for `room` bytes,
    // never less than kMaxReplyData), waiting at most `waitMs` for some to
    // arrive. Returns how many it took, 0 when the wait passed with none, or
    // a negative code.
    int (*read)(COM_Class& channel, uint8_t* buffer, std::size_t room, uint32_t waitMs);
};

extern const TransportOps kSerialTransport;
extern const TransportOps kTcpTransport;
extern const TransportOps kHidTransport;

// The operations of a transport kind; null for TransportKind::NoTransport and
// for any kind that is not one.
const TransportOps* TransportFor(uint8_t kind);

// The receive loop of every transport: reads through `transport` and feeds
// each byte to `parser`, in arrival order, until the parser finishes or
// `timeoutMs` pass without progress (the channel's time-out rule, tested on
// every pass, with the reference tick moved only by bytes inside a frame).
// Returns the parser's result (the reply's data length or its code), the
// read's code, or kReceiveTimeout.
int ReceiveReply(COM_Class& channel, const TransportOps& transport, ReplyParser& parser,
                 uint32_t timeoutMs);
