// The two WWSSN seismograph responses against the published values, and their application to
// a trace.
#include "SacTestFiles.h"

#include "base/Time.h"
#include "components/sac/Fftw.h"
#include "components/sac/WwssnInstrument.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>

using sac::dsp::wwssnVelocityResponse;

namespace {

using cd = std::complex<double>;
constexpr double kTwoPi = 2 * std::numbers::pi;

// Velocity-input response relative to its value at the normalisation period, from a
// displacement amplitude |Hd| published at period T: |Hv(T)| / |Hv(Tn)| = |Hd(T)| T / (|Hd(Tn)|
// Tn).
double expectedVelocityAmplitude(double hd, double period, double hdNorm, double periodNorm) {
    return hd * period / (hdNorm * periodNorm);
}

// Displacement response from poles and zeros (three zeros at the origin), for the phase.
cd displacementFromPoles(double period, std::initializer_list<cd> poles) {
    const cd s(0, kTwoPi / period);
    cd h = s * s * s;
    for (const cd& p : poles)
        h /= (s - p);
    return h;
}

} // namespace

// SAC's ELMAG 15-100 instrument at magnification 1500: |H| at 1 .. 100 s (reference tables).
TEST(WwssnResponse, LongPeriodAmplitudesMatchThePublishedCurve) {
    const std::pair<double, double> table[] = {{1, 188.7}, {5, 869.8}, {10, 1377},  {15, 1500},
                                               {20, 1417}, {30, 1112}, {50, 650.6}, {100, 210.3}};
    for (const auto& [period, hd] : table) {
        const double ours = std::abs(wwssnVelocityResponse(1, 1.0 / period));
        EXPECT_NEAR(ours / expectedVelocityAmplitude(hd, period, 1500, 15), 1.0, 2e-3) << period;
    }
    EXPECT_NEAR(std::abs(wwssnVelocityResponse(1, 1.0 / 15)), 1.0, 1e-12);
}

// The Blacknest short-period poles (SAC's WWSPBN): |H| at 0.2 .. 5 s, 1 at 1 s.
TEST(WwssnResponse, ShortPeriodAmplitudesMatchThePublishedCurve) {
    const std::pair<double, double> table[] = {
        {0.2, 0.370}, {0.5, 1.256}, {1, 1.000}, {2, 0.178}, {5, 0.0122}};
    for (const auto& [period, hd] : table) {
        const double ours = std::abs(wwssnVelocityResponse(2, 1.0 / period));
        EXPECT_NEAR(ours / expectedVelocityAmplitude(hd, period, 1.0, 1.0), 1.0, 5e-3) << period;
    }
}

// Phase against the poles and zeros: the long-period set as the equivalent poles of the 15-100
// system, the short-period set as published. Velocity input turns the phase by -90 degrees.
TEST(WwssnResponse, PhaseFollowsThePolesAndZeros) {
    for (double period : {2.0, 8.0, 15.0, 40.0, 90.0}) {
        const cd hd =
            displacementFromPoles(period, {cd(-0.386803, 0.132191), cd(-0.386803, -0.132191),
                                           cd(-0.078075, 0), cd(-0.053097, 0)});
        const double expected = std::arg(hd / cd(0, kTwoPi / period));
        EXPECT_NEAR(
            std::remainder(std::arg(wwssnVelocityResponse(1, 1.0 / period)) - expected, kTwoPi),
            0.0, 2e-3)
            << period;
    }
    for (double period : {0.3, 0.7, 1.0, 3.0}) {
        const cd hd =
            displacementFromPoles(period, {cd(-4.04094, 6.47935), cd(-4.04094, -6.47935),
                                           cd(-9.25238, 0), cd(-7.67430, 0), cd(-16.72981, 0)});
        const double expected = std::arg(hd / cd(0, kTwoPi / period));
        EXPECT_NEAR(
            std::remainder(std::arg(wwssnVelocityResponse(2, 1.0 / period)) - expected, kTwoPi),
            0.0, 1e-9)
            << period;
    }
}

// Convolving a steady sine gives the response's amplitude and phase at its period.
TEST(WwssnResponse, ConvolutionAppliesTheResponseToATrace) {
    const std::pair<int, double> runs[] = {{1, 25.0}, {1, 8.0}, {2, 0.8}, {2, 2.5}};
    for (const auto& [code, period] : runs) {
        const double delta = code == 1 ? 0.5 : 0.02;
        const std::size_t n = 40000;
        std::vector<float> x(n);
        for (std::size_t i = 0; i < n; ++i)
            x[i] = static_cast<float>(std::sin(kTwoPi * static_cast<double>(i) * delta / period));
        SacObject s = SacObject::fromSamples(x, delta, SacObject::Date{});
        s.ConvolveInstrument(code);
        // Least-squares fit of a sin + b cos over the middle half, away from the start-up.
        double ss = 0, sc = 0, cc = 0, ys = 0, yc = 0;
        for (std::size_t i = n / 4; i < 3 * n / 4; ++i) {
            const double w = kTwoPi * static_cast<double>(i) * delta / period;
            const double sn = std::sin(w), cs = std::cos(w), y = s.samples()[i];
            ss += sn * sn;
            sc += sn * cs;
            cc += cs * cs;
            ys += y * sn;
            yc += y * cs;
        }
        const double det = ss * cc - sc * sc;
        const double a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
        const cd expected = wwssnVelocityResponse(code, 1.0 / period);
        EXPECT_NEAR(std::hypot(a, b), std::abs(expected), 0.01 * std::abs(expected))
            << code << " " << period;
        // y = |H| sin(w + phi) = |H| cos(phi) sin(w) + |H| sin(phi) cos(w)
        EXPECT_NEAR(std::remainder(std::atan2(b, a) - std::arg(expected), kTwoPi), 0.0, 0.01)
            << code << " " << period;
    }
}

TEST(WwssnResponse, OtherCodesLeaveTheTraceAlone) {
    for (int code : {0, 3, -1, 99}) {
        SacObject s = SacObject::fromSamples({1, 2, 3, 4}, 1.0, SacObject::Date{});
        s.ConvolveInstrument(code);
        EXPECT_EQ(std::vector<float>(s.samples().begin(), s.samples().end()),
                  (std::vector<float>{1, 2, 3, 4}))
            << code;
    }
}

namespace {

// The whole trace's spectrum times the response, zero padded to at least twice the length: the
// form the filter replaces, kept here as the reference it must match.
std::size_t fastFftSize(std::size_t n) {
    for (std::size_t m = std::max<std::size_t>(n, 1);; ++m) {
        std::size_t r = m;
        for (std::size_t p : {2u, 3u, 5u})
            while (r % p == 0)
                r /= p;
        if (r == 1)
            return m;
    }
}

std::vector<float> spectralReference(std::vector<float> x, double delta, int code) {
    using sac::dsp::FftwBuffer;
    const std::size_t n = x.size(), nfft = fastFftSize(2 * n), bins = nfft / 2 + 1;
    FftwBuffer<double> time(nfft);
    FftwBuffer<fftw_complex> spectrum(bins);
    const int len = static_cast<int>(nfft);
    const auto forward = sac::dsp::planFftw(
        [&] { return fftw_plan_dft_r2c_1d(len, time.data(), spectrum.data(), FFTW_ESTIMATE); });
    const auto inverse = sac::dsp::planFftw(
        [&] { return fftw_plan_dft_c2r_1d(len, spectrum.data(), time.data(), FFTW_ESTIMATE); });
    for (std::size_t i = 0; i < nfft; ++i)
        time[i] = i < n ? x[i] : 0.0;
    forward.execute();
    for (std::size_t k = 0; k < bins; ++k) {
        const cd v = cd(spectrum[k][0], spectrum[k][1]) *
                     wwssnVelocityResponse(code, static_cast<double>(k) /
                                                     (static_cast<double>(nfft) * delta));
        spectrum[k][0] = v.real();
        spectrum[k][1] = v.imag();
    }
    inverse.execute();
    for (std::size_t i = 0; i < n; ++i)
        x[i] = static_cast<float>(time[i] / static_cast<double>(nfft));
    return x;
}

// Microseisms, a drift and white noise, the mean removed as the chain has it by then.
std::vector<float> broadband(std::size_t n, double delta) {
    std::vector<float> x(n);
    std::uint32_t state = 12345;
    double mean = 0;
    for (std::size_t i = 0; i < n; ++i) {
        state = state * 1664525u + 1013904223u;
        const double t = static_cast<double>(i) * delta;
        x[i] = static_cast<float>(300 * std::sin(kTwoPi * t / 7) +
                                  120 * std::sin(kTwoPi * t / 15.3) + 0.01 * t +
                                  40 * (static_cast<double>(state >> 8) / 16777216.0 - 0.5));
        mean += x[i];
    }
    for (float& v : x)
        v = static_cast<float>(v - mean / static_cast<double>(n));
    return x;
}

struct Difference {
    double rms, worst; // relative to the reference's RMS
};

Difference difference(std::span<const float> ours, std::span<const float> reference) {
    double diff = 0, power = 0, worst = 0;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        const double d = static_cast<double>(ours[i]) - reference[i];
        diff += d * d;
        power += static_cast<double>(reference[i]) * reference[i];
        worst = std::max(worst, std::abs(d));
    }
    const double rms = std::sqrt(power / static_cast<double>(reference.size()));
    return {std::sqrt(diff / power), worst / rms};
}

} // namespace

// The recursive form against the spectral product it replaced, on broadband input: well inside
// the published curves' tolerances above (0.2 %, 1 %), the differences lie where the spectral
// product cuts the response at Nyquist. Long traces run in four stretches joined afterwards.
TEST(WwssnFilter, TheFastFormMatchesTheWholeTraceSpectralProduct) {
    struct Row {
        int code;
        double delta;
        std::size_t n;
        double rms, worst;
    };
    const Row rows[] = {
        {1, 1.0, 40000, 3e-4, 1e-3},  {1, 0.5, 40000, 3e-5, 1e-4},   {1, 0.05, 40000, 1e-6, 1e-5},
        {1, 0.01, 40000, 1e-6, 1e-5}, {1, 0.01, 300001, 1e-6, 1e-5}, {1, 0.5, 300001, 3e-5, 1e-4},
        {2, 0.05, 40000, 2e-3, 6e-3}, {2, 0.02, 40000, 3e-4, 1e-3},  {2, 0.01, 300001, 1e-4, 5e-4},
        {2, 1.0, 4000, 1e-6, 1e-5}, // spectral product itself
    };
    for (const Row& row : rows) {
        const std::vector<float> x = broadband(row.n, row.delta);
        std::vector<float> ours = x;
        sac::dsp::convolveInstrument(ours, row.delta, row.code);
        const Difference d = difference(ours, spectralReference(x, row.delta, row.code));
        EXPECT_LT(d.rms, row.rms) << row.code << " " << row.delta << " " << row.n;
        EXPECT_LT(d.worst, row.worst) << row.code << " " << row.delta << " " << row.n;
    }
}

// Both forms against the instrument across the band where it passes the signal, and with no
// response at zero frequency; the causal one looks at nothing ahead.
TEST(WwssnFilter, BothFormsFollowTheInstrumentsResponse) {
    using sac::dsp::WwssnForm;
    struct Row {
        int code;
        double delta;
        std::initializer_list<double> periods;
        double twoSided, causal; // |H - expected| relative to the response's peak, 1
    };
    const Row rows[] = {
        {1, 1.0, {5, 15, 30, 100}, 3e-4, 1e-2}, // 5 s is near Nyquist: the causal form lags
        {1, 0.05, {1, 5, 15, 30, 100}, 1e-5, 1e-5},  {1, 0.01, {1, 15, 100}, 1e-7, 1e-7},
        {2, 0.025, {0.2, 0.5, 1, 2, 5}, 5e-5, 3e-4}, {2, 0.01, {0.2, 0.5, 1, 2, 5}, 3e-5, 3e-5},
    };
    for (const Row& row : rows) {
        for (const WwssnForm form : {WwssnForm::TwoSided, WwssnForm::Causal}) {
            const auto f = sac::dsp::designWwssnFilter(row.code, row.delta, form);
            ASSERT_FALSE(f.empty());
            const double tolerance = form == WwssnForm::TwoSided ? row.twoSided : row.causal;
            for (const double period : row.periods) {
                const cd h = sac::dsp::filterResponse(f, kTwoPi * row.delta / period);
                EXPECT_LT(std::abs(h - wwssnVelocityResponse(row.code, 1 / period)), tolerance)
                    << row.code << " " << row.delta << " " << period;
            }
            EXPECT_LT(std::abs(sac::dsp::filterResponse(f, 0.0)), 1e-12);
            if (form == WwssnForm::Causal) {
                EXPECT_EQ(f.lead, 0u);
            }
        }
    }
    for (const double delta : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity()}) {
        EXPECT_TRUE(sac::dsp::designWwssnFilter(1, delta, WwssnForm::TwoSided).empty()) << delta;
        std::vector<float> x{1, 2, 3};
        sac::dsp::convolveInstrument(x, delta, 1);
        EXPECT_EQ(x, (std::vector<float>{1, 2, 3})) << delta;
    }
    EXPECT_TRUE(sac::dsp::designWwssnFilter(3, 0.01, WwssnForm::Causal).empty());
    // Traces shorter than the correction's reach still come out as numbers.
    for (const std::size_t n : {1u, 2u, 3u, 64u, 129u}) {
        std::vector<float> x = broadband(n, 1.0);
        sac::dsp::convolveInstrument(x, 1.0, 1);
        for (const float v : x)
            EXPECT_TRUE(std::isfinite(v)) << n;
    }
}
