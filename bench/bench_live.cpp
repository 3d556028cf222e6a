// What an arriving record costs: the causal chain on the record's own samples (a 512-byte
// record holds about 400) against the window chain on the hour the record lands in, at 40 and
// 100 samples/s, with the broadband defaults (high-pass 0.005 Hz, decimation by 2) and with every
// step on (band 0.01-4 Hz, both WWSSN instruments, decimation by 10, integration).
#include "BenchData.h"

#include "processing/LiveChain.h"
#include "processing/ProcessingChain.h"

#include <benchmark/benchmark.h>

namespace {

constexpr std::size_t kRecord = 400;

ProcessingOptions optionsOf(const benchmark::State& state) {
    ProcessingOptions o;
    o.broadband = state.range(1) == 0
                      ? ProcessingOptionSet{true, -10, 0.005f, false, false, true, 2, false}
                      : ProcessingOptionSet{true, 4, 0.01f, true, true, true, 10, true};
    return o;
}

double deltaOf(const benchmark::State& state) {
    return state.range(0) == 40 ? 0.025 : 0.01;
}

std::string labelOf(const benchmark::State& state) {
    return std::to_string(state.range(0)) + "sps " +
           (state.range(1) == 0 ? "defaults" : "everything");
}

// One record after another into a chain that has run for an hour already.
void BM_CausalPerRecord(benchmark::State& state) {
    const double delta = deltaOf(state);
    const std::vector<float> hour = benchSamples(static_cast<std::size_t>(3600 / delta), delta);
    processing::LiveChain chain(optionsOf(state), "BHZ");
    Segment s;
    s.channel = {"IU", "ANMO", "00", "BHZ"};
    s.delta = delta;
    s.start = civil::dateOf(2024, 1, 1, 0, 0, 0);
    s.samples = hour;
    chain.push(s);
    s.start = s.end();
    s.samples.assign(hour.begin(), hour.begin() + kRecord);
    std::size_t outputs = 0;
    for (auto _ : state) {
        const auto runs = chain.push(s);
        outputs += runs.empty() ? 0 : runs.front().samples.size();
        s.start = s.end();
    }
    benchmark::DoNotOptimize(outputs);
    state.SetLabel(labelOf(state));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kRecord));
}

// The window chain as each record makes it run today: the whole hour again, scaled.
void BM_WindowPerRecord(benchmark::State& state) {
    const double delta = deltaOf(state);
    const std::vector<float> hour = benchSamples(static_cast<std::size_t>(3600 / delta), delta);
    const ProcessingOptions options = optionsOf(state);
    for (auto _ : state) {
        state.PauseTiming();
        SacObject s = SacObject::fromSamples(hour, delta, civil::dateOf(2024, 1, 1, 0, 0, 0));
        s.header()->setText(sac::text::KCMPNM, "BHZ");
        state.ResumeTiming();
        processing::run(s, options);
        benchmark::DoNotOptimize(s.samples().data());
    }
    state.SetLabel(labelOf(state));
}

} // namespace

BENCHMARK(BM_CausalPerRecord)->ArgsProduct({{40, 100}, {0, 1}})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WindowPerRecord)->ArgsProduct({{40, 100}, {0, 1}})->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
