#include "components/sac/Decimator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sac::dsp {

namespace {

// Kaiser's window design formulas (Kaiser 1974; Oppenheim & Schafer, "Discrete-Time Signal
// Processing", eq. 7.62-7.63) for attenuation A dB and transition width dw rad/sample.
constexpr double kStopBandDb = 60.0;
constexpr double kKaiserBeta = 0.1102 * (kStopBandDb - 8.7);

double besselI0(double x) {
    double sum = 1.0, term = 1.0;
    const double q = x * x / 4.0;
    for (int k = 1; k < 64; ++k) {
        term *= q / (static_cast<double>(k) * k);
        sum += term;
        if (term < 1e-17 * sum)
            break;
    }
    return sum;
}

} // namespace

std::vector<double> designDecimationFilter(int factor, std::size_t maxHalfLength) {
    if (factor < 2)
        return {1.0};
    const double q = factor;
    const double cutoff = 0.9 * 0.5 / q;     // cycles per input sample
    const double transition = 0.2 * 0.5 / q; // 0.8 .. 1.0 of the new Nyquist
    const double order = (kStopBandDb - 7.95) / (2.285 * 2.0 * std::numbers::pi * transition);
    const double halfOrder = std::ceil(order / 2.0);
    const std::size_t half =
        std::min(static_cast<std::size_t>(halfOrder), std::max<std::size_t>(maxHalfLength, 1));
    std::vector<double> taps(2 * half + 1);
    const double i0beta = besselI0(kKaiserBeta);
    double sum = 0;
    for (std::size_t j = 0; j < taps.size(); ++j) {
        const double k = static_cast<double>(j) - static_cast<double>(half);
        const double r = k / halfOrder;
        const double window =
            besselI0(kKaiserBeta * std::sqrt(std::max(0.0, 1.0 - r * r))) / i0beta;
        const double arg = 2.0 * cutoff * k;
        const double sinc =
            k == 0 ? 1.0 : std::sin(std::numbers::pi * arg) / (std::numbers::pi * arg);
        taps[j] = 2.0 * cutoff * sinc * window;
        sum += taps[j];
    }
    for (double& t : taps)
        t /= sum;
    return taps;
}

std::vector<float> decimate(std::span<const float> x, int factor) {
    if (factor < 2 || x.empty())
        return {x.begin(), x.end()};
    const std::size_t n = x.size();
    const auto q = static_cast<std::size_t>(factor);
    const std::vector<double> taps = designDecimationFilter(factor, n);
    const std::size_t half = taps.size() / 2;
    std::vector<float> out((n - 1) / q + 1);
    for (std::size_t k = 0; k < out.size(); ++k) {
        const std::size_t centre = k * q;
        double acc = 0;
        if (centre >= half && centre + half < n) {
            // Whole window inside the trace: fold the symmetric taps, and keep four sums going
            // so the additions overlap.
            const float* left = x.data() + (centre - half);
            const float* right = x.data() + (centre + half);
            double a0 = 0, a1 = 0, a2 = 0, a3 = 0;
            std::size_t j = 0;
            for (; j + 4 <= half; j += 4) {
                a0 += taps[j] *
                      (static_cast<double>(left[j]) + right[-static_cast<std::ptrdiff_t>(j)]);
                a1 += taps[j + 1] * (static_cast<double>(left[j + 1]) +
                                     right[-static_cast<std::ptrdiff_t>(j + 1)]);
                a2 += taps[j + 2] * (static_cast<double>(left[j + 2]) +
                                     right[-static_cast<std::ptrdiff_t>(j + 2)]);
                a3 += taps[j + 3] * (static_cast<double>(left[j + 3]) +
                                     right[-static_cast<std::ptrdiff_t>(j + 3)]);
            }
            for (; j < half; ++j)
                a0 += taps[j] *
                      (static_cast<double>(left[j]) + right[-static_cast<std::ptrdiff_t>(j)]);
            acc = (a0 + a1) + (a2 + a3) + taps[half] * x[centre];
        } else {
            // Near the ends: input index centre + j - half, limited to [0, n).
            const std::size_t jBegin = centre >= half ? 0 : half - centre;
            const std::size_t jEnd = std::min(taps.size(), n + half - centre);
            const float* in = x.data() + (centre + jBegin - half);
            for (std::size_t j = jBegin; j < jEnd; ++j)
                acc += taps[j] * *in++;
        }
        out[k] = static_cast<float>(acc);
    }
    return out;
}

} // namespace sac::dsp
