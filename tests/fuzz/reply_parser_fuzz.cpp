// The reply frame parser on any byte stream, checked against a second,
// whole-stream reading of the frame layout (ReplyModel.h): the same result at
// the same byte, a result that is a count or one of the parser's codes, the
// reply's parts stored as far as the parse got, nothing changed by bytes that
// come after the end, and the transaction's answer for a whole reply.
//
// Input: the expected address (4 bytes, little-endian), the expected sequence
// number, a flags byte (bit 0: marker row 1), then the stream.
#include <cstring>
#include <memory>

#include "channel/COM_Class.h"
#include "channel/ChannelResult.h"
#include "channel/FrameFormat.h"
#include "channel/ReplyParser.h"
#include "channel/ReplyResult.h"
#include "tests/fuzz/FuzzInput.h"
#include "tests/fuzz/ReplyModel.h"

namespace {

constexpr uint32_t kUntouched = 0xDEADBEEF;
constexpr uint8_t kUntouchedData = 0xCD;

bool IsParserCode(int result) {
    return result >= kReplyBadEnd && result <= kReplyWrongAddress;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint32_t address = input.LittleEndian32();
    const uint8_t sequence = input.Byte();
    const uint8_t markerRow = input.Byte() & 1;
    const reply_model::Bytes stream = input.Rest();

    const FrameMarkers& markers = MarkersFor(markerRow);
    const reply_model::Outcome model =
        reply_model::Parse(stream, {address, sequence, markers.replyStart, markers.end});

    // The reply buffer is exactly as large as the channel's, so a count that
    // slipped past its check would write out of it.
    std::unique_ptr<uint8_t[]> replyData(new uint8_t[kMaxReplyData]);
    std::memset(replyData.get(), kUntouchedData, kMaxReplyData);
    uint32_t length = kUntouched;
    uint32_t resultByte = kUntouched;
    ReplyFrameParser parser(ReplyExpectation{address, sequence, markers},
                            ReplySink{replyData.get(), &length, &resultByte});

    int result = 0;
    long finishedAt = -1;
    for (size_t n = 0; n < stream.size(); ++n) {
        result = parser.Feed(stream[n]);
        if (result != 0) {
            finishedAt = static_cast<long>(n);
            break;
        }
    }

    FUZZ_CHECK(result == model.result);
    FUZZ_CHECK(finishedAt == model.finishedAt);
    FUZZ_CHECK(result == 0 || (result > 0 && result <= static_cast<int>(kMaxReplyData)) ||
               IsParserCode(result));
    FUZZ_CHECK(parser.InsideFrame() ==
               (!stream.empty() &&
                std::memchr(stream.data(), markers.replyStart, stream.size()) != nullptr));

    // What arrived of the reply is where the channel keeps it.
    FUZZ_CHECK(model.resultByteSeen ? resultByte == model.resultByte : resultByte == kUntouched);
    FUZZ_CHECK(model.countSeen ? length == model.count : length == kUntouched);
    if (!model.data.empty()) {
        FUZZ_CHECK(std::memcmp(replyData.get(), model.data.data(), model.data.size()) == 0);
    }
    FUZZ_CHECK(model.data.size() == kMaxReplyData ||
               replyData[model.data.size()] == kUntouchedData);

    if (result != 0) {
        // A finished parse answers the same for every further byte and
        // stores nothing more.
        const uint8_t firstAfter = replyData[0];
        for (uint8_t extra : {markers.replyStart, uint8_t{0}, markers.end, uint8_t{0xFF}}) {
            FUZZ_CHECK(parser.Feed(extra) == result);
        }
        FUZZ_CHECK(model.countSeen ? length == model.count : length == kUntouched);
        FUZZ_CHECK(replyData[0] == firstAfter);
    }

    if (result > 0) {
        int32_t detail = -1;
        int32_t modelDetail = -1;
        const int answer = ReplyResultCode(resultByte & 0x7F, replyData.get(), length, &detail);
        FUZZ_CHECK(answer == reply_model::TransactResult(model, &modelDetail));
        FUZZ_CHECK(detail == modelDetail);
        FUZZ_CHECK(ReplyResultCode(resultByte, replyData.get(), length, nullptr) == answer);
    }
    return 0;
}
