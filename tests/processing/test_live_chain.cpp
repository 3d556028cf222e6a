// The causal chain for the stream: piece by piece against all at once, restarts at gaps, rate
// changes and breaks, the pass band kept up to the newest sample, and the responses measured from
// its output against their design.
#include "components/sac/StreamFilters.h"
#include "components/sac/WwssnInstrument.h"
#include "processing/LiveChain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

using processing::LiveChain;

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;
const Time kStart = civil::dateOf(2026, 12, 7, 22, 0, 0);

// Microseism-like waves, a wave at 3 s, noise, a slow drift and a large offset, as counts come.
Segment record(double delta, double seconds, Time start = kStart, std::uint32_t seed = 1) {
    Segment s;
    s.channel = {"IU", "ANMO", "00", "BHZ"};
    s.start = start;
    s.delta = delta;
    s.samples.resize(static_cast<std::size_t>(seconds / delta));
    std::uint32_t state = seed;
    for (std::size_t i = 0; i < s.samples.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        const double t = static_cast<double>(i) * delta;
        const double noise = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
        s.samples[i] =
            static_cast<float>(300 * std::sin(kTwoPi * t / 7) + 80 * std::sin(kTwoPi * t / 3) +
                               50 * std::sin(kTwoPi * t / 900) + 40 * noise + 0.01 * t + 20000);
    }
    return s;
}

Segment sine(double delta, double seconds, double hz, double amplitude = 100,
             double offset = 5000) {
    Segment s;
    s.channel = {"XX", "TEST", "", "BHZ"};
    s.start = kStart;
    s.delta = delta;
    s.samples.resize(static_cast<std::size_t>(seconds / delta));
    for (std::size_t i = 0; i < s.samples.size(); ++i)
        s.samples[i] = static_cast<float>(
            offset + amplitude * std::sin(kTwoPi * hz * static_cast<double>(i) * delta));
    return s;
}

Segment slice(const Segment& s, std::size_t from, std::size_t to) {
    Segment out;
    out.channel = s.channel;
    out.delta = s.delta;
    out.start = s.timeOf(from);
    out.samples.assign(s.samples.begin() + static_cast<std::ptrdiff_t>(from),
                       s.samples.begin() + static_cast<std::ptrdiff_t>(to));
    return out;
}

// Everything a chain gives for the segment, pushed in pieces of the given sizes in turn.
std::vector<LiveChain::Run> pushInPieces(LiveChain& chain, const Segment& s,
                                         const std::vector<std::size_t>& sizes) {
    std::vector<LiveChain::Run> runs;
    std::size_t at = 0;
    for (std::size_t k = 0; at < s.samples.size(); ++k) {
        const std::size_t to = std::min(s.samples.size(), at + sizes[k % sizes.size()]);
        for (auto& run : chain.push(slice(s, at, to)))
            runs.push_back(std::move(run));
        at = to;
    }
    return runs;
}

// The runs joined, checking that each continues the one before on the output grid.
std::vector<float> joined(const std::vector<LiveChain::Run>& runs) {
    std::vector<float> out;
    for (std::size_t k = 0; k < runs.size(); ++k) {
        if (k > 0) {
            EXPECT_TRUE(runs[k].continues) << k;
            EXPECT_NEAR(civil::secondsBetween(runs[k - 1].samples.end(), runs[k].samples.start), 0,
                        1e-6)
                << k;
        }
        out.insert(out.end(), runs[k].samples.samples.begin(), runs[k].samples.samples.end());
    }
    return out;
}

double relativeRmsDifference(const std::vector<float>& a, const std::vector<float>& b) {
    double diff = 0, power = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        diff += (static_cast<double>(a[i]) - b[i]) * (static_cast<double>(a[i]) - b[i]);
        power += static_cast<double>(b[i]) * b[i];
    }
    return power > 0 ? std::sqrt(diff / power) : std::sqrt(diff);
}

// Least-squares amplitude and phase of a sine of frequency hz in the samples after `skip`.
std::complex<double> fitSine(const Segment& s, double hz, std::size_t skip, Time reference) {
    double ss = 0, sc = 0, cc = 0, ys = 0, yc = 0;
    const double t0 = civil::secondsBetween(reference, s.start);
    for (std::size_t i = skip; i < s.samples.size(); ++i) {
        const double w = kTwoPi * hz * (t0 + static_cast<double>(i) * s.delta);
        const double sn = std::sin(w), cs = std::cos(w), y = s.samples[i];
        ss += sn * sn;
        sc += sn * cs;
        cc += cs * cs;
        ys += y * sn;
        yc += y * cs;
    }
    const double det = ss * cc - sc * sc;
    const double a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
    return std::polar(std::hypot(a, b), std::atan2(b, a));
}

Segment only(const std::vector<LiveChain::Run>& runs) {
    EXPECT_EQ(runs.size(), 1u);
    return runs.empty() ? Segment{} : runs[0].samples;
}

struct OptionRow {
    const char* name;
    ProcessingOptionSet options;
    bool longPeriod;
};

// Every step, alone and together, with the corners and factors the settings offer.
const OptionRow kOptionRows[] = {
    {"nothing", {}, false},
    {"broadband defaults", {true, -10, 0.005f, false, false, true, 2, false}, false},
    {"long-period defaults", {true, 0.05f, 0.002f, false, false, true, 2, false}, true},
    {"band 0.05-2 Hz", {true, 2, 0.05f, false, false, false, 1, false}, false},
    {"WWSSN long period", {false, 0, 0, true, false, false, 1, false}, false},
    {"WWSSN short period", {false, 0, 0, false, true, false, 1, false}, false},
    {"everything, by 10", {true, 4, 0.01f, true, true, true, 10, true}, false},
    {"band, by 3", {true, 5, 0.02f, false, false, true, 3, false}, false},
    {"band, by 4", {true, 5, 0.02f, false, false, true, 4, false}, false},
    {"band, by 5", {true, 5, 0.02f, false, false, true, 5, false}, false},
    {"band, by 20, integrated", {true, 0.5f, 0.01f, false, false, true, 20, true}, false},
    {"integrated only", {false, 0, 0, false, false, false, 1, true}, false},
};

} // namespace

TEST(LiveChain, PieceByPieceEqualsAllAtOnceForEveryOptionSet) {
    // Pieces of a record's size and odd sizes down to single samples.
    const std::vector<std::size_t> sizes{400, 1, 397, 2, 1000, 3, 512, 7, 401};
    for (const OptionRow& row : kOptionRows) {
        for (double delta : {0.025, 0.01}) {
            const Segment raw = record(delta, 1200);
            LiveChain whole(row.options, row.longPeriod), pieces(row.options, row.longPeriod);
            const std::vector<float> expected = joined(whole.push(raw));
            const auto runs = pushInPieces(pieces, raw, sizes);
            const std::vector<float> got = joined(runs);
            ASSERT_FALSE(runs.empty()) << row.name;
            EXPECT_FALSE(runs[0].continues) << row.name;
            EXPECT_EQ(runs[0].samples.start, raw.start) << row.name;
            EXPECT_EQ(runs[0].samples.channel, raw.channel) << row.name;
            ASSERT_EQ(got.size(), expected.size()) << row.name << " " << delta;
            EXPECT_LT(relativeRmsDifference(got, expected), 1e-6) << row.name << " " << delta;
            EXPECT_NEAR(pieces.outputDelta(), whole.outputDelta(), 1e-12) << row.name;
        }
    }
}

TEST(LiveChain, AGapARateChangeOrABreakRestartsTheState) {
    const ProcessingOptionSet options{true, 4, 0.02f, true, false, true, 10, true};
    const std::vector<std::size_t> sizes{400, 123};
    const Segment first = record(0.025, 600);
    struct Row {
        const char* name;
        Segment second;
    };
    const Row rows[] = {
        {"after a gap", record(0.025, 600, civil::addSeconds(first.end(), 10.0), 2)},
        {"at another rate", record(0.01, 600, first.end(), 2)},
        {"half a sample late", record(0.025, 600, civil::addSeconds(first.end(), 0.0126), 2)},
        {"reaching back before the start",
         record(0.025, 600, civil::addSeconds(first.start, -10.0), 2)},
    };
    for (const Row& row : rows) {
        LiveChain chain(options, false), fresh(options, false);
        pushInPieces(chain, first, sizes);
        EXPECT_FALSE(chain.continues(row.second)) << row.name;
        const auto runs = pushInPieces(chain, row.second, sizes);
        ASSERT_FALSE(runs.empty()) << row.name;
        EXPECT_FALSE(runs[0].continues) << row.name;
        EXPECT_EQ(runs[0].samples.start, row.second.start) << row.name;
        EXPECT_EQ(joined(runs), joined(fresh.push(row.second))) << row.name;
        EXPECT_NEAR(chain.outputDelta(), row.second.delta * 10, 1e-12) << row.name;
    }
    // Within half a sample of where the last piece ended, it carries on.
    LiveChain chain(options, false);
    chain.push(slice(first, 0, 1000));
    Segment next = slice(first, 1000, 2000);
    next.start = civil::addSeconds(next.start, 0.012);
    EXPECT_TRUE(chain.continues(next));
    // Pieces each a little late (a clock that runs slow) carry on, and their outputs keep the
    // pieces' own times.
    LiveChain slow(options, false), whole(options, false);
    std::vector<LiveChain::Run> runs;
    Time at = first.start;
    for (std::size_t from = 0; from < first.samples.size(); from += 400) {
        Segment piece = slice(first, from, std::min(first.samples.size(), from + 400));
        piece.start = at;
        EXPECT_TRUE(from == 0 || slow.continues(piece)) << from;
        for (auto& run : slow.push(piece))
            runs.push_back(std::move(run));
        at = civil::addSeconds(piece.end(), 0.3 * piece.delta);
    }
    std::vector<float> slowSamples;
    for (const auto& run : runs) {
        EXPECT_EQ(run.continues, &run != &runs.front());
        slowSamples.insert(slowSamples.end(), run.samples.samples.begin(),
                           run.samples.samples.end());
    }
    EXPECT_EQ(slowSamples, joined(whole.push(first)));
    const Time lastPiece = civil::addSeconds(at, -(400 + 0.3) * first.delta);
    EXPECT_NEAR(civil::secondsBetween(lastPiece, runs.back().samples.start), 0, 1e-6);
    // restart() forgets it all.
    chain.restart();
    EXPECT_FALSE(chain.continues(next));
}

TEST(LiveChain, SamplesThatAreNotNumbersBreakTheRunAndRestartAfterThem) {
    const ProcessingOptionSet options{true, 4, 0.02f, false, false, true, 2, false};
    Segment raw = record(0.025, 300);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (std::size_t i = 5000; i < 5040; ++i)
        raw.samples[i] = i % 2 ? nan : std::numeric_limits<float>::infinity();
    LiveChain chain(options, false), before(options, false), after(options, false);
    const auto runs = pushInPieces(chain, raw, {1000, 17});
    std::vector<float> first, second;
    for (const auto& run : runs) {
        for (const float v : run.samples.samples)
            ASSERT_TRUE(std::isfinite(v));
        auto& into =
            civil::secondsBetween(raw.timeOf(5040), run.samples.start) < -1e-9 ? first : second;
        EXPECT_EQ(run.continues, !into.empty());
        into.insert(into.end(), run.samples.samples.begin(), run.samples.samples.end());
    }
    EXPECT_EQ(first, joined(before.push(slice(raw, 0, 5000))));
    EXPECT_EQ(second, joined(after.push(slice(raw, 5040, raw.samples.size()))));
    // Nothing usable: nothing out, and the state stays.
    LiveChain quiet(options, false);
    quiet.push(slice(raw, 0, 1000));
    Segment bad = slice(raw, 1000, 1400);
    for (double delta : {0.0, -0.025, std::numeric_limits<double>::quiet_NaN(),
                         std::numeric_limits<double>::infinity()}) {
        bad.delta = delta;
        EXPECT_TRUE(quiet.push(bad).empty()) << delta;
    }
    EXPECT_TRUE(quiet.push(slice(raw, 1000, 1000)).empty());
    EXPECT_TRUE(quiet.continues(slice(raw, 1000, 1400)));
}

TEST(LiveChain, ARecordSentAgainIsSkipped) {
    const ProcessingOptionSet options{true, 4, 0.02f, false, false, true, 5, false};
    const Segment raw = record(0.01, 120);
    LiveChain once(options, false), again(options, false);
    const std::vector<float> expected = joined(once.push(raw));
    std::vector<LiveChain::Run> runs;
    for (const auto& [from, to] : {std::pair<std::size_t, std::size_t>{0, 4000},
                                   {3000, 4000},
                                   {3600, 8000},
                                   {7999, 12000}}) {
        for (auto& run : again.push(slice(raw, from, to)))
            runs.push_back(std::move(run));
    }
    EXPECT_EQ(joined(runs), expected);
}

// A wave in the pass band comes out at its size and in its phase up to the newest sample: no
// taper at the right edge, whatever piece the newest sample came in.
TEST(LiveChain, APassBandSineKeepsItsAmplitudeUpToTheNewestSample) {
    struct Row {
        const char* name;
        ProcessingOptionSet options;
        double delta, hz;
    };
    const Row rows[] = {
        {"nothing", {}, 0.025, 0.3},
        {"broadband defaults", {true, -10, 0.005f, false, false, true, 2, false}, 0.01, 0.5},
        {"band 0.05-5 Hz", {true, 5, 0.05f, false, false, false, 1, false}, 0.025, 0.7},
        {"band, by 10", {true, 5, 0.01f, false, false, true, 10, false}, 0.01, 0.4},
        {"band, by 20", {true, 2, 0.01f, false, false, true, 20, false}, 0.025, 0.2},
    };
    for (const Row& row : rows) {
        LiveChain chain(row.options, false);
        const double amplitude = 100;
        const Segment in = sine(row.delta, 1500, row.hz, amplitude);
        const auto runs = pushInPieces(chain, in, {400, 37});
        Segment last = runs.front().samples;
        last.samples = joined(runs);
        const std::complex<double> h = chain.response(row.hz);
        EXPECT_NEAR(std::abs(h), 1.0, 0.01) << row.name;
        // The last period, sample by sample, against the wave the response makes of the input, and
        // the wave fitted to it.
        const auto period = static_cast<std::size_t>(1 / (row.hz * last.delta)) + 1;
        ASSERT_GE(last.samples.size(), period) << row.name;
        for (std::size_t k = 0; k < period; ++k) {
            const std::size_t i = last.samples.size() - 1 - k;
            const double t = civil::secondsBetween(kStart, last.timeOf(i));
            const double expected =
                amplitude * std::abs(h) * std::sin(kTwoPi * row.hz * t + std::arg(h));
            EXPECT_NEAR(last.samples[i], expected, 0.01 * amplitude) << row.name << " k=" << k;
        }
        const std::complex<double> fitted =
            fitSine(last, row.hz, last.samples.size() - period, kStart);
        EXPECT_NEAR(std::abs(fitted), amplitude, 0.01 * amplitude) << row.name;
    }
}

// Sines at the corners, measured from what the chain gives: -3 dB there, for 4 poles run once;
// and an octave beyond, 1 / sqrt(1 + r^8) with r the ratio of the prewarped frequencies: the
// stop band of the window chain's 2 poles run both ways, 1 / (1 + r^4) (-24.1 against -24.6 dB
// where warping is slight).
TEST(LiveChain, TheFiltersAreThreeDecibelsDownAtTheirCorners) {
    struct Row {
        double delta;
        float lowPass, highPass;
    };
    const Row rows[] = {{0.025, 2.0f, 0.05f}, {0.01, 8.0f, 0.1f}, {1.0, 0.1f, 0.002f}};
    for (const Row& row : rows) {
        const auto warped = [&](double hz) { return std::tan(std::numbers::pi * hz * row.delta); };
        const auto beyond = [](double r) { return -10 * std::log10(1 + std::pow(r, 8)); };
        const double lp = row.lowPass, hp = row.highPass;
        const std::pair<double, double> probes[] = {{lp, -3.0103},
                                                    {hp, -3.0103},
                                                    {2 * lp, beyond(warped(2 * lp) / warped(lp))},
                                                    {hp / 2, beyond(warped(hp) / warped(hp / 2))}};
        for (const auto& [hz, db] : probes) {
            LiveChain chain(
                ProcessingOptionSet{true, row.lowPass, row.highPass, false, false, false, 1, false},
                false);
            const double periods = 60;
            const Segment in = sine(row.delta, (periods + 40) / hz, hz);
            const Segment out = only(chain.push(in));
            const auto skip = static_cast<std::size_t>(40 / (hz * row.delta)); // start-up
            const std::complex<double> measured = fitSine(out, hz, skip, kStart) / 100.0;
            EXPECT_NEAR(20 * std::log10(std::abs(measured)), db, 0.1) << row.delta << " " << hz;
            EXPECT_NEAR(std::abs(measured), std::abs(chain.response(hz)), 2e-3) << hz;
            EXPECT_NEAR(std::remainder(std::arg(measured) - std::arg(chain.response(hz)), kTwoPi),
                        0, 2e-3)
                << hz;
        }
    }
}

// The instruments as the stream sees them, against their published responses.
TEST(LiveChain, TheWwssnInstrumentsFollowTheirResponses) {
    struct Row {
        ProcessingOptionSet options;
        double delta, period, tolerance;
    };
    const Row rows[] = {
        {{false, 0, 0, true, false, false, 1, false}, 1.0, 25, 0.01},
        {{false, 0, 0, true, false, false, 1, false}, 0.05, 8, 2e-3},
        {{false, 0, 0, true, false, false, 1, false}, 0.01, 15, 2e-3},
        {{false, 0, 0, false, true, false, 1, false}, 0.025, 0.8, 5e-3},
        {{false, 0, 0, false, true, false, 1, false}, 0.01, 2.5, 2e-3},
    };
    for (const Row& row : rows) {
        LiveChain chain(row.options, false);
        const double hz = 1 / row.period;
        const Segment out = only(chain.push(sine(row.delta, 80 * row.period, hz)));
        const auto skip = static_cast<std::size_t>(40 * row.period / row.delta);
        const std::complex<double> measured = fitSine(out, hz, skip, kStart) / 100.0;
        // With no band filter, the offset high-pass far below runs too.
        const auto offset = sac::dsp::designButterworth(sac::dsp::FilterBand::HighPass, 2,
                                                        LiveChain::kOffsetCornerHz, row.delta);
        std::complex<double> expected =
            sac::dsp::wwssnVelocityResponse(row.options.longPeriodInstrument ? 1 : 2, hz);
        for (const auto& q : offset)
            expected *= sac::dsp::sectionResponse(q, kTwoPi * hz * row.delta);
        EXPECT_NEAR(std::abs(measured) / std::abs(expected), 1.0, row.tolerance) << row.period;
        EXPECT_NEAR(std::remainder(std::arg(measured) - std::arg(expected), kTwoPi), 0,
                    row.tolerance)
            << row.period;
    }
}

// The anti-alias filter works as the stream runs: what lies above the new Nyquist frequency is
// gone, and the chain reports the filter's delay.
TEST(LiveChain, DecimationRejectsAliasesAndReportsItsDelay) {
    for (const int factor : {2, 3, 4, 5, 10, 20}) {
        const ProcessingOptionSet options{false, 0, 0, false, false, true, factor, false};
        LiveChain chain(options, false);
        const double delta = 0.01;
        const double newNyquist = 0.5 / (delta * factor);
        const Segment out = only(chain.push(sine(delta, 600, 1.3 * newNyquist)));
        double peak = 0;
        for (std::size_t i = out.samples.size() / 2; i < out.samples.size(); ++i)
            peak = std::max(peak, std::abs(static_cast<double>(out.samples[i])));
        EXPECT_LT(20 * std::log10(peak / 100), -50) << factor;
        EXPECT_NEAR(chain.outputDelta(), delta * factor, 1e-12);
        // A smooth pulse well inside the new band shows up late by the delay the chain reports.
        LiveChain pulsed(options, false);
        Segment pulse = sine(delta, 400, 0, 0, 0);
        const double width = 2 / newNyquist, at = 200;
        for (std::size_t i = 0; i < pulse.samples.size(); ++i) {
            const double u = (static_cast<double>(i) * delta - at) / width;
            pulse.samples[i] = static_cast<float>(1000 * std::exp(-0.5 * u * u));
        }
        const Segment shown = only(pulsed.push(pulse));
        std::size_t top = 1;
        for (std::size_t i = 1; i + 1 < shown.samples.size(); ++i)
            if (shown.samples[i] > shown.samples[top])
                top = i;
        const double l = shown.samples[top - 1], c = shown.samples[top], r = shown.samples[top + 1];
        const double found = static_cast<double>(top) + 0.5 * (l - r) / (l - 2 * c + r);
        // (The offset high-pass's small lead at the pulse's lowest frequencies aside.)
        EXPECT_NEAR(found * shown.delta - at, pulsed.delaySeconds(0.05 * newNyquist),
                    0.15 * shown.delta)
            << factor;
    }
    // Factors that decimate nothing.
    for (const int factor : {1, 0, -4}) {
        LiveChain chain(ProcessingOptionSet{false, 0, 0, false, false, true, factor, false}, false);
        const Segment out = only(chain.push(sine(0.01, 10, 1)));
        EXPECT_EQ(out.samples.size(), 1000u) << factor;
        EXPECT_NEAR(chain.delaySeconds(1), 0.0, 1e-3);
    }
}

// An integrated wave is the wave's integral; an offset and a drift integrate to nothing that
// grows.
TEST(LiveChain, IntegrationIntegratesTheBandAndDoesNotDrift) {
    // The same band with and without integration: the ratio is the integral's, 1 / (i 2 pi f).
    ProcessingOptionSet options{true, 5, 0.02f, false, false, false, 1, false};
    LiveChain plain(options, false);
    options.integrate = true;
    LiveChain integrated(options, false);
    const double hz = 0.5;
    const Segment in = sine(0.025, 200, hz);
    const std::complex<double> ratio = fitSine(only(integrated.push(in)), hz, 4000, kStart) /
                                       fitSine(only(plain.push(in)), hz, 4000, kStart);
    EXPECT_NEAR(std::abs(ratio) * kTwoPi * hz, 1.0, 0.01);
    EXPECT_NEAR(std::arg(ratio), -std::numbers::pi / 2, 0.01);

    // Twelve hours of an offset, a steady drift and noise, with no band filter. The high-pass
    // takes the drift down to nothing, but its integral would stay at a constant (drift / wc^2)
    // for good; the leak lets that go too.
    LiveChain bare(ProcessingOptionSet{false, 0, 0, false, false, false, 1, true}, false);
    Segment drift = sine(1.0, 12 * 3600, 0, 0, 1000);
    std::uint32_t state = 7;
    for (std::size_t i = 0; i < drift.samples.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        const double noise = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
        drift.samples[i] += static_cast<float>(0.05 * static_cast<double>(i) + noise);
    }
    const std::vector<float> y = joined(pushInPieces(bare, drift, {400}));
    double early = 0, late = 0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        double& half = i < y.size() / 2 ? early : late;
        half = std::max(half, std::abs(static_cast<double>(y[i])));
    }
    EXPECT_LT(late, 0.05 * early);
}

TEST(LiveChain, TheChannelCodeChoosesTheOptionSetAsTheWindowChainDoes) {
    ProcessingOptions options;
    options.longPeriod = {true, 0.05f, 0.005f, false, true, false, 1, false};
    options.broadband = {true, 2, 0.1f, false, false, false, 1, false};
    const Segment raw = record(0.05, 600);
    const auto through = [&](LiveChain chain) { return joined(chain.push(raw)); };
    ProcessingOptionSet longPeriod = options.longPeriod;
    longPeriod.shortPeriodInstrument = false; // the long-period set has no such box
    for (const char* code : {"LHZ", "HLZ"})
        EXPECT_EQ(through(LiveChain(options, code)), through(LiveChain(longPeriod, false))) << code;
    for (const char* code : {"BHZ", "lhz", ""})
        EXPECT_EQ(through(LiveChain(options, code)), through(LiveChain(options.broadband, false)))
            << code;
    EXPECT_EQ(through(LiveChain(options.longPeriod, true)), through(LiveChain(longPeriod, false)));
}

TEST(LiveChain, TheUnitRmsFactorIsTheWindowChains) {
    EXPECT_EQ(processing::unitRmsFactor({}), 0.0f);
    const std::vector<float> zeros(10, 0.0f), some{3, -4, 3, -4};
    EXPECT_EQ(processing::unitRmsFactor(zeros), 0.0f);
    EXPECT_EQ(processing::unitRmsFactor(some), 1.0f / static_cast<float>(std::sqrt(12.5)));
}
