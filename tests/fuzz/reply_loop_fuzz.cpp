// The receive loop fed from memory through a transport's read primitive, on
// a clock the target drives: any split of the stream, short reads, empty
// waits and waits cut short, on each transport's frame allowance. Every read
// must come while no limit has passed and wait no longer than the nearer
// one allows; the loop must end with the parse's answer (ReplyModel.h) as
// soon as the deciding byte is in, or else with the time-out within a
// millisecond of the limit that passed: T since the last byte inside the
// frame, or, from the start marker, T plus the frame's allowance.
//
// Input: the address (4 bytes, little-endian), the sequence number, a flags
// byte (bit 0: marker row 1; bits 1-2: 1 HID, 2 TCP, else serial), the line
// rate's index, T (2 bytes, big-endian, below 4096 ms), the number of steps
// and two bytes a step (a delay in 8 ms units, a byte count, 0 for an empty
// wait), then the stream. The steps repeat until the stream is out.
//
// The peer reads the steps and the stream where they stand in the input and
// is not instrumented, like the models: the fuzzer's time and guidance go to
// the loop under test.
#include <algorithm>

#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "channel/FrameFormat.h"
#include "channel/ReplyParser.h"
#include "channel/Transport.h"
#include "tests/fuzz/FuzzInput.h"
#include "tests/fuzz/ReplyModel.h"

namespace {

constexpr uint32_t kRates[] = {50, 300, 9600, 19200, 115200, 4000000};
constexpr uint32_t kLargestTimeoutMs = 4095;
constexpr uint64_t kDelayUnitMs = 8;
// A script of tiny empty waits could run the loop for hours of its clock;
// past this many reads the peer falls silent.
constexpr size_t kMostReads = 20000;

// Without a script the peer sends whatever it has at once.
constexpr uint8_t kSendAll[] = {0, 0xFF};

struct Peer {
    ByteSpan steps;
    ByteSpan stream;
    reply_model::Outcome model;
    long start = -1;  // the start marker's index
    uint8_t kind = 0;
    uint32_t rate = 0;
    uint64_t timeoutMs = 0;
    uint64_t now = 0;
    size_t delivered = 0;
    size_t reads = 0;
    size_t step = 0;
    uint64_t delayLeft = 0;  // of the step under way
    uint64_t reference = 0;  // the last read that brought bytes of the frame
    uint64_t frameStart = 0;
};
Peer peer;

FUZZ_MODEL uint64_t Clock() {
    return peer.now;
}

// Each transport's allowance as the user's guide gives it (docs/guide.md, Set ID).
FUZZ_MODEL uint64_t FrameLimitMs() {
    uint64_t length = kReplyLongHeaderSize;
    if (peer.model.countSeen) {
        const size_t countEnd = peer.stream.data[peer.start + 9] != 0 ? 10 : 12;
        length = peer.delivered >= peer.start + countEnd ? countEnd + peer.model.count + 3 : length;
    }
    uint64_t allowance = 5000;
    if (peer.kind == TransportKind::Hid) {
        allowance = (length + 61) / 62 * 10 * 2;
    } else if (peer.kind == TransportKind::Serial) {
        allowance = (length * 10 * 2 * 1000 + peer.rate - 1) / peer.rate;
    }
    return peer.timeoutMs + allowance;
}

FUZZ_MODEL bool Framing() {
    return peer.start >= 0 && peer.delivered > static_cast<size_t>(peer.start);
}

FUZZ_MODEL uint64_t MsLeft() {
    const uint64_t left = peer.reference + peer.timeoutMs - peer.now;
    return Framing() ? std::min(left, peer.frameStart + FrameLimitMs() - peer.now) : left;
}

FUZZ_MODEL bool Decided() {
    return peer.model.finishedAt >= 0 &&
           peer.delivered > static_cast<size_t>(peer.model.finishedAt);
}

FUZZ_MODEL int ReadFromMemory(COM_Class&, uint8_t* buffer, std::size_t room, uint32_t waitMs) {
    FUZZ_CHECK(!Decided());
    FUZZ_CHECK(peer.now <= peer.reference + peer.timeoutMs);
    FUZZ_CHECK(!Framing() || peer.now <= peer.frameStart + FrameLimitMs());
    FUZZ_CHECK(waitMs >= 1 && waitMs <= MsLeft() + 1);
    const bool silent = peer.delivered == peer.stream.size || ++peer.reads > kMostReads;
    const size_t at = peer.step % (peer.steps.size / 2) * 2;
    if (peer.delayLeft == 0 && !silent) {
        peer.delayLeft = 1 + peer.steps.data[at] * kDelayUnitMs;
    }
    if (silent || peer.delayLeft > waitMs) {
        peer.now += waitMs;
        peer.delayLeft -= silent ? 0 : waitMs;
        return 0;
    }
    peer.now += peer.delayLeft;
    peer.delayLeft = 0;
    ++peer.step;
    const size_t taken = std::min(std::min(size_t{peer.steps.data[at + 1]}, room),
                                  peer.stream.size - peer.delivered);
    std::copy_n(peer.stream.data + peer.delivered, taken, buffer);
    const bool startedFraming = !Framing();
    peer.delivered += taken;
    if (taken > 0 && Framing()) {
        peer.reference = peer.now;
        peer.frameStart = startedFraming ? peer.now : peer.frameStart;
    }
    return static_cast<int>(taken);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    static COM_Class channel;
    channel.SentAddress = input.LittleEndian32();
    channel.SentSequence = input.Byte();
    const uint8_t flags = input.Byte();
    channel.MarkerSet = flags & 1;
    const uint8_t kinds[] = {TransportKind::Serial, TransportKind::Hid, TransportKind::Tcp,
                             TransportKind::Serial};
    // What the peer holds goes with this input: the fuzzer takes more
    // allocations than frees in one input as the hint of a leak.
    struct Forget {
        ~Forget() { peer = Peer{}; }
    } forget;
    peer.kind = kinds[(flags >> 1) & 3];
    peer.rate = kRates[input.Byte() % std::size(kRates)];
    channel.BaudRate = peer.rate;
    peer.timeoutMs = input.BigEndian16() & kLargestTimeoutMs;
    peer.steps = input.View(2 * input.Byte());
    peer.stream = input.View(input.Left());
    if (peer.steps.size < 2) {
        peer.steps = {kSendAll, sizeof kSendAll};
    }
    const FrameMarkers& markers = MarkersFor(channel.MarkerSet);
    peer.model = reply_model::Parse(
        peer.stream, {channel.SentAddress, channel.SentSequence, markers.replyStart, markers.end});
    const uint8_t* const end = peer.stream.data + peer.stream.size;
    const uint8_t* const marker = std::find(peer.stream.data, end, markers.replyStart);
    peer.start = marker == end ? -1 : marker - peer.stream.data;

    TransportOps memory = *TransportFor(peer.kind);
    memory.read = ReadFromMemory;
    ReplyParser parser(channel);
    const int answer =
        ReceiveReply(channel, memory, parser, static_cast<uint32_t>(peer.timeoutMs), Clock);
    if (Decided()) {
        FUZZ_CHECK(answer == peer.model.result);
        return 0;
    }
    FUZZ_CHECK(answer == kReceiveTimeout);
    const uint64_t sinceByte = peer.now - peer.reference;
    const bool frameOver = Framing() && peer.now - peer.frameStart > FrameLimitMs();
    FUZZ_CHECK(sinceByte > peer.timeoutMs || frameOver);
    FUZZ_CHECK(sinceByte <= peer.timeoutMs + 1);
    FUZZ_CHECK(!Framing() || peer.now - peer.frameStart <= FrameLimitMs() + 1);
    return 0;
}
