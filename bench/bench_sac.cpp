// Decoding and the two processing chains with their default settings (filter on, decimation by
// 2), on one hour at 40 samples/s and one day at 100 samples/s. bench/scipy_chain.py times the
// same work with SciPy.
#include "BenchData.h"

#include <benchmark/benchmark.h>

namespace {

const BenchCase* caseOf(const benchmark::State& state) {
    return state.range(0) == 0 ? &kHour40 : &kDay100;
}

void scaleToUnitRms(SacObject& s) {
    const float rms = static_cast<float>(s.simpleRMS());
    s.ScaleAmplitudes(rms == 0.0f ? 0.0f : 1.0f / rms);
}

void BM_Decode(benchmark::State& state) {
    const BenchCase* c = caseOf(state);
    const auto bytes = benchTrace(c->samples, c->delta).encode();
    for (auto _ : state) {
        SacObject s;
        benchmark::DoNotOptimize(s.initWithNSData(bytes, "bench.sac"));
        benchmark::DoNotOptimize(s.isSacFile());
        s.ComputeExtrema();
    }
    state.SetLabel(c->name);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes.size()));
}

// Times `work` on a fresh trace of the case's data at every iteration.
void onFreshTrace(benchmark::State& state, void (*work)(SacObject&)) {
    const BenchCase* c = caseOf(state);
    const std::vector<float> samples = benchSamples(c->samples, c->delta);
    for (auto _ : state) {
        state.PauseTiming();
        SacObject s = SacObject::fromSamples(samples, c->delta, SacObject::Date{});
        state.ResumeTiming();
        work(s);
        benchmark::DoNotOptimize(s.samples().data());
    }
    state.SetLabel(c->name);
}

// Broadband defaults: the -10 Hz low-pass is skipped, high-pass at 0.005 Hz, decimation by 2
// followed by the second detrend.
void BM_BroadbandChain(benchmark::State& state) {
    onFreshTrace(state, [](SacObject& s) {
        s.SubtractLinearTrend();
        s.RemoveMean();
        s.Taper(0.05f);
        s.LPBUfilter(-10.0f, 2, 2);
        s.HPBUfilter(0.005f, 2, 2);
        s.Decimate(2);
        s.SubtractLinearTrend();
        s.RemoveMean();
        scaleToUnitRms(s);
    });
}

// Long-period defaults: low-pass 0.05 Hz, high-pass 0.002 Hz, decimation by 2.
void BM_LongPeriodChain(benchmark::State& state) {
    onFreshTrace(state, [](SacObject& s) {
        s.SubtractLinearTrend();
        s.RemoveMean();
        s.Taper(0.05f);
        s.LPBUfilter(0.05f, 2, 2);
        s.HPBUfilter(0.002f, 2, 2);
        s.Decimate(2);
        scaleToUnitRms(s);
    });
}

// The pieces, for seeing where the time goes.
void BM_Step(benchmark::State& state, void (*step)(SacObject&)) {
    onFreshTrace(state, step);
}

} // namespace

BENCHMARK(BM_Decode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BroadbandChain)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LongPeriodChain)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Step, detrend, [](SacObject& s) { s.SubtractLinearTrend(); })
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Step, taper, [](SacObject& s) { s.Taper(0.05f); })
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Step, highpass2pass, [](SacObject& s) { s.HPBUfilter(0.005f, 2, 2); })
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Step, decimate2, [](SacObject& s) { s.Decimate(2); })
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Step, wwssnLongPeriod, [](SacObject& s) { s.ConvolveInstrument(1); })
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Step, wwssnShortPeriod, [](SacObject& s) { s.ConvolveInstrument(2); })
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
