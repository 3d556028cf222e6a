#include "acquisition/TraceHealth.h"

#include "store/TraceStore.h"

#include <algorithm>
#include <cmath>

namespace {

QString durationText(double seconds) {
    if (seconds < 120)
        return QStringLiteral("%1 s").arg(std::max(0.0, std::round(seconds)));
    if (seconds < 7200)
        return QStringLiteral("%1 min").arg(std::round(seconds / 60));
    return QStringLiteral("%1 h").arg(seconds / 3600, 0, 'f', 1);
}

} // namespace

QString TraceHealth::text() const {
    // A share under one percent is still a hole on screen: it is never written as 0%.
    const double percent = 100.0 * missingShare;
    const QString share =
        percent > 0 && percent < 1
            ? QString::number(std::max(0.1, std::round(percent * 10) / 10), 'f', 1)
            : QString::number(std::round(percent));
    return QStringLiteral("latency %1, %2% missing").arg(durationText(latencySeconds), share);
}

std::optional<TraceHealth> traceHealth(const TraceStore& store, const ChannelId& channel, Time from,
                                       Time to, double silentAfterSeconds) {
    const auto end = store.end(channel);
    if (!end)
        return std::nullopt;
    TraceHealth h;
    h.latencySeconds = civil::secondsBetween(*end, to);
    h.silent = h.latencySeconds > silentAfterSeconds;
    const double span = std::max(1.0, civil::secondsBetween(from, to));
    // The newest seconds are late, not missing.
    const Time newest = std::clamp(*end, from, to);
    double missing = 0;
    for (const TimeSpan& gap : store.gaps(channel, from, newest))
        missing += civil::secondsBetween(gap.from, gap.to);
    h.missingShare = std::clamp(missing / span, 0.0, 1.0);
    return h;
}
