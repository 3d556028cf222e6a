#include "components/sac/WwssnInstrument.h"

#include "components/sac/Fftw.h"

#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

namespace sac::dsp {

namespace {

using cd = std::complex<double>;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// ELMAG 15-100, magnification 1500 (SAC TRANSFER's instrument table).
cd elmagDisplacement(cd s) {
    constexpr double t1 = 15.0, t2 = 100.0, h1 = 0.93, h2 = 1.0, sigma2 = 0.047;
    constexpr double c = 2840.9091;
    const double w1 = kTwoPi / t1;
    const double p = t1 / t2;
    const cd s2 = s * s, s3 = s2 * s, s4 = s3 * s;
    const cd den = s4 + 2.0 * w1 * (h1 + p * h2) * s3 +
                   ((1.0 + p * p) + 4.0 * h1 * h2 * p * (1.0 - sigma2)) * w1 * w1 * s2 +
                   2.0 * (p * h1 + h2) * p * w1 * w1 * w1 * s + p * p * w1 * w1 * w1 * w1;
    return c * w1 * s3 / den;
}

// Blacknest WWSSN short period (SAC's WWSPBN): three zeros at the origin.
cd wwspbnDisplacement(cd s) {
    constexpr double k = 432.83395;
    static const std::array<cd, 5> poles{cd(-4.04094, 6.47935), cd(-4.04094, -6.47935),
                                         cd(-9.25238, 0), cd(-7.67430, 0), cd(-16.72981, 0)};
    cd h = k * s * s * s;
    for (const cd& p : poles)
        h /= (s - p);
    return h;
}

cd velocityResponseUnnormalised(int code, double f) {
    const cd s(0.0, kTwoPi * f);
    if (f == 0.0)
        return 0.0; // zeros at the origin
    switch (code) {
    case WwssnLongPeriod:
        return elmagDisplacement(s) / s;
    case WwssnShortPeriod:
        return wwspbnDisplacement(s) / s;
    default:
        return 1.0;
    }
}

double normalisationFrequency(int code) {
    return code == WwssnLongPeriod ? 1.0 / 15.0 : 1.0;
}

// Smallest 2^a 3^b 5^c >= n: sizes FFTW transforms fast.
std::size_t fastSize(std::size_t n) {
    for (std::size_t m = std::max<std::size_t>(n, 1);; ++m) {
        std::size_t r = m;
        for (std::size_t p : {2u, 3u, 5u})
            while (r % p == 0)
                r /= p;
        if (r == 1)
            return m;
    }
}

} // namespace

cd wwssnVelocityResponse(int code, double frequencyHz) {
    if (code != WwssnLongPeriod && code != WwssnShortPeriod)
        return 1.0;
    const double norm = std::abs(velocityResponseUnnormalised(code, normalisationFrequency(code)));
    return velocityResponseUnnormalised(code, std::abs(frequencyHz)) / norm;
}

void convolveInstrument(std::span<float> x, double delta, int code) {
    if ((code != WwssnLongPeriod && code != WwssnShortPeriod) || x.empty() || !(delta > 0) ||
        !std::isfinite(delta))
        return;
    const std::size_t n = x.size();
    const std::size_t nfft = fastSize(2 * n);
    if (nfft > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return;
    const std::size_t nbins = nfft / 2 + 1;
    FftwBuffer<double> time(nfft);
    FftwBuffer<fftw_complex> spectrum(nbins);
    if (!time || !spectrum)
        return;
    const int len = static_cast<int>(nfft);
    const FftwPlan forward = planFftw(
        [&] { return fftw_plan_dft_r2c_1d(len, time.data(), spectrum.data(), FFTW_ESTIMATE); });
    const FftwPlan inverse = planFftw(
        [&] { return fftw_plan_dft_c2r_1d(len, spectrum.data(), time.data(), FFTW_ESTIMATE); });
    if (!forward || !inverse)
        return;

    for (std::size_t i = 0; i < n; ++i)
        time[i] = x[i];
    for (std::size_t i = n; i < nfft; ++i)
        time[i] = 0.0;
    forward.execute();

    const double df = 1.0 / (static_cast<double>(nfft) * delta);
    const double norm = std::abs(velocityResponseUnnormalised(code, normalisationFrequency(code)));
    for (std::size_t k = 0; k < nbins; ++k) {
        const cd h = velocityResponseUnnormalised(code, static_cast<double>(k) * df) / norm;
        const cd v = cd(spectrum[k][0], spectrum[k][1]) * h;
        spectrum[k][0] = v.real();
        spectrum[k][1] = v.imag();
    }
    inverse.execute();

    const double inv = 1.0 / static_cast<double>(nfft);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = static_cast<float>(time[i] * inv);
}

} // namespace sac::dsp
