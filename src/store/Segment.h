#pragma once

#include "base/ChannelId.h"
#include "base/Time.h"

#include <cstddef>
#include <vector>

// Evenly spaced raw samples of one channel, belonging to no file format: identity, the time of
// the first sample, the interval, the samples.
struct Segment {
    ChannelId channel;
    Time start{};
    double delta = 0.0; // seconds between samples, > 0 for a usable segment
    std::vector<float> samples;

    std::size_t size() const { return samples.size(); }
    // Where the next sample would fall: start + size * delta.
    Time end() const { return civil::addSeconds(start, static_cast<double>(size()) * delta); }
    Time timeOf(std::size_t i) const {
        return civil::addSeconds(start, static_cast<double>(i) * delta);
    }
};

// A stretch of time, [from, to).
struct TimeSpan {
    Time from{}, to{};
    friend bool operator==(const TimeSpan&, const TimeSpan&) = default;
};
