#pragma once

#include "base/ChannelId.h"
#include "store/Segment.h"

class SacObject;

// SAC keeps the interval in single precision (0.05 is stored as 0.0500000007); summed over an
// hour that drifts by microseconds, so the store keeps it rounded to the microsecond, as ObsPy
// does when it reads SAC.
double intervalOf(const SacObject& s);

// A decoded answer's samples as a store segment of the channel.
Segment segmentOf(const ChannelId& channel, const SacObject& s);
