// Retrieval cycles of 24 channels against the demo service on loopback: the wall time of one
// cycle one transfer after another against 2 and 4 at once, at 0, 100 and 250 ms of latency per
// answer; the bytes a steady monitor tick moves with whole windows and with tails; resident
// memory after 100 incremental ticks.
#include "ProcessMemory.h"
#include "DemoService.h"
#include "acquisition/RetrievalCycle.h"
#include "acquisition/TimeSeriesSource.h"
#include "base/DateText.h"
#include "store/TraceStore.h"

#include <httplib.h>

#include <QCoreApplication>
#include <QEventLoop>

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>
#include <thread>

namespace {

// The demo's 24 channels: every channel of every station.
ChannelTable demoChannels() {
    ChannelTable t;
    for (const demo::Station& s : demo::stations()) {
        for (const std::string& c : s.channels) {
            t.networks << QString::fromStdString(s.network);
            t.stations << QString::fromStdString(s.station);
            t.channels << QString::fromStdString(c);
            t.locations << (s.location.empty() ? QStringLiteral("--") : QString::fromStdString(s.location));
            t.labels << QString::fromStdString(s.siteName);
        }
    }
    return t;
}

class Service {
public:
    Service() : service_(std::chrono::system_clock::now()) {
        port_ = service_.server().bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { service_.server().listen_after_bind(); });
        while (!service_.server().is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~Service() {
        service_.server().stop();
        thread_.join();
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(port_); }
    void setLatency(int ms) { service_.setLatency(std::chrono::milliseconds(ms)); }

private:
    demo::DemoService service_;
    int port_ = 0;
    std::thread thread_;
};

Service& service() {
    static Service s;
    return s;
}

// Runs one cycle to its end with the event loop turning.
std::shared_ptr<CycleResult> runCycle(RetrievalCycle& cycle, CycleRequest request) {
    std::shared_ptr<CycleResult> result;
    QEventLoop loop;
    const auto c = QObject::connect(&cycle, &RetrievalCycle::finished, &loop,
                                    [&](std::shared_ptr<CycleResult> r) {
                                        result = std::move(r);
                                        loop.quit();
                                    });
    cycle.start(std::move(request));
    if (!result)
        loop.exec();
    QObject::disconnect(c);
    return result;
}

// A monitor window of `minutes` ending `end`.
CycleRequest monitorTick(Time end, int minutes, bool incremental) {
    CycleRequest r;
    r.channels = demoChannels();
    r.window = WindowRequest::of(WindowRequest::Mode::Monitor, civil::addSeconds(end, -60.0 * minutes), end);
    r.monitor = true;
    r.incremental = incremental;
    r.options.broadband = {.filter = true, .lowPassCorner = -10, .highPassCorner = 0.005f};
    r.options.longPeriod = {.filter = true, .lowPassCorner = 0.05f, .highPassCorner = 0.002f};
    return r;
}

// A day ago, so the demo has every sample of every window.
Time anchor() {
    static const Time t = civil::addSeconds(datetext::now(), -86400);
    return t;
}

// range(0): latency in ms; range(1): 0 one after another (inline), else transfers at once.
void BM_Cycle24Channels(benchmark::State& state) {
    service().setLatency(static_cast<int>(state.range(0)));
    TimeSeriesSource source;
    source.setServiceBase(service().base());
    const int transfers = static_cast<int>(state.range(1));
    source.setMode(transfers == 0 ? TimeSeriesSource::Mode::Inline
                                  : TimeSeriesSource::Mode::Pooled);
    source.setMaxConcurrentTransfers(std::max(1, transfers));
    TraceStore store(std::chrono::hours(2));
    RetrievalCycle cycle(source, store);
    cycle.setInlineProcessing(transfers == 0);
    for (auto _ : state) {
        const auto r = runCycle(cycle, monitorTick(anchor(), 60, false));
        if (!r || r->traces.size() != 24)
            state.SkipWithError("a channel failed");
    }
    state.SetLabel(transfers == 0 ? "sequential" : std::to_string(transfers) + " at once");
    service().setLatency(0);
}
BENCHMARK(BM_Cycle24Channels)
    ->ArgsProduct({{0, 100, 250}, {0, 2, 4}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// Steady monitoring: a 60-minute window every 120 s. range(0): 1 incremental, 0 whole windows.
void BM_SteadyTickBytes(benchmark::State& state) {
    TimeSeriesSource source;
    source.setServiceBase(service().base());
    TraceStore store(std::chrono::hours(2));
    RetrievalCycle cycle(source, store);
    const bool incremental = state.range(0) == 1;
    runCycle(cycle, monitorTick(anchor(), 60, incremental)); // the first tick fetches all
    int tick = 1;
    qint64 bytes = 0;
    for (auto _ : state) {
        const auto r = runCycle(cycle, monitorTick(civil::addSeconds(anchor(), 120.0 * tick++),
                                                   60, incremental));
        bytes += r->bytes;
    }
    state.counters["bytes_per_tick"] = static_cast<double>(bytes) / static_cast<double>(tick - 1);
    state.SetLabel(incremental ? "incremental" : "whole windows");
}
BENCHMARK(BM_SteadyTickBytes)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_ResidentAfter100Ticks(benchmark::State& state) {
    for (auto _ : state) {
        TimeSeriesSource source;
        source.setServiceBase(service().base());
        TraceStore store(std::chrono::hours(2));
        RetrievalCycle cycle(source, store);
        const long before = residentKiB();
        for (int tick = 0; tick < 100; ++tick)
            runCycle(cycle, monitorTick(civil::addSeconds(anchor(), 120.0 * tick), 60, true));
        state.counters["rss_start_MiB"] = static_cast<double>(before) / 1024.0;
        state.counters["rss_after_100_ticks_MiB"] = static_cast<double>(residentKiB()) / 1024.0;
        state.counters["stored_samples"] = static_cast<double>(store.sampleCount());
    }
}
BENCHMARK(BM_ResidentAfter100Ticks)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
