#pragma once

#include <QApplication>

#include <benchmark/benchmark.h>

// main() of a benchmark that needs widgets: an offscreen QApplication around the runs.
inline int runWidgetBenchmarks(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
