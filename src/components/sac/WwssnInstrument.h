#pragma once

#include "components/sac/Butterworth.h"

#include <complex>
#include <cstddef>
#include <span>
#include <vector>

namespace sac::dsp {

enum InstrumentCode { WwssnLongPeriod = 1, WwssnShortPeriod = 2 };

// Velocity-input response of a WWSSN seismograph at frequency f (Hz): the instrument's
// displacement response divided by s = i 2 pi f, scaled to unit amplitude at 15 s (long
// period) or 1 s (short period). Any other code answers 1 (no instrument).
//
// Code 1: the 15-100 electromagnetic long-period seismograph after Hagiwara (1958) with
// Chandra's (1970) coupling, pendulum 15 s, galvanometer 100 s, damping 0.93 and 1.0,
// coupling 0.047 (magnification 1500), as in SAC's ELMAG instrument.
// Code 2: the Blacknest WWSSN short-period poles (SAC's WWSPBN).
std::complex<double> wwssnVelocityResponse(int code, double frequencyHz);

// That response for samples taken every delta seconds, as a recursive filter and a short
// correction. The sections, run side by side and summed, are the response's own modes sampled
// (impulse invariance: exact poles and residues, so the slow galvanometer decay costs nothing);
// the correction taps add back what sampling folds in from above the Nyquist frequency. Together
// they give the analogue response cut at the Nyquist frequency, within 1e-4 of the output's RMS
// for white noise where the response is small at Nyquist (the long-period one from 1 sample/s
// up, the short-period one from about 50); `residual` says how near a design comes. The
// two-sided form also looks ahead, as a whole trace allows; the causal form keeps only what is
// known at each sample. Both have a zero-frequency gain of exactly zero.
struct WwssnFilter {
    std::vector<Biquad> sections; // in parallel, from the same input
    std::vector<double> taps;     // taps[j] weighs the input (j - lead) samples back
    std::size_t lead = 0;         // taps that look ahead
    double residual = 0;          // what the cut taps leave, relative to the output's RMS
    bool empty() const { return sections.empty() && taps.empty(); }
};
enum class WwssnForm { TwoSided, Causal };
// Empty for other codes, or for an interval that is not a positive finite number.
WwssnFilter designWwssnFilter(int code, double delta, WwssnForm form);
// The filter's response at omega radians per sample.
std::complex<double> filterResponse(const WwssnFilter& filter, double omega);

// Applies that response to a trace as if it were zero before and after, so the mean goes: the
// two-sided filter, or the whole trace's spectrum multiplied by the response (zero padded to
// twice the length) when the filter cannot come within 2e-3 (a response still large at Nyquist,
// such as the short-period one below 20 samples/s). Other codes, an empty trace or a bad
// sample interval leave the trace unchanged.
void convolveInstrument(std::span<float> x, double delta, int code);

} // namespace sac::dsp
