// The processing chain every received trace goes through before it is drawn.
#include "app/groundswayController.h"

#include "app/ControlValues.h"
#include "components/sac/SacObject.h"

#include <QCheckBox>
#include <QLineEdit>

namespace {

// The controls of one option set; the long-period set has no short-period instrument.
struct OptionControls {
    QCheckBox* filter;
    QLineEdit* lowPassCorner;
    QLineEdit* highPassCorner;
    QCheckBox* longPeriodInstrument;
    QCheckBox* shortPeriodInstrument;
    QCheckBox* decimate;
    QLineEdit* decimationFactor;
    QCheckBox* integrate;
};

// The options of one set, read from its controls at the moment of use.
struct ProcessingOptions {
    bool filter, longPeriodInstrument, shortPeriodInstrument, decimate, integrate;
    float lowPassCorner, highPassCorner;
    int decimationFactor;

    explicit ProcessingOptions(const OptionControls& c)
        : filter(isOn(c.filter)), longPeriodInstrument(isOn(c.longPeriodInstrument)),
          shortPeriodInstrument(c.shortPeriodInstrument && isOn(c.shortPeriodInstrument)),
          decimate(isOn(c.decimate)), integrate(isOn(c.integrate)),
          lowPassCorner(fieldFloatValue(c.lowPassCorner)),
          highPassCorner(fieldFloatValue(c.highPassCorner)),
          decimationFactor(fieldIntValue(c.decimationFactor)) {}
};

// 10 and 20 go in two stages of at most 5, like SAC's DECIMATE; anything else in one.
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

} // namespace

void groundswayController::processSeismogram(SacObject& s) {
    constexpr float kTaperWidth = 0.05f;
    constexpr int kPasses = 2, kPoles = 2;

    s.ComputeExtrema();
    const bool longPeriod = s.kcmpnm().find('L') != std::string::npos;
    s.SubtractLinearTrend();
    s.RemoveMean();

    const ProcessingOptions o(
        longPeriod ? OptionControls{o_.LP_applyFilterButton, o_.LP_lpcTField, o_.LP_hpcTField,
                                    o_.LP_wwlpButton, nullptr, o_.LP_decimateButton,
                                    o_.LP_decimationFactorTField, o_.LP_integrateButton}
                   : OptionControls{o_.BB_applyFilterButton, o_.BB_lpcTField, o_.BB_hpcTField,
                                    o_.BB_wwlpButton, o_.BB_wwspButton, o_.BB_decimateButton,
                                    o_.BB_decimationFactorTField, o_.BB_integrateButton});

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

    const float rms = static_cast<float>(s.simpleRMS());
    s.ScaleAmplitudes(rms == 0.0f ? 0.0f : 1.0f / rms);
}
