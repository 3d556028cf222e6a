#pragma once

#include <span>

// Elementary operations on one evenly sampled trace. They accept any length, an empty one
// included, and never read outside the span.
namespace sac::dsp {

// Least-squares straight line against the sample index, subtracted (SAC RTREND).
void removeLinearTrend(std::span<float> x);

// Mean computed in double precision and subtracted (SAC RMEAN).
void removeMean(std::span<float> x);

// SAC's Hanning taper: n = max(2, int(width * (N + 1))) samples at each end, multiplied by
// 0.5 - 0.5 cos(pi j / n), so the first and last samples become zero. Widths that are not a
// number or not positive leave the trace alone; n never exceeds half the trace.
void taperHanning(std::span<float> x, double width);

double rms(std::span<const float> x);

void scale(std::span<float> x, float factor);

} // namespace sac::dsp
