#pragma once

#include <cstddef>
#include <span>
#include <vector>

// Spectra of a trace for a person to look at (the trace inspector), by FFTW.
namespace sac::dsp {

// The one-sided amplitude spectrum of the samples after their mean is removed and a Hann window
// applied: frequency (Hz) and amplitude of every bin from the first above 0 to Nyquist. Empty
// for fewer than 4 samples or an interval that is not positive.
struct AmplitudeSpectrum {
    std::vector<double> frequency, amplitude;
};
AmplitudeSpectrum amplitudeSpectrum(std::span<const float> samples, double delta);

// Amplitude spectra of Hann windows of `windowLength` samples, `overlap` (0 to 0.9) of each
// shared with the next, at most `maxWindows` of them (the step grows for long traces). `level`
// holds log10 of the amplitude, window by window, bins 0 to windowLength / 2.
struct Spectrogram {
    std::size_t windows = 0, bins = 0;
    double firstCentre = 0; // seconds after the first sample, of the first window's centre
    double step = 0;        // seconds between window centres
    double binHz = 0;       // frequency step between bins
    std::vector<float> level;
    float at(std::size_t window, std::size_t bin) const { return level[window * bins + bin]; }
};
Spectrogram spectrogram(std::span<const float> samples, double delta, std::size_t windowLength,
                        double overlap, std::size_t maxWindows = 1200);

} // namespace sac::dsp
