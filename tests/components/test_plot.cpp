// The arithmetic under every trace view: per-column envelopes with and without block summaries,
// and the ticks of a time axis.
#include "components/plot/TimeAxis.h"
#include "components/plot/TraceEnvelope.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

// A quiet wave with a spike at every `every`-th sample, alternately up and down.
std::vector<float> spiky(std::size_t n, std::size_t every) {
    std::vector<float> x(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = static_cast<float>(0.1 * std::sin(0.01 * static_cast<double>(i)));
    for (std::size_t i = every / 2, k = 0; i < n; i += every, ++k)
        x[i] = k % 2 ? -5.0f - static_cast<float>(k) : 5.0f + static_cast<float>(k);
    return x;
}

} // namespace

// A summary only saves reading samples: every column is the same with it as without, wherever
// the columns' edges fall within the summary's blocks. A block that straddles a column's left
// edge belongs partly to the column before; counting it whole would move a peak one column left.
TEST(TraceEnvelope, TheSummaryChangesNothingWhereverColumnsStartInsideABlock) {
    const std::vector<float> x = spiky(200'000, 997);
    const plot::BlockSummary summary = plot::summarise(x);
    struct Layout {
        double offset, left, right;
        int width;
    };
    const Layout layouts[] = {
        {0, 0, 2000, 300},        // 667 samples a column: edges mid-block
        {0.37, -5, 1995, 151},    // an offset and a left edge off the sample grid
        {-100, 0, 1900, 97},      // samples before the axis
        {0, 100, 1000, 33},       // a part of the trace
        {0, 0, 2000, 1999},       // narrower columns than a summary helps with
    };
    for (const Layout& l : layouts) {
        const auto plain = plot::columnEnvelope(x, 0.01, l.offset, l.left, l.right, l.width);
        const auto fast = plot::columnEnvelope(x, 0.01, l.offset, l.left, l.right, l.width, &summary);
        ASSERT_EQ(fast.present, plain.present) << l.width;
        for (std::size_t c = 0; c < plain.present.size(); ++c) {
            ASSERT_EQ(fast.low[c], plain.low[c]) << "column " << c << " of " << l.width;
            ASSERT_EQ(fast.high[c], plain.high[c]) << "column " << c << " of " << l.width;
            ASSERT_EQ(fast.last[c], plain.last[c]) << "column " << c << " of " << l.width;
        }
    }
}

// A single peak shows in the one column its time falls in, summarised or not.
TEST(TraceEnvelope, APeakShowsInItsOwnColumnOnly) {
    std::vector<float> x(100'000, 0.0f);
    // Sample 51'250 at 0.01 s: 512.5 s, in column 102 of 200 columns over 1000 s (5 s each).
    x[51'250] = 3.0f;
    const plot::BlockSummary summary = plot::summarise(x);
    for (const plot::BlockSummary* s : {static_cast<const plot::BlockSummary*>(nullptr), &summary}) {
        const auto e = plot::columnEnvelope(x, 0.01, 0.0, 0.0, 1000.0, 200, s);
        for (std::size_t c = 0; c < 200; ++c)
            EXPECT_EQ(e.high[c], c == 102 ? 3.0f : 0.0f) << c << (s ? " summarised" : "");
    }
    EXPECT_EQ(plot::sampleIndexAt(512.5, 0.0, 0.01, x.size()), 51'250u);
    EXPECT_EQ(plot::sampleIndexAt(512.501, 0.0, 0.01, x.size()), 51'251u);
    EXPECT_EQ(plot::sampleIndexAt(-3.0, 0.0, 0.01, x.size()), 0u);
    EXPECT_EQ(plot::sampleIndexAt(5000.0, 0.0, 0.01, x.size()), x.size());
}

TEST(TraceEnvelope, NotANumberNeverWinsAndEmptyColumnsStayAbsent) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> x{1.0f, nan, -2.0f, nan};
    const auto e = plot::columnEnvelope(x, 1.0, 0.0, 0.0, 8.0, 8);
    // A column that holds nothing but a NaN shows nothing, like one that holds no sample.
    EXPECT_EQ(e.present, (std::vector<bool>{true, false, true, false, false, false, false, false}));
    EXPECT_EQ(e.low[0], 1.0f);
    EXPECT_EQ(e.low[2], -2.0f);
}

// The ticks lie within the axis, none is missing at either end, and they step evenly by a
// nice step: at both ends on and off the step's multiples, on either side of zero.
TEST(TimeAxis, TicksStayWithinTheAxisAndMissNoneAtEitherEnd) {
    struct Row {
        double left, right, count;
        double step;
    };
    const Row rows[] = {
        {-3600, 0, 12, 200},     {-3599.5, -0.5, 12, 200}, {0.3, 119.7, 10, 10},
        {-45, 45, 10, 10},       {7, 8, 4, 0.2},           {-1e-3, 2e-3, 6, 5e-4},
        {86399, 172801, 12, 5000}, {-17, -3, 5, 2},
    };
    for (const Row& r : rows) {
        const std::vector<double> ticks = plot::tickTimes(r.left, r.right, r.count);
        ASSERT_FALSE(ticks.empty()) << r.left;
        EXPECT_DOUBLE_EQ(plot::niceStep(r.right - r.left, r.count), r.step) << r.left;
        EXPECT_GE(ticks.front(), r.left - 1e-9 * r.step) << r.left;
        EXPECT_LE(ticks.back(), r.right + 1e-9 * r.step) << r.left;
        EXPECT_LT(ticks.front() - r.step, r.left) << r.left;
        EXPECT_GT(ticks.back() + r.step, r.right) << r.left;
        for (std::size_t i = 1; i < ticks.size(); ++i)
            EXPECT_NEAR(ticks[i] - ticks[i - 1], r.step, 1e-9 * r.step) << r.left;
        for (const double t : ticks)
            EXPECT_NEAR(t / r.step, std::round(t / r.step), 1e-6) << r.left;
    }
    EXPECT_TRUE(plot::tickTimes(0, 10, 1e9).empty()); // more than the most ticks allowed
    EXPECT_TRUE(plot::tickTimes(5, 5, 10).empty());
    EXPECT_TRUE(plot::tickTimes(0, std::numeric_limits<double>::infinity(), 10).empty());
}
