#pragma once

#include "base/ChannelId.h"
#include "store/Segment.h"

class SacObject;

// A decoded answer's samples as a store segment of the channel.
Segment segmentOf(const ChannelId& channel, const SacObject& s);
