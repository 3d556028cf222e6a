// libFuzzer entry: the miniSEED reader of dataselect answers and files, over any bytes: every
// record kept must be finite samples at a usable interval, one channel's segments in time order.
#include "acquisition/MiniSeed.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto* bytes = reinterpret_cast<const char*>(data);
    miniseed::Limits limits;
    limits.maxSamples = 1 << 20;
    const miniseed::Contents all = miniseed::read(bytes, size, limits);
    std::size_t held = 0;
    for (std::size_t i = 0; i < all.segments.size(); ++i) {
        const Segment& s = all.segments[i];
        if (!(s.delta > 0) || s.samples.empty())
            std::abort();
        for (const float v : s.samples)
            if (!std::isfinite(v))
                std::abort();
        held += s.size();
        if (i > 0 && all.segments[i - 1].channel.seedId() == s.channel.seedId() &&
            s.start < all.segments[i - 1].start)
            std::abort();
    }
    if (held > limits.maxSamples)
        std::abort();
    if (!all.segments.empty()) {
        const miniseed::Contents one =
            miniseed::readChannel(bytes, size, all.segments.front().channel, limits);
        for (const Segment& s : one.segments)
            if (s.channel.seedId() != all.segments.front().channel.seedId())
                std::abort();
    }
    return 0;
}
