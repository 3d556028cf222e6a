#include "processing/ProcessingChain.h"

#include "components/sac/SacObject.h"

namespace processing {

void decimateBy(SacObject& s, int factor) {
    if (factor == 10) {
        s.Decimate(5);
        s.Decimate(2);
    } else if (factor == 20) {
        s.Decimate(5);
        s.Decimate(4);
    } else {
        s.Decimate(factor);
    }
}

void run(SacObject& s, const ProcessingOptions& options) {
    runSteps(s, options);
    const float rms = static_cast<float>(s.simpleRMS());
    s.ScaleAmplitudes(rms == 0.0f ? 0.0f : 1.0f / rms);
}

void runSteps(SacObject& s, const ProcessingOptions& options) {
    constexpr float kTaperWidth = 0.05f;
    constexpr int kPasses = 2, kPoles = 2;

    s.ComputeExtrema();
    const bool longPeriod = s.kcmpnm().find('L') != std::string::npos;
    s.SubtractLinearTrend();
    s.RemoveMean();

    ProcessingOptionSet o = longPeriod ? options.longPeriod : options.broadband;
    if (longPeriod)
        o.shortPeriodInstrument = false; // the long-period set has no such box
    if (o.filter) {
        s.Taper(kTaperWidth);
        s.LPBUfilter(o.lowPassCorner, kPasses, kPoles);
        s.HPBUfilter(o.highPassCorner, kPasses, kPoles);
    }
    if (o.longPeriodInstrument)
        s.ConvolveInstrument(1);
    if (o.shortPeriodInstrument)
        s.ConvolveInstrument(2);
    if (o.decimate) {
        decimateBy(s, o.decimationFactor);
        // Broadband traces are detrended again after decimation; long-period ones are not.
        if (!longPeriod) {
            s.SubtractLinearTrend();
            s.RemoveMean();
        }
    }
    if (o.integrate)
        s.Integrate();
}

} // namespace processing
