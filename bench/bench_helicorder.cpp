// The drum of a day at 100 samples/s: processing it block by block, drawing every row at
// 1600x1000, redrawing after a new minute, and what it holds in memory. bench_sac times the
// chain on the whole day in one piece, beside bench/scipy_chain.py.
#include "ProcessMemory.h"
#include "WidgetBenchMain.h"
#include "components/HelicorderView.h"
#include "processing/DrumProcessing.h"
#include "store/TraceStore.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cmath>
#include <fstream>
#include <string>

namespace {

const Time kNow = civil::dateOf(2026, 12, 8, 6, 30, 0);
constexpr double kRate = 100;

std::vector<float> wiggle(std::size_t n, double phase) {
    std::vector<float> x(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate + phase;
        x[i] = static_cast<float>(300 * std::sin(2 * 3.14159 * t / 7) + 120 * std::sin(t / 2.3) +
                                  20 * std::sin(t * 13.1) + 0.001 * t + 40);
    }
    return x;
}

ProcessingOptions broadband() {
    ProcessingOptions o;
    o.broadband = {true, -10, 0.005f, false, false, false, 1, false};
    return o;
}

HelicorderView::Rows dayRows() {
    return HelicorderView::Rows::ending(kNow, 24, 30);
}

// A day of processed hourly blocks, full rate.
std::vector<std::pair<Time, std::shared_ptr<const Segment>>> dayOfBlocks() {
    std::vector<std::pair<Time, std::shared_ptr<const Segment>>> out;
    const auto rows = dayRows();
    for (int h = 0; h < 24; ++h) {
        auto s = std::make_shared<Segment>();
        s->start = civil::addSeconds(rows.first, h * 3600.0);
        s->delta = 1 / kRate;
        s->samples = wiggle(static_cast<std::size_t>(3600 * kRate), h * 3600.0);
        out.emplace_back(s->start, std::move(s));
    }
    return out;
}

// The chain on every hourly block of the day with its margins, one after another.
void BM_ProcessDayInBlocks(benchmark::State& state) {
    const auto rows = dayRows();
    Segment raw;
    raw.channel = {"IU", "ANMO", "00", "BHZ"};
    raw.delta = 1 / kRate;
    raw.start = civil::addSeconds(rows.first, -drum::kMarginSeconds);
    raw.samples = wiggle(static_cast<std::size_t>((24 * 3600 + drum::kMarginSeconds) * kRate), 0);
    for (auto _ : state) {
        for (int h = 0; h < 24; ++h) {
            const Time from = civil::addSeconds(rows.first, h * 3600.0);
            const auto a = static_cast<std::size_t>(h * 3600 * kRate);
            const auto b = std::min(raw.samples.size(), a + static_cast<std::size_t>((3600 + 2 * drum::kMarginSeconds) * kRate));
            Segment piece;
            piece.channel = raw.channel;
            piece.delta = raw.delta;
            piece.start = civil::addSeconds(raw.start, static_cast<double>(a) / kRate);
            piece.samples.assign(raw.samples.begin() + static_cast<std::ptrdiff_t>(a),
                                 raw.samples.begin() + static_cast<std::ptrdiff_t>(b));
            benchmark::DoNotOptimize(drum::process({piece}, from, civil::addSeconds(from, 3600), broadband()));
        }
    }
}
BENCHMARK(BM_ProcessDayInBlocks)->Unit(benchmark::kMillisecond);

// Every row summarised and drawn: the drum as it first appears, or after the scale changes.
void BM_DrawWholeDrum(benchmark::State& state) {
    const QSize size(1600, 1000);
    HelicorderView view;
    view.resize(size);
    view.setRows(dayRows());
    for (const auto& [from, run] : dayOfBlocks())
        view.setBlock(from, civil::addSeconds(from, 3600), {run});
    QImage image(size, QImage::Format_RGB32);
    double rms = 200;
    for (auto _ : state) {
        view.setCommonRms(rms += 1); // everything out of date
        QPainter p(&image);
        view.render(p, size);
    }
}
BENCHMARK(BM_DrawWholeDrum)->Unit(benchmark::kMillisecond);

// A minute more in the newest block, then the widget brought up to date and shown.
void BM_NewMinute(benchmark::State& state) {
    const QSize size(1600, 1000);
    HelicorderView view;
    view.resize(size);
    view.setRows(dayRows());
    const auto blocks = dayOfBlocks();
    for (const auto& [from, run] : blocks)
        view.setBlock(from, civil::addSeconds(from, 3600), {run});
    view.setCommonRms(200);
    view.grab();
    const Time newest = blocks.back().first;
    const std::size_t minute = static_cast<std::size_t>(60 * kRate);
    std::size_t held = static_cast<std::size_t>(30 * 60 * kRate);
    for (auto _ : state) {
        state.PauseTiming();
        held = held + minute > blocks.back().second->samples.size() ? 30 * 60 * kRate : held + minute;
        auto run = std::make_shared<Segment>(*blocks.back().second);
        run->samples.resize(held);
        state.ResumeTiming();
        view.setBlock(newest, civil::addSeconds(newest, 3600), {run},
                      civil::addSeconds(run->end(), -7 * 60.0));
        benchmark::DoNotOptimize(view.grab());
    }
}
BENCHMARK(BM_NewMinute)->Unit(benchmark::kMillisecond);

// Resident memory of the drum's data: the raw day in its store, the processed blocks, the view
// and its drawing.
void BM_DrumMemory(benchmark::State& state) {
    for (auto _ : state) {
        const long before = residentKiB();
        TraceStore store(std::chrono::hours(26));
        const auto rows = dayRows();
        for (int h = -1; h < 24; ++h) {
            Segment s;
            s.channel = {"IU", "ANMO", "00", "BHZ"};
            s.start = civil::addSeconds(rows.first, h * 3600.0);
            s.delta = 1 / kRate;
            s.samples = wiggle(static_cast<std::size_t>(3600 * kRate), h * 3600.0);
            store.feed(s);
        }
        auto view = std::make_unique<HelicorderView>();
        view->resize(1600, 1000);
        view->setRows(rows);
        for (const auto& [from, run] : dayOfBlocks())
            view->setBlock(from, civil::addSeconds(from, 3600), {run});
        view->grab();
        state.counters["resident_MB"] = static_cast<double>(residentKiB() - before) / 1024.0;
        state.counters["raw_samples"] = static_cast<double>(store.sampleCount());
    }
}
BENCHMARK(BM_DrumMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return runWidgetBenchmarks(argc, argv);
}
