#pragma once

#include <span>
#include <vector>

namespace sac::dsp {

// Anti-alias low-pass for decimation by `factor`: a Kaiser-windowed sinc, symmetric (zero phase),
// cut off at 0.9 of the new Nyquist frequency with its transition band from 0.8 to 1.0 of it,
// designed for 60 dB of stop-band rejection (SAC's dec2..dec5 filters reach about 50 dB with
// about 1 % pass-band ripple; this one measures 0.08 to 0.12 % and 59 to 60 dB). Its DC gain is
// exactly 1. The half length is capped at maxHalfLength taps, since taps beyond the trace only ever
// meet zeros; that keeps memory bounded by the trace, not by the factor a field may hold.
std::vector<double> designDecimationFilter(int factor, std::size_t maxHalfLength);

// Low-pass filtered, then every factor-th sample kept, starting with the first:
// (N - 1) / factor + 1 samples. Samples beyond both ends count as zero, as in SAC's DECIMATE.
// A factor below 2 returns the input unchanged.
std::vector<float> decimate(std::span<const float> x, int factor);

} // namespace sac::dsp
