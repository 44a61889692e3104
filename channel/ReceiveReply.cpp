#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "channel/ReplyParser.h"
#include "channel/Tick.h"
#include "channel/Transport.h"

int ReceiveReply(COM_Class& channel, const TransportOps& transport, ReplyParser& parser,
                 uint32_t timeoutMs) {
    // One read takes at most as much as one reply can carry.
    uint8_t buffer[kMaxReplyData];
    uint64_t reference = TickMs();
    for (;;) {
        const int got = transport.read(channel, buffer, sizeof buffer,
                                       MsUntilTimeout(reference, TickMs(), timeoutMs));
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
        if (got > 0 && parser.InsideFrame()) {
            reference = TickMs();
        }
        if (TimeoutPassed(reference, TickMs(), timeoutMs)) {
            return kReceiveTimeout;
        }
    }
}
