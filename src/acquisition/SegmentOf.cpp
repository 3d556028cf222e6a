#include "acquisition/SegmentOf.h"

#include "components/sac/SacObject.h"

#include <cmath>

double intervalOf(const SacObject& s) {
    const double d = s.delta();
    const double rounded = std::round(d * 1e6) / 1e6;
    return std::abs(rounded - d) < 1e-7 * d ? rounded : d;
}

Segment segmentOf(const ChannelId& channel, const SacObject& s) {
    Segment seg;
    seg.channel = channel;
    seg.start = s.startTime();
    seg.delta = intervalOf(s);
    seg.samples.assign(s.samples().begin(), s.samples().end());
    return seg;
}
