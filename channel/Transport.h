#pragma once

#include <cstddef>
#include <cstdint>

#include "channel/Tick.h"

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
    // How much longer than the time-out a reply frame of `frameBytes` bytes
    // may take from its start marker to its end marker: the time the
    // transport's line needs for it, with room to spare (see below).
    uint64_t (*frameAllowance)(const COM_Class& channel, uint32_t frameBytes);
};

// What a reply frame is allowed beyond the time-out. A device that sends as
// fast as its line allows needs the line's time for the frame; one that gets
// out only half of that still fits.
constexpr uint32_t kLineTimeMargin = 2;
// Serial: a start bit, 8 data bits and a stop bit for each byte, at the
// channel's BaudRate.
constexpr uint32_t kSerialBitsPerByte = 10;
// HID: one input report per interval for each 62 frame bytes. Full-speed
// devices ask the host to poll their input reports every 1 to 10 ms as a
// rule; the slowest of that is taken.
constexpr uint32_t kHidReportIntervalMs = 10;
// TCP: no line to wait for, so one fixed allowance for any length. A device
// sends its reply from memory; even the largest (12,015 bytes, nine
// segments) takes about 10 ms at 10 Mbit/s, and 6.3 s at 19,200 bit/s, which
// T plus this still covers at Set ID's 3 s. It also leaves room for TCP to
// resend a lost segment several times over.
constexpr uint64_t kTcpFrameAllowanceMs = 5000;

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
// A frame, once its start marker is in, must also be whole within
// `timeoutMs` plus the transport's frameAllowance for its declared length
// (for the longest header while its count is not yet in). Returns the
// parser's result (the reply's data length or its code), the read's code,
// or kReceiveTimeout. `tick` is the clock; tests may drive one of their own.
int ReceiveReply(COM_Class& channel, const TransportOps& transport, ReplyParser& parser,
                 uint32_t timeoutMs, TickSource tick = TickMs);
