#pragma once

#include "base/ChannelId.h"
#include "base/Time.h"

#include <QString>

#include <optional>

class TraceStore;

// How a channel of the monitor is doing, from what the store holds: how late its newest sample
// is and how much of the window is missing.
struct TraceHealth {
    double latencySeconds = 0; // now minus the end of the newest sample
    double missingShare = 0;   // 0 .. 1 of the window, not counting the late end
    bool silent = false;       // later than the silence limit

    // "latency 12 s, 3% missing".
    QString text() const;
};

// Nothing when the store holds nothing of the channel.
std::optional<TraceHealth> traceHealth(const TraceStore& store, const ChannelId& channel, Time now,
                                       double windowSeconds, double silentAfterSeconds);
