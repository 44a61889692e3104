// SortDeviceTable on a full table: 255 records of 23 bytes, the most a table
// holds. Target: well under 1 ms per sort.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "discovery/DeviceTable.h"
#include "discovery/SortDeviceTable.h"

namespace {

constexpr size_t kRecordLength = 23;

// `distinctKeys` different MACs and IPs spread over the records at random.
void FillTable(uint8_t* table, unsigned distinctKeys) {
    std::memset(table, 0, kDeviceTableSize);
    std::mt19937 random(3195);
    size_t position = ResetDeviceTable(table);
    uint8_t record[kRecordLength] = {};
    for (unsigned i = 0; i < kMaxDeviceRecords; ++i) {
        const unsigned key = random() % distinctKeys;
        for (size_t b = 0; b < kRecordLength; ++b) {
            record[b] = static_cast<uint8_t>(random());
        }
        record[4] = record[10] = static_cast<uint8_t>(key >> 8);
        record[5] = record[11] = static_cast<uint8_t>(key);
        record[0] = record[1] = record[2] = record[3] = 0;
        record[8] = 192;
        record[9] = 168;
        AppendDeviceRecord(table, kDeviceTableSize, &position, record, kRecordLength);
    }
}

void BM_SortDeviceTable(benchmark::State& state) {
    const uint8_t order = static_cast<uint8_t>(state.range(0));
    static uint8_t unsorted[kDeviceTableSize];
    FillTable(unsorted, static_cast<unsigned>(state.range(1)));
    for (auto _ : state) {
        std::memcpy(DeviceTable, unsorted, kDeviceTableSize);
        SortDeviceTable(order);
        benchmark::DoNotOptimize(DeviceTable);
    }
    state.SetLabel(std::to_string(DeviceTableCount(DeviceTable)) + " records");
}

// Each order, with all keys different and with many equal keys.
BENCHMARK(BM_SortDeviceTable)
    ->ArgNames({"order", "keys"})
    ->Args({MacAscending, 65536})
    ->Args({MacDescending, 65536})
    ->Args({IpAscending, 65536})
    ->Args({IpDescending, 65536})
    ->Args({MacAscending, 4})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
