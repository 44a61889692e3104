// A whole transaction whose reply arrives in any split: over the TCP
// transport in reads of any size, and over the HID transport in reports of
// any size, short reads, counts that claim more than arrived, and empty
// waits among them. The transaction's answer, and what it keeps of the
// reply, must not depend on the split: it is what a second reading of the
// whole stream (ReplyModel.h) says, or, when the stream ends before a frame
// does, the transport's own code for a peer that went away.
//
// Input: the address (4 bytes, little-endian), the sequence number, a flags
// byte (bit 0: marker row 1; bit 1: payload cipher on), the number of split
// bytes and the split bytes, then the stream.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "channel/COM_Class.h"
#include "channel/ChannelEvents.h"
#include "channel/ChannelResult.h"
#include "channel/FrameFormat.h"
#include "channel/HidReportDevice.h"
#include "channel/TransportHid.h"
#include "idassign/DeviceId.h"
#include "tests/fuzz/FuzzInput.h"
#include "tests/fuzz/ReplyModel.h"

namespace {

using reply_model::Bytes;

// Never reached: every stream ends in a closed peer or a failed read.
constexpr uint32_t kTimeoutMs = 3000;
constexpr size_t kWholeChunk = 4096;
constexpr uint8_t kStale = 0xEE;

struct Case {
    uint32_t address = 0;
    uint8_t sequence = 0;
    uint8_t markerRow = 0;
    bool cipher = false;
    Bytes splits;
    Bytes stream;
};

// Sends the stream to the channel's socket one piece per turn of the
// channel's event hook, then closes its side: each receive sees exactly one
// piece (a datagram-like socket keeps the pieces apart).
class PieceFeeder final : public ChannelEvents {
public:
    PieceFeeder(int peer, const Case& c) : peer_(peer), case_(c) {}

    void RunQueuedEvents() override {
        if (done_) {
            return;
        }
        if (sent_ >= case_.stream.size()) {
            shutdown(peer_, SHUT_WR);
            done_ = true;
            return;
        }
        size_t piece = kWholeChunk;
        if (!case_.splits.empty()) {
            const uint8_t split = case_.splits[turn_++ % case_.splits.size()];
            piece = split == 0 ? kWholeChunk : split;
        }
        piece = std::min(piece, case_.stream.size() - sent_);
        FUZZ_CHECK(send(peer_, case_.stream.data() + sent_, piece, MSG_NOSIGNAL) ==
                   static_cast<ssize_t>(piece));
        sent_ += piece;
    }

    void WaitReadable(int fd, int timeoutMs) override {
        pollfd entry{fd, POLLIN, 0};
        poll(&entry, 1, timeoutMs);
    }

private:
    int peer_;
    const Case& case_;
    size_t sent_ = 0;
    size_t turn_ = 0;
    bool done_ = false;
};

struct ScriptedReport {
    HidIoResult result = HidIoResult::Ok;
    uint8_t bytes[kHidReportSize] = {};
    size_t received = 0;
};

// The reports that carry the stream, cut as the split bytes say. A split
// byte b gives b % 63 payload bytes, shaped by b / 63: 0 a whole report,
// 1 a short read, 2 a count that claims more than arrived, 3 an empty wait,
// 4 a read too short to hold any payload.
std::vector<ScriptedReport> CutIntoReports(const Case& c) {
    std::vector<ScriptedReport> reports;
    size_t sent = 0;
    size_t turn = 0;
    size_t sentAtTurnStart = 0;
    bool wholeReports = c.splits.empty();
    while (sent < c.stream.size()) {
        // A whole turn through the split bytes that moved nothing would go
        // on for ever: then whole reports carry the rest.
        if (!wholeReports && turn == c.splits.size()) {
            wholeReports = sent == sentAtTurnStart;
            turn = 0;
            sentAtTurnStart = sent;
        }
        size_t piece = kHidMaxPayload;
        unsigned shape = 0;
        if (!wholeReports) {
            const uint8_t split = c.splits[turn++];
            piece = split % (kHidMaxPayload + 1);
            shape = split / (kHidMaxPayload + 1);
        }
        piece = std::min(piece, c.stream.size() - sent);
        ScriptedReport report;
        std::memset(report.bytes, kStale, sizeof report.bytes);
        report.bytes[kHidReportIdOffset] = 0;
        report.bytes[kHidCountOffset] = static_cast<uint8_t>(piece);
        switch (shape) {
            case 0:
                report.received = kHidReportSize;
                break;
            case 1:
                report.received = kHidPayloadOffset + piece;
                break;
            case 2:
                report.bytes[kHidCountOffset] = 0xFF;
                report.received = kHidPayloadOffset + piece;
                break;
            case 3:
                report.result = HidIoResult::TimedOut;
                piece = 0;
                break;
            default:
                report.received = piece % (kHidPayloadOffset + 1);
                piece = 0;
                break;
        }
        if (report.result == HidIoResult::Ok && report.received <= kHidPayloadOffset) {
            piece = 0;
        }
        std::memcpy(report.bytes + kHidPayloadOffset, c.stream.data() + sent, piece);
        sent += piece;
        reports.push_back(report);
    }
    return reports;
}

class ScriptedHidDevice final : public HidReportDevice {
public:
    explicit ScriptedHidDevice(std::vector<ScriptedReport> reports)
        : reports_(std::move(reports)) {}

    HidIoResult WriteReport(const uint8_t*, uint32_t) override { return HidIoResult::Ok; }

    HidIoResult ReadReport(uint8_t* report, std::size_t* received, uint32_t) override {
        *received = 0;
        if (next_ >= reports_.size()) {
            return HidIoResult::Failed;  // the device is gone: the stream has ended
        }
        const ScriptedReport& scripted = reports_[next_++];
        if (scripted.result != HidIoResult::Ok) {
            return scripted.result;
        }
        std::memcpy(report, scripted.bytes, kHidReportSize);
        *received = scripted.received;
        return HidIoResult::Ok;
    }

private:
    std::vector<ScriptedReport> reports_;
    size_t next_ = 0;
};

class ScriptedHidBackend final : public HidBackend {
public:
    explicit ScriptedHidBackend(std::vector<ScriptedReport> reports)
        : reports_(std::move(reports)) {}

    std::vector<HidDeviceInfo> ListDevices() override { return {HidDeviceInfo{1, 2, "fuzz"}}; }

    std::unique_ptr<HidReportDevice> OpenDevice(const HidDeviceInfo&) override {
        return std::make_unique<ScriptedHidDevice>(std::move(reports_));
    }

private:
    std::vector<ScriptedReport> reports_;
};

void PrepareChannel(COM_Class& channel, const Case& c) {
    channel.MarkerSet = c.markerRow;
    channel.CipherEnabled = c.cipher ? 1 : 0;
    // The counter goes up by one before the request is framed.
    channel.RequestFrame[1] = static_cast<uint8_t>(c.sequence - 1);
}

int Transact(COM_Class& channel, const Case& c, int32_t* detail) {
    const uint8_t id = 5;
    return channel.Transact(c.address, kDeviceIdFunction, kDeviceIdCommand, kDeviceIdLength, &id,
                            kTimeoutMs, detail);
}

void CheckAnswer(const Case& c, const reply_model::Outcome& model, int endOfStream,
                 const COM_Class& channel, int answer, int32_t detail) {
    if (model.result == 0) {
        FUZZ_CHECK(answer == endOfStream);
    } else if (model.result < 0) {
        FUZZ_CHECK(answer == model.result);
    } else if (c.cipher) {
        // The data is deciphered before it is read: only its length is
        // known here.
        int32_t ignored = 0;
        const int expected = reply_model::TransactResult(model, &ignored);
        FUZZ_CHECK(answer == expected);
    } else {
        int32_t modelDetail = -1;
        FUZZ_CHECK(answer == reply_model::TransactResult(model, &modelDetail));
        FUZZ_CHECK(answer != -20 || detail == modelDetail);
    }
    // What the channel keeps of the reply, also after a failure.
    FUZZ_CHECK(channel.ReplyLength == (model.countSeen ? model.count : 0));
    const uint32_t resultByte = model.resultByteSeen ? model.resultByte : 0;
    FUZZ_CHECK(channel.ReplyResult == (model.result > 0 ? (resultByte & 0x7F) : resultByte));
    if (!c.cipher && !model.data.empty()) {
        FUZZ_CHECK(std::memcmp(channel.ReplyData, model.data.data(), model.data.size()) == 0);
    }
}

void OverTcp(const Case& c, const reply_model::Outcome& model) {
    int pair[2];
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) == 0);
    PieceFeeder feeder(pair[1], c);
    int answer = 0;
    int32_t detail = -1;
    {
        std::unique_ptr<COM_Class> channel(new COM_Class);
        PrepareChannel(*channel, c);
        channel->Kind = TransportKind::Tcp;
        channel->Socket = pair[0];
        channel->SocketOpen = 1;
        channel->Events = &feeder;
        answer = Transact(*channel, c, &detail);
        CheckAnswer(c, model, kPeerClosed, *channel, answer, detail);
        channel->Close();
        FUZZ_CHECK(channel->SocketOpen == 0);
    }
    close(pair[1]);
}

void OverHid(const Case& c, const reply_model::Outcome& model) {
    ScriptedHidBackend backend(CutIntoReports(c));
    HidBackend* previous = SetHidBackend(&backend);
    std::unique_ptr<COM_Class> channel(new COM_Class);
    PrepareChannel(*channel, c);
    channel->Kind = TransportKind::Hid;
    channel->VendorId = 1;
    channel->ProductId = 2;
    FUZZ_CHECK(channel->Open(0) == 0);
    int32_t detail = -1;
    const int answer = Transact(*channel, c, &detail);
    CheckAnswer(c, model, kHidReadFailed, *channel, answer, detail);
    channel->Close();
    SetHidBackend(previous);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    Case c;
    c.address = input.LittleEndian32();
    c.sequence = input.Byte();
    const uint8_t flags = input.Byte();
    c.markerRow = flags & 1;
    c.cipher = (flags & 2) != 0;
    c.splits = input.Bytes(input.Byte());
    c.stream = input.Rest();

    const FrameMarkers& markers = MarkersFor(c.markerRow);
    const reply_model::Outcome model =
        reply_model::Parse(c.stream, {c.address, c.sequence, markers.replyStart, markers.end});
    OverTcp(c, model);
    OverHid(c, model);
    return 0;
}
