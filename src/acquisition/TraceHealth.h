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

// For the window [from, to] as drawn, `to` being the present: the latency is how long before `to`
// the newest sample ends, and what no piece covers between `from` and that sample is missing.
// Nothing when the store holds nothing of the channel.
std::optional<TraceHealth> traceHealth(const TraceStore& store, const ChannelId& channel, Time from,
                                       Time to, double silentAfterSeconds);
// The same for the window of `windowSeconds` that ends now.
inline std::optional<TraceHealth> traceHealth(const TraceStore& store, const ChannelId& channel,
                                              Time now, double windowSeconds,
                                              double silentAfterSeconds) {
    return traceHealth(store, channel, civil::addSeconds(now, -windowSeconds), now,
                       silentAfterSeconds);
}
