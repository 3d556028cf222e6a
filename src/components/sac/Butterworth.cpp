#include "components/sac/Butterworth.h"

#include <cmath>
#include <numbers>

namespace sac::dsp {

namespace {

template <class It> void runCascade(It first, It last, std::span<const Biquad> sections) {
    for (const Biquad& s : sections) {
        double z1 = 0, z2 = 0; // transposed direct form II state
        for (It it = first; it != last; ++it) {
            const double in = *it;
            const double out = s.b0 * in + z1;
            z1 = s.b1 * in - s.a1 * out + z2;
            z2 = s.b2 * in - s.a2 * out;
            *it = static_cast<float>(out);
        }
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
    runCascade(x.begin(), x.end(), sections);
    if (passes >= 2)
        runCascade(x.rbegin(), x.rend(), sections);
}

} // namespace sac::dsp
