// The live display under a steady stream: 24 channels at 40 samples/s from the demo's SeedLink
// server (in a child process, so its work is not counted) into the real windows and controller
// (offscreen). Reported after a warm-up: the time from each record's arrival on the socket to
// the end of the paint that shows it (median, 99th percentile), the share of one core the
// application used, and its resident memory at the start and the end of the measured span.
// GS_STREAM_SECONDS sets the span (default 60; 1800 for the half-hour memory run) and
// GS_STREAM_WINDOW_MINUTES the monitor window (default 60; 10 is full from the start, since the
// server holds ten minutes, so memory can be seen flat). GS_STREAM_LIVE=window draws the streamed
// rows with the whole-window chain instead of the causal one; GS_STREAM_CHANNELS=N streams N
// channels at 100 samples/s instead (the scale run). A 10 ms timer on the GUI thread reports how
// late its worst tick came.
#include "DemoSeedLink.h"
#include "ProcessMemory.h"
#include "WidgetBenchMain.h"
#include "DemoService.h"
#include "app/WindowLayout.h"
#include "app/groundswayController.h"

#include <httplib.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

namespace {

double residentMegabytes() {
    return static_cast<double>(residentKiB()) / 1024.0;
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int scaleChannels() {
    return qEnvironmentVariableIntValue("GS_STREAM_CHANNELS");
}

// 24 channels at 40 samples/s, or GS_STREAM_CHANNELS of them at 100 samples/s.
demo::SeedLinkServer::Options streamOptions() {
    demo::SeedLinkServer::Options options;
    if (scaleChannels() > 0) {
        options.channelCount = scaleChannels();
        options.rate = 100;
        options.recordSeconds = 4; // about what a 512-byte Steim-2 record holds at 100 samples/s
        options.backlog = std::chrono::seconds(120);
        return options;
    }
    options.recordSeconds = 10; // about what a 512-byte Steim-2 record holds at 40 samples/s
    options.channels = {"SHZ", "SHN", "SHE"};
    return options;
}

// The servers run in a child that ends when the parent closes its end of the pipe.
std::pair<int, int> startServers(pid_t* child) {
    int ports[2], alive[2];
    if (pipe(ports) != 0 || pipe(alive) != 0)
        return {0, 0};
    *child = fork();
    if (*child == 0) {
        close(ports[0]);
        close(alive[1]);
        demo::DemoService http(std::chrono::system_clock::now());
        const int httpPort = http.server().bind_to_any_port("127.0.0.1");
        std::thread serving([&] { http.server().listen_after_bind(); });
        demo::SeedLinkServer seedLink(std::chrono::system_clock::now(), http.quakes(),
                                      streamOptions());
        seedLink.start(0);
        const int both[2] = {httpPort, seedLink.port()};
        (void)!write(ports[1], both, sizeof both);
        char c;
        while (read(alive[0], &c, 1) > 0) {
        }
        seedLink.stop();
        http.server().stop();
        serving.join();
        _exit(0);
    }
    close(ports[1]);
    close(alive[0]);
    int both[2] = {0, 0};
    (void)!read(ports[0], both, sizeof both);
    return {both[0], both[1]};
}

void StreamToScreen(benchmark::State& state) {
    const int seconds = qEnvironmentVariableIntValue("GS_STREAM_SECONDS") > 0
                            ? qEnvironmentVariableIntValue("GS_STREAM_SECONDS")
                            : 60;
    QTemporaryDir home;
    pid_t child = 0;
    const auto [httpPort, seedLinkPort] = startServers(&child);
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(httpPort);
    const QString support = home.path() + QStringLiteral("/.local/share/Groundsway");
    QDir().mkpath(support + QStringLiteral("/ChannelLists"));
    QDir().mkpath(home.path() + QStringLiteral("/.config/Groundsway"));
    auto write = [](const QString& path, const QByteArray& text) {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(text);
    };
    write(home.path() + QStringLiteral("/.config/Groundsway/Groundsway.conf"),
          QStringLiteral("[General]\ntimeSeriesServiceURL=%1\neventServiceURL=%1\nstationServiceURL=%1\n"
                         "dataSource=seedLink\nseedLinkServer=127.0.0.1:%2\nmonitorDurationMinutes=%3\n"
                         "liveProcessing=%4\n")
              .arg(base)
              .arg(seedLinkPort)
              .arg(qEnvironmentVariableIntValue("GS_STREAM_WINDOW_MINUTES") > 0
                       ? qEnvironmentVariableIntValue("GS_STREAM_WINDOW_MINUTES")
                       : 60)
              .arg(qEnvironmentVariable("GS_STREAM_LIVE", QStringLiteral("causal")))
              .toUtf8());
    QByteArray list = "Title;24 channels at 40 samples/s\n";
    int n = 0;
    for (const demo::Station& s : demo::stations()) {
        for (const char* c : {"SHZ", "SHN", "SHE"})
            if (n++ < 24)
                list += QByteArray::fromStdString(s.network + ";" + s.station + ";" + c + ";" +
                                                  (s.location.empty() ? "--" : s.location) + ";" +
                                                  s.siteName + "\n");
    }
    if (scaleChannels() > 0)
        list = QByteArray::fromStdString(
            demo::SeedLinkServer(std::chrono::system_clock::now(), {}, streamOptions())
                .channelList("Many channels at 100 samples/s"));
    write(support + QStringLiteral("/ChannelLists/Bench.txt"), list);
    write(support + QStringLiteral("/defaultChannelListName.txt"), "Bench.txt");
    write(support + QStringLiteral("/autoUpdate.txt"), "");
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/.local/share")).toUtf8());

    for (auto _ : state) {
        WindowLayout layout;
        groundswayController controller;
        controller.connectOutlets(layout.outlets(), layout.actions());
        controller.awakeFromNib();
        layout.seismogramWindow()->resize(1280, 860);
        layout.seismogramWindow()->show();
        controller.applicationDidFinishLaunching();
        QTest::qWait(20000); // backfill, connection, the ring's backlog drawn
        const std::size_t warm = controller.arrivalToPixelsMs().size();
        const double rssStart = residentMegabytes();
        const double cpuStart = cpuSeconds();
        const auto wallStart = std::chrono::steady_clock::now();
        double rssPeak = rssStart;
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, [&] { rssPeak = std::max(rssPeak, residentMegabytes()); });
        sampler.start(5000);
        // A 10 ms timer on the GUI thread: how late its worst tick came.
        QTimer probe;
        auto lastTick = std::chrono::steady_clock::now();
        double worstLateMs = 0;
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const auto now = std::chrono::steady_clock::now();
            worstLateMs = std::max(
                worstLateMs, std::chrono::duration<double, std::milli>(now - lastTick).count() - 10.0);
            lastTick = now;
        });
        probe.setTimerType(Qt::PreciseTimer);
        probe.start(10);
        QTest::qWait(seconds * 1000);
        probe.stop();
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        const double cpu = cpuSeconds() - cpuStart;
        const auto& all = controller.arrivalToPixelsMs();
        std::vector<double> latencies(all.begin() + static_cast<std::ptrdiff_t>(std::min(warm, all.size())),
                                      all.end());
        std::sort(latencies.begin(), latencies.end());
        auto at = [&](double q) {
            return latencies.empty() ? 0.0
                                     : latencies[std::min(latencies.size() - 1,
                                                          static_cast<std::size_t>(q * static_cast<double>(latencies.size())))];
        };
        state.counters["records"] = static_cast<double>(latencies.size());
        state.counters["arrival_to_pixels_median_ms"] = at(0.5);
        state.counters["arrival_to_pixels_p99_ms"] = at(0.99);
        state.counters["cpu_percent_of_one_core"] = 100.0 * cpu / wall;
        state.counters["rss_start_MB"] = rssStart;
        state.counters["rss_end_MB"] = residentMegabytes();
        state.counters["rss_peak_MB"] = rssPeak;
        state.counters["gui_probe_worst_late_ms"] = worstLateMs;
        controller.toggleAutoUpdate(nullptr);
    }
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
}
BENCHMARK(StreamToScreen)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    return runWidgetBenchmarks(argc, argv);
}
