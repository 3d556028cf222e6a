#pragma once

#include "acquisition/SeedLinkSource.h"

#include <QSet>
#include <QTimer>

#include <chrono>
#include <vector>

// What the controller keeps while the monitor streams.
struct StreamState {
    using Clock = std::chrono::steady_clock;

    SeedLinkSource source;
    QTimer frame; // the next redraw: soon after samples arrive, at most twice a second
    quint64 request = 0;
    bool on = false;      // monitoring with the stream chosen (the backfill may still run)
    bool started = false; // the SeedLink request is out
    bool changed = false; // samples arrived since the channels were last processed
    bool frameCycle = false;
    std::vector<char> refused; // by table row: polled from the time-series service instead
    QSet<QString> refusedLogged;
    Clock::time_point lastFrame{};
    // Arrival of the records not yet processed, and of those processed but not yet painted.
    std::vector<Clock::time_point> arrived, applied;
    std::vector<double> latencies;

    static constexpr std::chrono::milliseconds kMinFrameGap{500};
    static constexpr std::chrono::milliseconds kScrollPeriod{1000};
    static constexpr std::size_t kMaxLatencies = 100000;
};
