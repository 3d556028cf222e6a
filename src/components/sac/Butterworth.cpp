#include "components/sac/Butterworth.h"

#include <cmath>
#include <numbers>

namespace sac::dsp {

namespace {

// A section as a state-space system over the transposed direct form II state s = (z1, z2):
// y = s1 + b0 x, s' = A s + B x, with A = [[-a1, 1], [-a2, 0]] and B = (b1 - a1 b0, b2 - a2 b0).
// Four samples at a time: the state jumps by A^4 and the outputs are sums over the block, so
// the chain of dependent operations is one step per four samples, not one per sample (the
// recursion, not the arithmetic, bounds a long trace). The results agree with the sample-by-
// sample form to rounding.
struct Block4 {
    double d;            // b0
    double h[3];         // C A^(k-1) B, k = 1..3: the response to an input k samples back
    double c[4][2];      // C A^k, k = 0..3: the response of output k to the state
    double a4[2][2];     // A^4
    double g[4][2];      // A^(3-k) B, k = 0..3: the state's response to input k

    explicit Block4(const Biquad& q) {
        const double A[2][2] = {{-q.a1, 1.0}, {-q.a2, 0.0}};
        const double B[2] = {q.b1 - q.a1 * q.b0, q.b2 - q.a2 * q.b0};
        auto mul = [](const double (&l)[2][2], const double (&r)[2][2], double (&out)[2][2]) {
            for (int i = 0; i < 2; ++i)
                for (int j = 0; j < 2; ++j)
                    out[i][j] = l[i][0] * r[0][j] + l[i][1] * r[1][j];
        };
        double P[5][2][2] = {{{1, 0}, {0, 1}}};
        for (int k = 1; k <= 4; ++k)
            mul(P[k - 1], A, P[k]);
        d = q.b0;
        for (int k = 0; k < 4; ++k) {
            c[k][0] = P[k][0][0];
            c[k][1] = P[k][0][1];
            for (int i = 0; i < 2; ++i)
                g[k][i] = P[3 - k][i][0] * B[0] + P[3 - k][i][1] * B[1];
        }
        for (int k = 1; k <= 3; ++k)
            h[k - 1] = P[k - 1][0][0] * B[0] + P[k - 1][0][1] * B[1];
        for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 2; ++j)
                a4[i][j] = P[4][i][j];
    }
};

// One section over n samples starting at p, stepping by `stride` (+1 forward, -1 backward).
void runSection(float* p, std::ptrdiff_t n, std::ptrdiff_t stride, const Biquad& q) {
    const Block4 k(q);
    double s0 = 0, s1 = 0;
    std::ptrdiff_t i = 0;
    for (; i + 4 <= n; i += 4) {
        float* at = p + i * stride;
        const double x0 = at[0], x1 = at[stride], x2 = at[2 * stride], x3 = at[3 * stride];
        const double y0 = s0 + k.d * x0;
        const double y1 = k.c[1][0] * s0 + k.c[1][1] * s1 + k.h[0] * x0 + k.d * x1;
        const double y2 = k.c[2][0] * s0 + k.c[2][1] * s1 + k.h[1] * x0 + k.h[0] * x1 + k.d * x2;
        const double y3 = k.c[3][0] * s0 + k.c[3][1] * s1 + k.h[2] * x0 + k.h[1] * x1 +
                          k.h[0] * x2 + k.d * x3;
        const double u0 = k.g[0][0] * x0 + k.g[1][0] * x1 + k.g[2][0] * x2 + k.g[3][0] * x3;
        const double u1 = k.g[0][1] * x0 + k.g[1][1] * x1 + k.g[2][1] * x2 + k.g[3][1] * x3;
        const double n0 = k.a4[0][0] * s0 + k.a4[0][1] * s1 + u0;
        const double n1 = k.a4[1][0] * s0 + k.a4[1][1] * s1 + u1;
        s0 = n0;
        s1 = n1;
        at[0] = static_cast<float>(y0);
        at[stride] = static_cast<float>(y1);
        at[2 * stride] = static_cast<float>(y2);
        at[3 * stride] = static_cast<float>(y3);
    }
    for (; i < n; ++i) { // the last few, one by one, from the same state
        float* at = p + i * stride;
        const double in = *at;
        const double out = q.b0 * in + s0;
        s0 = q.b1 * in - q.a1 * out + s1;
        s1 = q.b2 * in - q.a2 * out;
        *at = static_cast<float>(out);
    }
}

} // namespace

std::vector<Biquad> designButterworth(FilterBand band, int poles, double cornerHz, double delta) {
    std::vector<Biquad> sections;
    if (!(delta > 0) || !std::isfinite(delta) || !(cornerHz > 0) || poles < 1 || poles > 10)
        return sections;
    const double nyquist = 0.5 / delta;
    if (!(cornerHz < nyquist))
        return sections;

    const double w = std::tan(std::numbers::pi * cornerHz * delta); // prewarped corner
    const double w2 = w * w;
    const bool low = band == FilterBand::LowPass;
    for (int k = 0; k < poles / 2; ++k) {
        // Prototype pole pair on the unit circle, left half plane.
        const double angle = std::numbers::pi * (2.0 * k + poles + 1) / (2.0 * poles);
        const double sigma = std::cos(angle); // negative
        const double a0 = 1.0 - 2.0 * sigma * w + w2;
        Biquad s{};
        if (low) {
            s.b0 = w2 / a0;
            s.b1 = 2.0 * w2 / a0;
            s.b2 = w2 / a0;
        } else {
            s.b0 = 1.0 / a0;
            s.b1 = -2.0 / a0;
            s.b2 = 1.0 / a0;
        }
        s.a1 = (2.0 * w2 - 2.0) / a0;
        s.a2 = (1.0 + 2.0 * sigma * w + w2) / a0;
        sections.push_back(s);
    }
    if (poles % 2 == 1) {
        const double a0 = 1.0 + w;
        Biquad s{};
        s.b0 = (low ? w : 1.0) / a0;
        s.b1 = (low ? w : -1.0) / a0;
        s.a1 = (w - 1.0) / a0;
        sections.push_back(s);
    }
    return sections;
}

void applySections(std::span<float> x, std::span<const Biquad> sections, int passes) {
    if (passes <= 0 || sections.empty() || x.empty())
        return;
    const auto n = static_cast<std::ptrdiff_t>(x.size());
    for (const Biquad& s : sections)
        runSection(x.data(), n, 1, s);
    if (passes >= 2)
        for (const Biquad& s : sections)
            runSection(x.data() + (n - 1), n, -1, s);
}

} // namespace sac::dsp
