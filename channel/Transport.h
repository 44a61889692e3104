#pragma once

#include <cstdint>

class COM_Class;
class ReplyParser;

// One table of operations per transport kind. COM_Class dispatches on Kind
// through TransportFor() and nowhere else; each transport lives in a file of
// its own and only that file includes its platform headers.
struct TransportOps {
    // Opens the transport from the channel's fields; 0 or a negative code.
    // A failing open leaves nothing open.
    int (*open)(COM_Class& channel, uint32_t timeoutMs);
    // Releases whatever the transport holds and clears its open flag.
    void (*close)(COM_Class& channel);
    // Throws away bytes left over from earlier traffic; 0 or a negative code.
    // Null for a transport without a drain (HID).
    int (*drain)(COM_Class& channel);
    // Sends one finished request frame; 0 or a negative code. `timeoutMs` is
    // the transaction's time-out, for a transport whose send may have to wait
    // for room (TCP); the others may ignore it.
    int (*send)(COM_Class& channel, const uint8_t* frame, uint32_t length, uint32_t timeoutMs);
    // Feeds received bytes to `parser` until it finishes or `timeoutMs` pass
    // without progress (the channel's time-out rule); returns the parser's
    // result: the reply's data length or a negative code.
    int (*receive)(COM_Class& channel, ReplyParser& parser, uint32_t timeoutMs);
};

extern const TransportOps kSerialTransport;
extern const TransportOps kTcpTransport;
extern const TransportOps kHidTransport;

// The operations of a transport kind; null for TransportKind::NoTransport and
// for any kind that is not one.
const TransportOps* TransportFor(uint8_t kind);
