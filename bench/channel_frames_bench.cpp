// Frame build and reply parse for the Set ID transaction, without a transport:
// what the tool spends on its own per request.
#include <benchmark/benchmark.h>

#include "channel/COM_Class.h"
#include "channel/ReplyParser.h"
#include "channel/RequestFrame.h"

namespace {

// The device's answer to the first Set ID of a run (ID 5, result 0).
const uint8_t kSetIdReply[] = {0x91, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01,
                               0x00, 0xFE, 0x01, 0x05, 0x69, 0xCD, 0x03};

void BuildSetIdFrame(benchmark::State& state) {
    uint8_t frame[kRequestFrameSize];
    const uint8_t id = 5;
    uint8_t sequence = 0;
    for (auto _ : state) {
        const RequestFields fields{++sequence, 1, 2, 90, &id, 1};
        benchmark::DoNotOptimize(BuildRequestFrame(frame, MarkersFor(0), fields, nullptr));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BuildSetIdFrame);

void ParseSetIdReply(benchmark::State& state) {
    static COM_Class channel;
    channel.SentAddress = 1;
    channel.SentSequence = 1;
    int result = 0;
    for (auto _ : state) {
        ReplyParser parser(channel);
        for (uint8_t byte : kSetIdReply) {
            result = parser.Feed(byte);
        }
        benchmark::DoNotOptimize(result);
    }
    if (result != 1) {
        state.SkipWithError("the reply did not parse");
    }
}
BENCHMARK(ParseSetIdReply);

void BuildAndParseSetId(benchmark::State& state) {
    static COM_Class channel;
    const uint8_t id = 5;
    int result = 0;
    for (auto _ : state) {
        const RequestFields fields{1, 1, 2, 90, &id, 1};
        benchmark::DoNotOptimize(
            BuildRequestFrame(channel.RequestFrame, MarkersFor(0), fields, nullptr));
        channel.SentAddress = 1;
        channel.SentSequence = 1;
        ReplyParser parser(channel);
        for (uint8_t byte : kSetIdReply) {
            result = parser.Feed(byte);
        }
        benchmark::DoNotOptimize(result);
    }
    if (result != 1) {
        state.SkipWithError("the reply did not parse");
    }
}
BENCHMARK(BuildAndParseSetId);

}  // namespace

BENCHMARK_MAIN();
