#include "acquisition/SegmentOf.h"

#include "components/sac/SacObject.h"

#include <cmath>

Segment segmentOf(const ChannelId& channel, const SacObject& s) {
    Segment seg;
    seg.channel = channel;
    seg.start = s.startTime();
    seg.delta = intervalOf(s);
    seg.samples.assign(s.samples().begin(), s.samples().end());
    return seg;
}
