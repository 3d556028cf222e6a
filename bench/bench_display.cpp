// Redrawing the seismogram display offscreen: 24 traces of one hour at 40 samples/s and of one
// day at 100 samples/s in a 1600x1000 view, against a naive drawing of one line segment per
// sample of the same data.
#include "WidgetBenchMain.h"
#include "BenchData.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/plot/TraceEnvelope.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPolygonF>

#include <benchmark/benchmark.h>

namespace {

const QSize kSize(1600, 1000);
constexpr int kTraces = 24;

struct Scene {
    QuilmRealTimeDisplayView02::WaveformList list;
    QuilmRealTimeDisplayView02 view;
    QImage image{kSize, QImage::Format_RGB32};

    explicit Scene(const BenchCase& c) {
        for (int k = 0; k < kTraces; ++k) {
            auto s = std::make_unique<SacObject>(
                benchTrace(c.samples, c.delta, static_cast<std::uint32_t>(k + 1)));
            const float rms = static_cast<float>(s->simpleRMS());
            s->ScaleAmplitudes(1.0f / rms);
            s->setLabelString("IU ANMO BHZ " + std::to_string(k));
            list.push_back(std::move(s));
        }
        view.setWvfrmsArray(&list);
        view.setRefDate(list.front()->startTime());
        view.setTitle("Benchmark");
        view.setXLabelString("Time (seconds)");
        view.computePlotLimits();
    }
    void draw() {
        QPainter p(&image);
        view.render(p, kSize);
    }
};

const BenchCase& caseOf(const benchmark::State& state) {
    return state.range(0) == 0 ? kHour40 : kDay100;
}

// A repaint with nothing changed (an expose): the per-column envelopes come from the cache.
void BM_RedrawCached(benchmark::State& state) {
    Scene scene(caseOf(state));
    scene.draw();
    for (auto _ : state)
        scene.draw();
    state.SetLabel(caseOf(state).name);
}

// The first paint after new data (every monitor refresh): envelopes rebuilt from the samples.
void BM_RedrawNewData(benchmark::State& state) {
    Scene scene(caseOf(state));
    for (auto _ : state) {
        state.PauseTiming();
        for (auto& s : scene.list)
            s->ScaleAmplitudes(1.0f); // same samples, new revision: nothing cached applies
        state.ResumeTiming();
        scene.draw();
    }
    state.SetLabel(caseOf(state).name);
}

// The axis changed (resize, new limits): envelopes recomputed from the block summaries.
void BM_RedrawNewAxis(benchmark::State& state) {
    Scene scene(caseOf(state));
    scene.draw();
    double shift = 0;
    for (auto _ : state) {
        shift = shift == 0 ? 1 : 0;
        scene.view.setXLimitsMin(static_cast<float>(shift),
                                 static_cast<float>(scene.view.axisRight() + shift));
        scene.draw();
    }
    state.SetLabel(caseOf(state).name);
}

// New data whose block summaries were made where the traces were processed (off the GUI
// thread), as the retrieval cycle hands them over: the first paint only reduces them.
void BM_RedrawNewDataSummarised(benchmark::State& state) {
    Scene scene(caseOf(state));
    for (auto _ : state) {
        state.PauseTiming();
        for (auto& s : scene.list) {
            s->ScaleAmplitudes(1.0f);
            scene.view.adoptSummary(s->identity(), s->revision(),
                                    std::make_shared<const plot::BlockSummary>(
                                        plot::summarise(s->samples())));
        }
        state.ResumeTiming();
        scene.draw();
    }
    state.SetLabel(caseOf(state).name);
}

// One step of zooming about a point (the wheel), in and out by turns, then the redraw.
void BM_ZoomStep(benchmark::State& state) {
    Scene scene(caseOf(state));
    scene.draw();
    const double about = 0.6 * scene.view.axisRight();
    bool in = true;
    for (auto _ : state) {
        scene.view.zoomBy(in ? 0.8 : 1.25, about);
        in = !in;
        scene.draw();
    }
    state.SetLabel(caseOf(state).name);
}

// One step of panning a zoomed view (a drag), then the redraw.
void BM_PanStep(benchmark::State& state) {
    Scene scene(caseOf(state));
    scene.view.zoomTo(0.25 * scene.view.axisRight(), 0.75 * scene.view.axisRight());
    scene.draw();
    double step = 0.01 * scene.view.axisRight();
    for (auto _ : state) {
        scene.view.panBy(step);
        step = -step;
        scene.draw();
    }
    state.SetLabel(caseOf(state).name);
}

// The comparison: every sample a vertex of one polyline per trace.
void BM_RedrawNaive(benchmark::State& state) {
    Scene scene(caseOf(state));
    const QRect plot = scene.view.plotRect(kSize);
    const double left = scene.view.axisLeft(), right = scene.view.axisRight();
    for (auto _ : state) {
        QPainter p(&scene.image);
        p.fillRect(scene.image.rect(), Qt::white);
        p.setPen(Qt::black);
        const double band = static_cast<double>(plot.height()) / kTraces;
        for (int k = 0; k < kTraces; ++k) {
            const SacObject& s = *scene.list[static_cast<std::size_t>(k)];
            const double centre = plot.top() + (k + 0.5) * band;
            QPolygonF line;
            line.reserve(static_cast<qsizetype>(s.samples().size()));
            for (std::size_t i = 0; i < s.samples().size(); ++i) {
                const double t = static_cast<double>(i) * s.delta();
                line << QPointF(QuilmRealTimeDisplayView02::timeToX(t, left, right, plot),
                                centre - s.samples()[i] * band / 6);
            }
            p.drawPolyline(line);
        }
    }
    state.SetLabel(caseOf(state).name);
}

} // namespace

BENCHMARK(BM_RedrawCached)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedrawNewAxis)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedrawNewData)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedrawNewDataSummarised)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZoomStep)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PanStep)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedrawNaive)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RedrawNaive)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    return runWidgetBenchmarks(argc, argv);
}
