#include "components/sac/Decimator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
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

namespace {

// Output by output with the taps folded: for large factors and short traces.
std::vector<float> decimateDirect(std::span<const float> x, std::size_t q,
                                  const std::vector<double>& taps) {
    const std::size_t n = x.size();
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

using v8 = float __attribute__((vector_size(32)));
using v4 = float __attribute__((vector_size(16)));

template <class V> [[gnu::always_inline]] inline void addScaled(V& a, float w, const float* p) {
    V v;
    std::memcpy(&v, p, sizeof v); // unaligned
    a += w * v;
}

// out[t] = sum over phases r < q and taps m < M of taps[q m + r] * phases[r][t + m], with four
// vectors of outputs in registers, so each input loaded serves four products at once.
template <class V>
[[gnu::always_inline]] inline void accumulate(float* out, std::size_t count, const float* phases,
                                              std::size_t stride, const float* taps, std::size_t q,
                                              std::size_t M) {
    constexpr std::size_t W = sizeof(V) / sizeof(float);
    std::size_t t = 0;
    for (; t + 4 * W <= count; t += 4 * W) {
        V a0 = {}, a1 = {}, a2 = {}, a3 = {};
        for (std::size_t r = 0; r < q; ++r) {
            const float* p = phases + r * stride + t;
            for (std::size_t m = 0; m < M; ++m) {
                const float w = taps[q * m + r];
                addScaled(a0, w, p + m);
                addScaled(a1, w, p + m + W);
                addScaled(a2, w, p + m + 2 * W);
                addScaled(a3, w, p + m + 3 * W);
            }
        }
        std::memcpy(out + t, &a0, sizeof a0);
        std::memcpy(out + t + W, &a1, sizeof a1);
        std::memcpy(out + t + 2 * W, &a2, sizeof a2);
        std::memcpy(out + t + 3 * W, &a3, sizeof a3);
    }
    for (; t < count; ++t) {
        float acc = 0;
        for (std::size_t r = 0; r < q; ++r)
            for (std::size_t m = 0; m < M; ++m)
                acc += taps[q * m + r] * phases[r * stride + t + m];
        out[t] = acc;
    }
}

using Kernel = void (*)(float*, std::size_t, const float*, std::size_t, const float*, std::size_t,
                        std::size_t);

void accumulate4(float* out, std::size_t count, const float* phases, std::size_t stride,
                 const float* taps, std::size_t q, std::size_t M) {
    accumulate<v4>(out, count, phases, stride, taps, q, M);
}

#if defined(__x86_64__) && defined(__GNUC__)
// Eight lanes and fused multiply-adds on the processors of the last decade, chosen at run time
// so the program still runs on any x86-64.
[[gnu::target("avx2,fma")]] void accumulate8(float* out, std::size_t count, const float* phases,
                                             std::size_t stride, const float* taps, std::size_t q,
                                             std::size_t M) {
    accumulate<v8>(out, count, phases, stride, taps, q, M);
}

Kernel bestKernel() {
    static const Kernel kernel =
        __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? accumulate8 : accumulate4;
    return kernel;
}
#else
Kernel bestKernel() {
    return accumulate4;
}
#endif

} // namespace

std::vector<float> decimate(std::span<const float> x, int factor) {
    if (factor < 2 || x.empty())
        return {x.begin(), x.end()};
    const std::size_t n = x.size();
    const auto q = static_cast<std::size_t>(factor);
    const std::vector<double> design = designDecimationFilter(factor, n);
    const std::size_t outputs = (n - 1) / q + 1;
    if (q > 16 || outputs < 256)
        return decimateDirect(x, q, design);
    // Output k is the sum of taps[j] x[q k - half + j]. Split by phase r = j mod q, the inputs
    // of consecutive outputs lie next to each other: phases[r][t] = x[q (k0 + t) - half + r].
    // The taps and sums are single precision here: 0.1 ppm per product, far below the filter's
    // own ripple.
    const std::size_t half = design.size() / 2;
    const std::size_t M = (design.size() + q - 1) / q;
    std::vector<float> taps(q * M, 0.0f);
    for (std::size_t j = 0; j < design.size(); ++j)
        taps[j] = static_cast<float>(design[j]);
    std::vector<float> out(outputs);
    // Blocks of outputs small enough that their inputs stay in the fast caches.
    const std::size_t block = 8192;
    const std::size_t stride = block + M;
    std::vector<float> phases(q * stride);
    const Kernel kernel = bestKernel();
    for (std::size_t k0 = 0; k0 < outputs; k0 += block) {
        const std::size_t count = std::min(block, outputs - k0);
        for (std::size_t r = 0; r < q; ++r) {
            float* p = phases.data() + r * stride;
            // Samples beyond both ends count as zero.
            const std::ptrdiff_t first = static_cast<std::ptrdiff_t>(q * k0 + r) -
                                         static_cast<std::ptrdiff_t>(half);
            for (std::size_t t = 0; t < count + M; ++t) {
                const std::ptrdiff_t i = first + static_cast<std::ptrdiff_t>(q * t);
                p[t] = i >= 0 && i < static_cast<std::ptrdiff_t>(n) ? x[static_cast<std::size_t>(i)]
                                                                    : 0.0f;
            }
        }
        kernel(out.data() + k0, count, phases.data(), stride, taps.data(), q, M);
    }
    return out;
}

} // namespace sac::dsp
