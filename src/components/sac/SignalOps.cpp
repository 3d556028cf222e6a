#include "components/sac/SignalOps.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sac::dsp {

void removeLinearTrend(std::span<float> x) {
    const std::size_t n = x.size();
    if (n < 2) {
        removeMean(x);
        return;
    }
    // Centred abscissa keeps the normal equations well conditioned for long traces.
    const double mid = 0.5 * static_cast<double>(n - 1);
    double sy = 0, sty = 0, stt = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) - mid;
        sy += x[i];
        sty += t * x[i];
        stt += t * t;
    }
    const double mean = sy / static_cast<double>(n);
    const double slope = sty / stt;
    for (std::size_t i = 0; i < n; ++i)
        x[i] = static_cast<float>(x[i] - (mean + slope * (static_cast<double>(i) - mid)));
}

void removeMean(std::span<float> x) {
    if (x.empty())
        return;
    double sum = 0;
    for (float v : x)
        sum += v;
    const double mean = sum / static_cast<double>(x.size());
    for (float& v : x)
        v = static_cast<float>(v - mean);
}

void taperHanning(std::span<float> x, double width) {
    const std::size_t n = x.size();
    if (n == 0 || !(width > 0))
        return;
    const double wanted = std::min(width, 0.5) * static_cast<double>(n + 1);
    std::size_t m = std::max<std::size_t>(2, static_cast<std::size_t>(wanted));
    m = std::min(m, n / 2); // the two ends never overlap
    for (std::size_t j = 0; j < m; ++j) {
        const double w = 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(j) /
                                              static_cast<double>(m));
        x[j] = static_cast<float>(x[j] * w);
        x[n - 1 - j] = static_cast<float>(x[n - 1 - j] * w);
    }
}

double rms(std::span<const float> x) {
    if (x.empty())
        return 0.0;
    double sum = 0;
    for (float v : x)
        sum += static_cast<double>(v) * v;
    return std::sqrt(sum / static_cast<double>(x.size()));
}

void scale(std::span<float> x, float factor) {
    for (float& v : x)
        v *= factor;
}

} // namespace sac::dsp
