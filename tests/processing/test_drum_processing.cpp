// The drum's processing block by block against the chain run once over the whole record, and
// the pieces a long span is fetched in.
#include "acquisition/DrumFeed.h"
#include "components/sac/SacObject.h"
#include "processing/DrumProcessing.h"
#include "processing/ProcessingChain.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const Time kStart = civil::dateOf(2026, 12, 7, 22, 0, 0);

// Three hours at 20 samples/s: microseism-like waves, a slow drift, an offset.
Segment record(double hours = 3) {
    Segment s;
    s.channel = {"IU", "ANMO", "00", "BHZ"};
    s.start = kStart;
    s.delta = 0.05;
    s.samples.resize(static_cast<std::size_t>(hours * 3600 * 20));
    for (std::size_t i = 0; i < s.samples.size(); ++i) {
        const double t = static_cast<double>(i) * s.delta;
        s.samples[i] = static_cast<float>(300 * std::sin(2 * 3.14159 * t / 7) +
                                          50 * std::sin(2 * 3.14159 * t / 900) + 0.01 * t + 40);
    }
    return s;
}

ProcessingOptions defaults() {
    ProcessingOptions o;
    o.broadband = {true, -10, 0.005f, false, false, true, 2, false};
    return o;
}

// The raw record cut to [from, to).
Segment cut(const Segment& s, Time from, Time to) {
    Segment out = s;
    const auto a = static_cast<std::size_t>(std::lround(civil::secondsBetween(s.start, from) / s.delta));
    const auto b = static_cast<std::size_t>(std::lround(civil::secondsBetween(s.start, to) / s.delta));
    out.samples.assign(s.samples.begin() + static_cast<std::ptrdiff_t>(a),
                       s.samples.begin() + static_cast<std::ptrdiff_t>(b));
    out.start = from;
    return out;
}

// The stretches of a record between its NaNs, as the store holds a channel with gaps.
std::vector<Segment> pieces(const Segment& s) {
    std::vector<Segment> out;
    for (std::size_t i = 0; i < s.samples.size();) {
        std::size_t j = i;
        while (j < s.samples.size() && std::isfinite(s.samples[j]))
            ++j;
        if (j > i)
            out.push_back({s.channel, s.timeOf(i), s.delta,
                           {s.samples.begin() + static_cast<std::ptrdiff_t>(i),
                            s.samples.begin() + static_cast<std::ptrdiff_t>(j)}});
        i = j + 1;
    }
    return out;
}

} // namespace

TEST(DrumProcessing, ABlockWithItsMarginsMatchesTheWholeRecordProcessedAtOnce) {
    const Segment raw = record();
    SacObject whole = SacObject::fromSamples(raw.samples, raw.delta, raw.start);
    whole.header()->setText(sac::text::KCMPNM, "BHZ");
    processing::runSteps(whole, defaults());

    const Time from = civil::addSeconds(kStart, 3600), to = civil::addSeconds(kStart, 7200);
    const Segment around = cut(raw, civil::addSeconds(from, -drum::kMarginSeconds),
                               civil::addSeconds(to, drum::kMarginSeconds));
    const drum::Block block = drum::process({around}, from, to, defaults());
    ASSERT_EQ(block.runs.size(), 1u);
    const Segment& run = *block.runs[0];
    EXPECT_NEAR(run.delta, 0.1, 1e-6); // decimated by 2
    // Exact to half a sample at both ends: one sample more or less is a whole interval off.
    EXPECT_NEAR(civil::secondsBetween(run.start, from), 0.0, 0.5 * run.delta);
    EXPECT_NEAR(civil::secondsBetween(run.end(), to), 0.0, 0.5 * run.delta);
    // Sample for sample against the whole record's processing, in its own amplitude.
    const auto w = whole.samples();
    const auto offset = static_cast<std::size_t>(std::lround(civil::secondsBetween(whole.startTime(), from) / run.delta));
    double worst = 0, peak = 0;
    for (std::size_t i = 0; i < run.samples.size(); ++i) {
        worst = std::max(worst, static_cast<double>(std::abs(run.samples[i] - w[offset + i])));
        peak = std::max(peak, static_cast<double>(std::abs(w[offset + i])));
    }
    EXPECT_LT(worst, 0.005 * peak) << worst << " of " << peak;
    double sum = 0;
    for (const float v : run.samples)
        sum += static_cast<double>(v) * v;
    EXPECT_DOUBLE_EQ(block.sumSquares, sum);
    EXPECT_EQ(block.count, run.samples.size());
}

TEST(DrumProcessing, GapsSplitTheRecordAndShortStretchesAreLeftOut) {
    Segment raw = record(1);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (std::size_t i = 20000; i < 24000; ++i) // a gap of 200 s
        raw.samples[i] = nan;
    for (std::size_t i = 30000; i < 30010; ++i) // a few samples between two gaps
        raw.samples[i] = nan;
    for (std::size_t i = 30030; i < 30040; ++i)
        raw.samples[i] = nan;
    const drum::Block block = drum::process(pieces(raw), kStart, civil::addSeconds(kStart, 3600), defaults());
    ASSERT_EQ(block.runs.size(), 3u);
    const auto near = [](Time a, double seconds) {
        return std::abs(civil::secondsBetween(civil::addSeconds(kStart, seconds), a)) < 1e-4;
    };
    EXPECT_TRUE(near(block.runs[0]->end(), 1000));
    EXPECT_TRUE(near(block.runs[1]->start, 1200));
    EXPECT_TRUE(near(block.runs[2]->start, 1502));
    for (const auto& run : block.runs)
        for (const float v : run->samples)
            ASSERT_TRUE(std::isfinite(v));
    EXPECT_TRUE(drum::process({Segment{}}, kStart, civil::addSeconds(kStart, 60), defaults()).runs.empty());
}

// Neighbouring blocks share no sample and leave none out, on the sample grid or off it: each
// keeps the samples at or after its start and before its end.
TEST(DrumProcessing, NeighbouringBlocksTileTheRecordSampleForSample) {
    const Segment raw = record(1);
    ProcessingOptions plain; // no decimation: the grid stays the record's own 0.05 s
    plain.broadband.filter = true;
    plain.broadband.highPassCorner = 0.01f;
    // Seconds after the record start: where the first block starts, the second, where both end.
    const double bounds[][3] = {{600, 1200, 1800}, {600.02, 1200.03, 1799.99}, {0, 0.07, 3599.96}};
    for (const auto& b : bounds) {
        const Time from = civil::addSeconds(kStart, b[0]), middle = civil::addSeconds(kStart, b[1]),
                   to = civil::addSeconds(kStart, b[2]);
        const drum::Block first = drum::process({raw}, from, middle, plain);
        const drum::Block second = drum::process({raw}, middle, to, plain);
        ASSERT_EQ(first.runs.size(), 1u) << b[0];
        ASSERT_EQ(second.runs.size(), 1u) << b[1];
        // The first sample at or after each start; the next would fall at or after each end.
        auto index = [&](Time t) {
            return std::ceil(civil::secondsBetween(kStart, t) / raw.delta - 1e-6);
        };
        EXPECT_EQ(first.runs[0]->size(), static_cast<std::size_t>(index(middle) - index(from)))
            << b[0];
        EXPECT_EQ(second.runs[0]->size(), static_cast<std::size_t>(index(to) - index(middle)))
            << b[1];
        EXPECT_NEAR(civil::secondsBetween(raw.timeOf(static_cast<std::size_t>(index(from))),
                                          first.runs[0]->start),
                    0.0, 1e-4);
        EXPECT_NEAR(civil::secondsBetween(first.runs[0]->end(), second.runs[0]->start), 0.0, 1e-4);
        EXPECT_EQ(first.count + second.count, static_cast<std::size_t>(index(to) - index(from)));
    }
}

TEST(DrumFeed, PiecesAreAtMostAnHourAndCutAtWholeHours) {
    const auto p = DrumFeed::pieces(civil::dateOf(2026, 12, 7, 22, 40, 0), civil::dateOf(2026, 12, 8, 1, 5, 30));
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[0].from, civil::dateOf(2026, 12, 7, 22, 40, 0));
    EXPECT_EQ(p[0].to, civil::dateOf(2026, 12, 7, 23, 0, 0));
    EXPECT_EQ(p[1].to, civil::dateOf(2026, 12, 8, 0, 0, 0)); // across midnight
    EXPECT_EQ(p[3].from, civil::dateOf(2026, 12, 8, 1, 0, 0));
    EXPECT_EQ(p[3].to, civil::dateOf(2026, 12, 8, 1, 5, 30));
    EXPECT_TRUE(DrumFeed::pieces(p[0].to, p[0].to).empty());
}
