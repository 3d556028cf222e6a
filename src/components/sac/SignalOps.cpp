#include "components/sac/SignalOps.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sac::dsp {

// The sums below keep four independent accumulators so the additions of a long trace overlap
// instead of waiting on each other; a day at 100 samples/s is latency-bound otherwise.

void removeLinearTrend(std::span<float> x) {
    const std::size_t n = x.size();
    if (n < 2) {
        removeMean(x);
        return;
    }
    // Centred abscissa keeps the normal equations well conditioned for long traces.
    const double mid = 0.5 * static_cast<double>(n - 1);
    // The abscissa counts in double (exact for any length held), not converted per sample.
    double sy[4] = {0, 0, 0, 0}, sty[4] = {0, 0, 0, 0};
    std::size_t i = 0;
    double t = -mid;
    for (; i + 4 <= n; i += 4, t += 4.0)
        for (std::size_t k = 0; k < 4; ++k) {
            sy[k] += x[i + k];
            sty[k] += (t + static_cast<double>(k)) * x[i + k];
        }
    for (; i < n; ++i, t += 1.0) {
        sy[0] += x[i];
        sty[0] += t * x[i];
    }
    // The sum of (i - mid)^2 over 0..n-1, in closed form.
    const double nd = static_cast<double>(n);
    const double stt = nd * (nd * nd - 1.0) / 12.0;
    const double mean = ((sy[0] + sy[1]) + (sy[2] + sy[3])) / nd;
    const double slope = ((sty[0] + sty[1]) + (sty[2] + sty[3])) / stt;
    const double start = mean - slope * mid;
    double j = 0;
    std::size_t k = 0;
    for (; k + 4 <= n; k += 4, j += 4.0)
        for (std::size_t l = 0; l < 4; ++l)
            x[k + l] = static_cast<float>(x[k + l] - (start + slope * (j + static_cast<double>(l))));
    for (; k < n; ++k, j += 1.0)
        x[k] = static_cast<float>(x[k] - (start + slope * j));
}

void removeMean(std::span<float> x) {
    if (x.empty())
        return;
    double sum[4] = {0, 0, 0, 0};
    std::size_t i = 0;
    for (; i + 4 <= x.size(); i += 4)
        for (std::size_t k = 0; k < 4; ++k)
            sum[k] += x[i + k];
    for (; i < x.size(); ++i)
        sum[0] += x[i];
    const double mean = ((sum[0] + sum[1]) + (sum[2] + sum[3])) / static_cast<double>(x.size());
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
    // cos(pi j / m) by rotating a unit vector, re-anchored every 1024 steps so the rounding
    // never builds up; a cosine per sample costs more than the rest of the chain's taper.
    const double step = std::numbers::pi / static_cast<double>(m);
    const double cs = std::cos(step), sn = std::sin(step);
    double c = 1.0, s = 0.0;
    for (std::size_t j = 0; j < m; ++j) {
        if (j % 1024 == 0) {
            c = std::cos(step * static_cast<double>(j));
            s = std::sin(step * static_cast<double>(j));
        }
        const double w = 0.5 - 0.5 * c;
        x[j] = static_cast<float>(x[j] * w);
        x[n - 1 - j] = static_cast<float>(x[n - 1 - j] * w);
        const double next = c * cs - s * sn;
        s = s * cs + c * sn;
        c = next;
    }
}

double rms(std::span<const float> x) {
    if (x.empty())
        return 0.0;
    double sum[4] = {0, 0, 0, 0};
    std::size_t i = 0;
    for (; i + 4 <= x.size(); i += 4)
        for (std::size_t k = 0; k < 4; ++k)
            sum[k] += static_cast<double>(x[i + k]) * x[i + k];
    for (; i < x.size(); ++i)
        sum[0] += static_cast<double>(x[i]) * x[i];
    return std::sqrt(((sum[0] + sum[1]) + (sum[2] + sum[3])) / static_cast<double>(x.size()));
}

void scale(std::span<float> x, float factor) {
    for (float& v : x)
        v *= factor;
}

} // namespace sac::dsp
