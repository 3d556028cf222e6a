// The two WWSSN seismograph responses against the published values, and their application to
// a trace.
#include "SacTestFiles.h"

#include "base/Time.h"
#include "components/sac/WwssnInstrument.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
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
