// The sample store under a day of records: 24 channels x 1 day at 40 samples/s in records of
// 400 samples (what a 512-byte Steim-2 record holds at this rate), inserted in arrival order and
// in random order; resident memory once all is held; a window of one hour read for all 24.
#include "ProcessMemory.h"
#include "store/TraceStore.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>

namespace {

constexpr int kChannels = 24;
constexpr double kDelta = 0.025;
constexpr int kPerRecord = 400;
constexpr int kRecordsPerChannel = 86400 / 10;
const Time kEnd = civil::dateOf(2026, 12, 8, 12, 0, 0);
const Time kStart = civil::addSeconds(kEnd, -86400);

ChannelId channel(int i) {
    return {QStringLiteral("XX"), QStringLiteral("S%1").arg(i), QStringLiteral("00"),
            QStringLiteral("BHZ")};
}

std::vector<Segment> records() {
    std::vector<Segment> out;
    out.reserve(kChannels * kRecordsPerChannel);
    std::vector<float> samples(kPerRecord);
    for (int r = 0; r < kRecordsPerChannel; ++r)
        for (int c = 0; c < kChannels; ++c) {
            for (int i = 0; i < kPerRecord; ++i)
                samples[static_cast<std::size_t>(i)] = static_cast<float>((r * kPerRecord + i) % 977);
            out.push_back({channel(c), civil::addSeconds(kStart, r * kPerRecord * kDelta), kDelta, samples});
        }
    return out;
}

std::unique_ptr<TraceStore> emptyStore() {
    auto store = std::make_unique<TraceStore>(std::chrono::hours(25));
    store->setClock([] { return kEnd; });
    return store;
}

void insertDay(benchmark::State& state, bool shuffled) {
    std::vector<Segment> pieces = records();
    if (shuffled)
        std::shuffle(pieces.begin(), pieces.end(), std::mt19937(20261208));
    const long before = residentKiB();
    long held = 0;
    for (auto _ : state) {
        auto store = emptyStore();
        for (const Segment& s : pieces)
            store->feed(s);
        held = residentKiB();
        state.counters["segments_per_channel"] = static_cast<double>(store->segmentCount(channel(0)));
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(pieces.size()));
    state.counters["ns_per_record"] = benchmark::Counter(
        static_cast<double>(pieces.size()), benchmark::Counter::kIsIterationInvariantRate |
                                                benchmark::Counter::kInvert);
    state.counters["store_MB"] = static_cast<double>(held - before) / 1024.0;
}

void BM_InsertDayInArrivalOrder(benchmark::State& state) {
    insertDay(state, false);
}
void BM_InsertDayInRandomOrder(benchmark::State& state) {
    insertDay(state, true);
}

void BM_ReadAnHourOfAll24(benchmark::State& state) {
    auto store = emptyStore();
    for (const Segment& s : records())
        store->feed(s);
    const Time from = civil::addSeconds(kEnd, -3600);
    for (auto _ : state) {
        std::size_t n = 0;
        for (int c = 0; c < kChannels; ++c)
            for (const Segment& s : store->segments(channel(c), from, kEnd))
                n += s.size();
        benchmark::DoNotOptimize(n);
    }
}

} // namespace

BENCHMARK(BM_InsertDayInArrivalOrder)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_InsertDayInRandomOrder)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ReadAnHourOfAll24)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
