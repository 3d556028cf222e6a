// What the operations do with the values a settings field can hand them, and with objects that
// hold nothing.
#include "SacTestFiles.h"

#include "base/Time.h"
#include "components/sac/Butterworth.h"
#include "components/sac/Decimator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

namespace {

const SacObject::Date kRef = civil::dateOf(2024, 2, 29, 23, 59, 0);

SacObject sine(std::size_t n = 2000, double delta = 0.05, double periodSeconds = 2.0) {
    std::vector<float> x(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = static_cast<float>(
            std::sin(2 * std::numbers::pi * static_cast<double>(i) * delta / periodSeconds) + 0.25);
    return SacObject::fromSamples(std::move(x), delta, kRef);
}

std::vector<float> copy(const SacObject& s) {
    return {s.samples().begin(), s.samples().end()};
}

} // namespace

TEST(SacOperations, EveryOperationCompletesOnAnEmptyObject) {
    SacObject s;
    s.ComputeExtrema();
    EXPECT_EQ(s.kcmpnm(), "");
    s.SubtractLinearTrend();
    s.RemoveMean();
    s.Taper(0.05f);
    s.LPBUfilter(1.0f, 2, 2);
    s.HPBUfilter(0.1f, 2, 2);
    s.ConvolveInstrument(1);
    s.ConvolveInstrument(2);
    s.Decimate(5);
    s.Integrate();
    EXPECT_EQ(s.simpleRMS(), 0.0);
    s.ScaleAmplitudes(2.0f);
    s.adjustReferenceTimeToNSDate(kRef);
    s.setLabelString("nothing");
    EXPECT_EQ(s.GetSacSeis(), nullptr);
    EXPECT_FALSE(s.isSacFile());
}

TEST(SacOperations, CornersTheFiltersCannotUseLeaveTheTraceUnfiltered) {
    // Nyquist is 10 Hz at 20 samples/s; the broadband default upper corner is -10.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float corner : {0.0f, -10.0f, 10.0f, 25.0f, nan, std::numeric_limits<float>::infinity()}) {
        SacObject lp = sine(), hp = sine();
        const auto before = copy(lp);
        lp.LPBUfilter(corner, 2, 2);
        hp.HPBUfilter(corner, 2, 2);
        EXPECT_EQ(copy(lp), before) << corner;
        EXPECT_EQ(copy(hp), before) << corner;
    }
    for (int poles : {0, -2, 11}) {
        SacObject s = sine();
        const auto before = copy(s);
        s.LPBUfilter(1.0f, 2, poles);
        EXPECT_EQ(copy(s), before) << poles;
    }
}

TEST(SacOperations, ALowPassKeepsSlowSignalsAndTwoPassesDoNotShiftThem) {
    SacObject s = sine(4000, 0.05, 20.0); // 0.05 Hz through a 1 Hz low-pass
    const auto before = copy(s);
    s.LPBUfilter(1.0f, 2, 2);
    for (std::size_t i = 1000; i < 3000; i += 97)
        EXPECT_NEAR(s.samples()[i], before[i], 1e-3) << i;
}

TEST(SacOperations, OddAndHighPoleCountsStillGiveAButterworthCorner) {
    for (int poles : {1, 3, 4, 7, 10}) {
        // A sine at the corner comes out at 1/sqrt(2) in one pass, whatever the order.
        SacObject s = sine(20000, 0.01, 1.0);
        s.RemoveMean();
        s.LPBUfilter(1.0f, 1, poles);
        double peak = 0;
        for (std::size_t i = 15000; i < 20000; ++i)
            peak = std::max(peak, std::abs(static_cast<double>(s.samples()[i])));
        EXPECT_NEAR(peak, std::sqrt(0.5), 5e-3) << poles;
    }
}

TEST(SacOperations, DecimationFactorsBelowTwoChangeNothing) {
    for (int factor : {1, 0, -1, -20, std::numeric_limits<int>::min()}) {
        SacObject s = sine();
        const auto before = copy(s);
        s.Decimate(factor);
        EXPECT_EQ(copy(s), before) << factor;
        EXPECT_FLOAT_EQ(static_cast<float>(s.delta()), 0.05f) << factor;
    }
}

TEST(SacOperations, DecimationUpdatesIntervalCountAndEnd) {
    SacObject s = sine(1001, 0.05);
    const auto start = s.startTime();
    s.Decimate(4);
    EXPECT_EQ(s.samples().size(), 251u);
    EXPECT_FLOAT_EQ(static_cast<float>(s.delta()), 0.2f);
    EXPECT_EQ(s.startTime(), start);
    EXPECT_EQ(s.GetSacHeader()->getInt(sac::word::NPTS), 251);
    EXPECT_NEAR(s.GetSacHeader()->getFloat(sac::word::E), 250 * 0.2, 1e-4);
}

TEST(SacOperations, AFactorLargerThanTheTraceLeavesOneSample) {
    for (int factor : {1000, 1'000'000, std::numeric_limits<int>::max()}) {
        SacObject s = sine(300);
        s.Decimate(factor);
        ASSERT_EQ(s.samples().size(), 1u) << factor;
        EXPECT_TRUE(std::isfinite(s.samples()[0])) << factor;
        EXPECT_GT(s.delta(), 0.0) << factor;
    }
}

TEST(SacOperations, TinyTracesSurviveTaperAndIntegration) {
    for (std::size_t n : {1u, 2u, 3u}) {
        SacObject s = sine(n);
        s.Taper(0.05f);
        s.Taper(std::numeric_limits<float>::quiet_NaN());
        s.Taper(-1.0f);
        s.Taper(7.0f);
        s.Integrate();
        s.SubtractLinearTrend();
        EXPECT_GE(s.samples().size(), n > 1 ? n - 1 : 1u);
    }
}

TEST(SacOperations, RmsAndScalingOfAKnownSignal) {
    SacObject s = SacObject::fromSamples({3, -3, 3, -3}, 1.0, kRef);
    EXPECT_DOUBLE_EQ(s.simpleRMS(), 3.0);
    s.ScaleAmplitudes(1.0f / 3.0f);
    EXPECT_NEAR(s.simpleRMS(), 1.0, 1e-7);
}

TEST(SacOperations, ReReferencingKeepsAbsoluteTimes) {
    SacObject s = sine(100);
    const auto start = s.startTime();
    const auto later = civil::addSeconds(kRef, 3600.25);
    s.adjustReferenceTimeToNSDate(later);
    EXPECT_EQ(s.referenceTime(), later);
    EXPECT_NEAR(s.begin(), -3600.25, 1e-9);
    EXPECT_EQ(s.startTime(), start);
    // The header carries the new reference in whole milliseconds, the rest in B.
    EXPECT_EQ(s.GetSacHeader()->getInt(sac::word::NZYEAR), 2024);
    EXPECT_EQ(s.GetSacHeader()->getInt(sac::word::NZJDAY), 61);
    EXPECT_EQ(s.GetSacHeader()->getInt(sac::word::NZHOUR), 0);
    EXPECT_EQ(s.GetSacHeader()->getInt(sac::word::NZMIN), 59);
    EXPECT_EQ(s.GetSacHeader()->getInt(sac::word::NZMSEC), 250);
    // No date keeps the previous reference.
    s.adjustReferenceTimeToNSDate(std::nullopt);
    EXPECT_EQ(s.referenceTime(), later);
}

TEST(SacOperations, EncodedTracesDecodeToTheSameTrace) {
    SacObject s = sine(500);
    s.adjustReferenceTimeToNSDate(civil::addSeconds(kRef, 12.3456));
    s.Decimate(2);
    const auto bytes = s.encode();
    SacObject back;
    ASSERT_TRUE(back.initWithNSData(bytes, "back"));
    ASSERT_TRUE(back.isSacFile());
    EXPECT_EQ(copy(back), copy(s));
    EXPECT_NEAR(civil::secondsBetween(s.startTime(), back.startTime()), 0.0, 1e-5);
}

// SAC tapers int(width * (N + 1)) samples at each end: 100 for 1999 samples at 5 %, where a rule
// of int(width * N) would give 99.
TEST(SacOperations, TheTaperLengthFollowsSacsRule) {
    SacObject s = SacObject::fromSamples(std::vector<float>(1999, 1.0f), 0.05, civil::Date{});
    s.Taper(0.05f);
    const auto x = s.samples();
    EXPECT_EQ(x[0], 0.0f);
    EXPECT_LT(x[99], 1.0f);
    EXPECT_EQ(x[100], 1.0f);
    EXPECT_LT(x[1999 - 100], 1.0f);
    EXPECT_EQ(x[1999 - 101], 1.0f);
}

// The fast decimation (by phase, in blocks, eight lanes where the processor has them) and the
// four-at-a-time filter recursion against the plain definitions, in double precision: around
// the block edges, at the ends, for every factor the fast path takes.
TEST(SacOperations, TheFastDecimationAndFilterAgreeWithTheirDefinitions) {
    for (const std::size_t n : {std::size_t{2049}, std::size_t{16411}, std::size_t{40000}}) {
        std::vector<float> x(n);
        for (std::size_t i = 0; i < n; ++i)
            x[i] = static_cast<float>(std::sin(0.003 * static_cast<double>(i)) * 50 +
                                      std::sin(1.3 * static_cast<double>(i)) * 5 + 3);
        for (const int q : {2, 3, 5, 16}) {
            const auto taps = sac::dsp::designDecimationFilter(q, n);
            const auto half = static_cast<std::ptrdiff_t>(taps.size() / 2);
            const auto ours = sac::dsp::decimate(x, q);
            ASSERT_EQ(ours.size(), (n - 1) / static_cast<std::size_t>(q) + 1);
            double worst = 0;
            for (std::size_t k = 0; k < ours.size(); ++k) {
                double want = 0;
                for (std::ptrdiff_t j = 0; j < static_cast<std::ptrdiff_t>(taps.size()); ++j) {
                    const std::ptrdiff_t i = static_cast<std::ptrdiff_t>(k) * q - half + j;
                    if (i >= 0 && i < static_cast<std::ptrdiff_t>(n))
                        want += taps[static_cast<std::size_t>(j)] * x[static_cast<std::size_t>(i)];
                }
                worst = std::max(worst, std::abs(ours[k] - want));
            }
            EXPECT_LT(worst, 1e-4) << n << " " << q; // on values up to 58
        }
        for (const auto band : {sac::dsp::FilterBand::LowPass, sac::dsp::FilterBand::HighPass}) {
            const auto sections = sac::dsp::designButterworth(band, 4, 0.05, 0.1);
            std::vector<double> want(x.begin(), x.end());
            for (int pass = 0; pass < 2; ++pass) {
                for (const auto& s : sections) {
                    double z1 = 0, z2 = 0;
                    for (std::size_t k = 0; k < n; ++k) {
                        double& v = want[pass == 0 ? k : n - 1 - k];
                        const double out = s.b0 * v + z1;
                        z1 = s.b1 * v - s.a1 * out + z2;
                        z2 = s.b2 * v - s.a2 * out;
                        v = out;
                    }
                }
            }
            std::vector<float> ours = x;
            sac::dsp::applySections(ours, sections, 2);
            double worst = 0;
            for (std::size_t k = 0; k < n; ++k)
                worst = std::max(worst, std::abs(ours[k] - want[k]));
            EXPECT_LT(worst, 1e-3) << n; // float storage between sections and passes
        }
    }
}
