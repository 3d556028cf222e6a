#include "components/sac/Spectrum.h"

#include "components/sac/Fftw.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace sac::dsp {

namespace {

double hann(std::size_t i, std::size_t n) {
    return 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n - 1));
}

} // namespace

AmplitudeSpectrum amplitudeSpectrum(std::span<const float> x, double delta) {
    AmplitudeSpectrum out;
    const std::size_t n = x.size();
    if (n < 4 || !(delta > 0) || n > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return out;
    double mean = 0;
    for (float v : x)
        mean += std::isfinite(v) ? v : 0.0f;
    mean /= static_cast<double>(n);
    const std::size_t bins = n / 2 + 1;
    FftwBuffer<double> time(n);
    FftwBuffer<fftw_complex> spectrum(bins);
    if (!time || !spectrum)
        return out;
    const int len = static_cast<int>(n);
    const FftwPlan plan = planFftw(
        [&] { return fftw_plan_dft_r2c_1d(len, time.data(), spectrum.data(), FFTW_ESTIMATE); });
    if (!plan)
        return out;
    double windowSum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double w = hann(i, n);
        windowSum += w;
        time[i] = (std::isfinite(x[i]) ? x[i] - mean : 0.0) * w;
    }
    plan.execute();
    // Scaled so a sine of amplitude A shows a peak of about A.
    const double norm = 2.0 / windowSum;
    out.frequency.reserve(bins - 1);
    out.amplitude.reserve(bins - 1);
    for (std::size_t k = 1; k < bins; ++k) {
        out.frequency.push_back(static_cast<double>(k) / (static_cast<double>(n) * delta));
        out.amplitude.push_back(std::hypot(spectrum[k][0], spectrum[k][1]) * norm);
    }
    return out;
}

Spectrogram spectrogram(std::span<const float> x, double delta, std::size_t windowLength,
                        double overlap, std::size_t maxWindows) {
    Spectrogram out;
    const std::size_t n = x.size();
    if (windowLength < 4 || n < windowLength || !(delta > 0) || maxWindows == 0 ||
        windowLength > (1u << 24))
        return out;
    overlap = std::clamp(overlap, 0.0, 0.9);
    std::size_t step = std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(
                                                     static_cast<double>(windowLength) * (1 - overlap))));
    std::size_t windows = (n - windowLength) / step + 1;
    if (windows > maxWindows) {
        step = (n - windowLength) / (maxWindows - 1 == 0 ? 1 : maxWindows - 1);
        step = std::max<std::size_t>(step, 1);
        windows = (n - windowLength) / step + 1;
    }
    out.windows = windows;
    out.bins = windowLength / 2 + 1;
    out.step = static_cast<double>(step) * delta;
    out.firstCentre = 0.5 * static_cast<double>(windowLength - 1) * delta;
    out.binHz = 1.0 / (static_cast<double>(windowLength) * delta);
    out.level.assign(windows * out.bins, 0.0f);

    FftwBuffer<double> time(windowLength);
    FftwBuffer<fftw_complex> spectrum(out.bins);
    if (!time || !spectrum)
        return {};
    const int len = static_cast<int>(windowLength);
    const FftwPlan plan = planFftw(
        [&] { return fftw_plan_dft_r2c_1d(len, time.data(), spectrum.data(), FFTW_ESTIMATE); });
    if (!plan)
        return {};
    std::vector<double> window(windowLength);
    double windowSum = 0;
    for (std::size_t i = 0; i < windowLength; ++i)
        windowSum += window[i] = hann(i, windowLength);
    const double norm = 2.0 / windowSum;
    for (std::size_t w = 0; w < windows; ++w) {
        const std::size_t first = w * step;
        double mean = 0;
        for (std::size_t i = 0; i < windowLength; ++i)
            mean += std::isfinite(x[first + i]) ? x[first + i] : 0.0f;
        mean /= static_cast<double>(windowLength);
        for (std::size_t i = 0; i < windowLength; ++i) {
            const float v = x[first + i];
            time[i] = (std::isfinite(v) ? v - mean : 0.0) * window[i];
        }
        plan.execute();
        for (std::size_t k = 0; k < out.bins; ++k) {
            const double a = std::hypot(spectrum[k][0], spectrum[k][1]) * norm;
            // A floor far below anything real keeps log10 finite.
            out.level[w * out.bins + k] = static_cast<float>(std::log10(std::max(a, 1e-30)));
        }
    }
    return out;
}

} // namespace sac::dsp
