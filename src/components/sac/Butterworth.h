#pragma once

#include <span>
#include <vector>

namespace sac::dsp {

// One second-order section, a0 normalised to 1: y = b0 x + b1 x1 + b2 x2 - a1 y1 - a2 y2.
struct Biquad {
    double b0, b1, b2, a1, a2;
};

enum class FilterBand { LowPass, HighPass };

// Digital Butterworth filter as a cascade of biquads: analogue prototype, corner prewarped
// with tan(pi fc dt), bilinear transform s = (z - 1) / (z + 1); an odd order ends with a
// first-order section (b2 = a2 = 0). The -3 dB point lies exactly at the corner.
//
// Policy for values a field can hand us: a corner that is not a number, not positive or not
// below the Nyquist frequency, a sample interval that is not positive, or a pole count outside
// 1..10 gives no sections, which callers treat as "leave the trace unfiltered".
std::vector<Biquad> designButterworth(FilterBand band, int poles, double cornerHz, double delta);

// Runs the cascade with zero initial conditions and no padding. passes >= 2 filters forward
// and then backward (zero phase, squared magnitude); passes <= 0 does nothing.
void applySections(std::span<float> x, std::span<const Biquad> sections, int passes);

} // namespace sac::dsp
