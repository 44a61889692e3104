#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "channel/ReplyParser.h"
#include "channel/Tick.h"
#include "channel/Transport.h"

namespace {

// The most a frame may take from its start marker to its end: until its
// count is in, only the header's length is known.
uint64_t FrameLimitMs(const COM_Class& channel, const TransportOps& transport,
                      const ReplyParser& parser, uint32_t timeoutMs) {
    const uint32_t declared = parser.FrameLength();
    const uint32_t known = declared != 0 ? declared : kReplyLongHeaderSize;
    return uint64_t{timeoutMs} + transport.frameAllowance(channel, known);
}

}  // namespace

int ReceiveReply(COM_Class& channel, const TransportOps& transport, ReplyParser& parser,
                 uint32_t timeoutMs, TickSource tick) {
    // One read takes at most as much as one reply can carry.
    uint8_t buffer[kMaxReplyData];
    uint64_t reference = tick();
    bool framing = false;
    uint64_t frameStart = 0;
    for (;;) {
        const uint64_t before = tick();
        uint32_t waitMs = MsUntilTimeout(reference, before, timeoutMs);
        if (framing) {
            const uint32_t frameLeft = MsUntilTimeout(
                frameStart, before, FrameLimitMs(channel, transport, parser, timeoutMs));
            waitMs = frameLeft < waitMs ? frameLeft : waitMs;
        }
        const int got = transport.read(channel, buffer, sizeof buffer, waitMs);
        if (got < 0) {
            return got;
        }
        for (int n = 0; n < got; ++n) {
            const int result = parser.Feed(buffer[n]);
            if (result != 0) {
                return result;
            }
        }
        // Progress inside a frame restarts the clock; bytes skipped while
        // looking for a start marker do not, so a peer that streams noise
        // cannot hold the transaction past its time-out, however fast it
        // sends. A whole read is handled at one moment, and a parser never
        // leaves a frame without finishing, so one reading after the batch is
        // the same as one after every byte.
        const uint64_t now = tick();
        if (got > 0 && parser.InsideFrame()) {
            reference = now;
            if (!framing) {
                framing = true;
                frameStart = now;
            }
        }
        if (TimeoutPassed(reference, now, timeoutMs)) {
            return kReceiveTimeout;
        }
        // The restart alone would let a peer that sends one byte just inside
        // every time-out hold the transaction for hours with a long frame: the
        // frame as a whole gets the time its length explains, and no more.
        if (framing &&
            TimeoutPassed(frameStart, now, FrameLimitMs(channel, transport, parser, timeoutMs))) {
            return kReceiveTimeout;
        }
    }
}
