#include "components/plot/TraceEnvelope.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace plot {

std::size_t sampleIndexAt(double t, double offset, double delta, std::size_t n) {
    const double i = std::ceil((t - offset) / delta);
    if (!(i > 0))
        return 0;
    if (i >= static_cast<double>(n))
        return n;
    return static_cast<std::size_t>(i);
}

BlockSummary summarise(std::span<const float> x) {
    constexpr std::size_t kBlock = BlockSummary::kBlock;
    const std::size_t blocks = (x.size() + kBlock - 1) / kBlock;
    BlockSummary s;
    s.low.assign(blocks, std::numeric_limits<float>::infinity());
    s.high.assign(blocks, -std::numeric_limits<float>::infinity());
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::size_t end = std::min(x.size(), (b + 1) * kBlock);
        float lo = s.low[b], hi = s.high[b];
        for (std::size_t i = b * kBlock; i < end; ++i) {
            lo = std::min(lo, x[i]); // a NaN never wins either comparison
            hi = std::max(hi, x[i]);
        }
        s.low[b] = lo;
        s.high[b] = hi;
    }
    return s;
}

bool summaryPaysOff(std::size_t samples, double delta, double left, double right, int width) {
    const double colSpan = (right - left) / width;
    return colSpan / delta >= 4.0 * BlockSummary::kBlock && samples >= 2 * BlockSummary::kBlock;
}

ColumnEnvelope columnEnvelope(std::span<const float> x, double delta, double offset, double left,
                              double right, int width, const BlockSummary* summary, int from,
                              int count) {
    constexpr std::size_t kBlock = BlockSummary::kBlock;
    ColumnEnvelope e;
    from = std::clamp(from, 0, std::max(0, width));
    const auto w = static_cast<std::size_t>(
        std::clamp(count < 0 ? width - from : count, 0, std::max(0, width - from)));
    e.low.assign(w, 0.0f);
    e.high.assign(w, 0.0f);
    e.last.assign(w, 0.0f);
    e.present.assign(w, false);
    const std::size_t n = x.size();
    if (n == 0 || !(delta > 0) || w == 0)
        return e;
    const double colSpan = (right - left) / width;
    const auto first = static_cast<std::size_t>(from);
    std::size_t a = sampleIndexAt(left + static_cast<double>(first) * colSpan, offset, delta, n);
    for (std::size_t c = 0; c < w; ++c) {
        const std::size_t b =
            sampleIndexAt(left + static_cast<double>(first + c + 1) * colSpan, offset, delta, n);
        float lo = std::numeric_limits<float>::infinity();
        float hi = -lo;
        std::size_t i = a;
        if (summary) {
            const std::size_t firstBlock = (a + kBlock - 1) / kBlock;
            const std::size_t endBlock = b / kBlock;
            if (endBlock > firstBlock) {
                for (; i < firstBlock * kBlock; ++i) {
                    lo = std::min(lo, x[i]);
                    hi = std::max(hi, x[i]);
                }
                for (std::size_t k = firstBlock; k < endBlock; ++k) {
                    lo = std::min(lo, summary->low[k]);
                    hi = std::max(hi, summary->high[k]);
                }
                i = endBlock * kBlock;
            }
        }
        for (; i < b; ++i) {
            lo = std::min(lo, x[i]);
            hi = std::max(hi, x[i]);
        }
        if (lo <= hi) {
            e.low[c] = lo;
            e.high[c] = hi;
            e.last[c] = x[b - 1];
            e.present[c] = true;
        }
        a = b;
    }
    return e;
}

} // namespace plot
