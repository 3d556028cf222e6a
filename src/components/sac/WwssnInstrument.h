#pragma once

#include <complex>
#include <span>

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

// Multiplies the trace's spectrum by that response (real FFT, zero padded to at least twice
// the length so nothing wraps around) and keeps the first N samples. The zero-frequency bin
// is zero, so the mean goes. Other codes, an empty trace or a bad sample interval leave the
// trace unchanged.
void convolveInstrument(std::span<float> x, double delta, int code);

} // namespace sac::dsp
