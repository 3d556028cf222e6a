// The cost of an earthquake's context: reading an Earth model, the arrivals of every phase at a
// station (for a depth seen before and for a new one), a distance and a region.
#include "geo/EmbeddedData.h"
#include "geo/FlinnEngdahl.h"
#include "geo/Geodesy.h"
#include "geo/TravelTimes.h"

#include <benchmark/benchmark.h>

namespace {

void BM_ReadModel(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(geo::TravelTimes::fromTvel(geo::embedded::iasp91Tvel(), "iasp91"));
}
BENCHMARK(BM_ReadModel)->Unit(benchmark::kMillisecond);

// A depth already asked for: the source legs are cached.
void BM_AllPhasesKnownDepth(benchmark::State& state) {
    const auto model = geo::TravelTimes::model("iasp91");
    model->arrivals(33, 50);
    double distance = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(model->arrivals(33, distance));
        distance = distance >= 179 ? 1 : distance + 7.3;
    }
}
BENCHMARK(BM_AllPhasesKnownDepth)->Unit(benchmark::kMicrosecond);

// A new depth every time (more depths than the cache holds), as for each new earthquake.
void BM_AllPhasesNewDepth(benchmark::State& state) {
    const auto model = geo::TravelTimes::fromTvel(geo::embedded::iasp91Tvel(), "iasp91");
    double depth = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(model->arrivals(depth, 63));
        depth = depth >= 690 ? 0.5 : depth + 11.7;
    }
}
BENCHMARK(BM_AllPhasesNewDepth)->Unit(benchmark::kMicrosecond);

void BM_DistanceAndAzimuths(benchmark::State& state) {
    double lon = -180;
    for (auto _ : state) {
        benchmark::DoNotOptimize(geo::bearing(38.3, 142.4, -33.9, lon));
        lon = lon >= 180 ? -180 : lon + 0.37;
    }
}
BENCHMARK(BM_DistanceAndAzimuths);

void BM_Region(benchmark::State& state) {
    geo::flinnEngdahlRegion(0, 0);
    double lon = -180;
    for (auto _ : state) {
        benchmark::DoNotOptimize(geo::flinnEngdahlRegion(-21.2, lon));
        lon = lon >= 180 ? -180 : lon + 0.37;
    }
}
BENCHMARK(BM_Region);

} // namespace

BENCHMARK_MAIN();
