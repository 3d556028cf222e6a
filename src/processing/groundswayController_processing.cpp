// The processing chain every received trace goes through before it is drawn.
#include "app/groundswayController.h"

#include "app/SettingsReader.h"

#include "app/ControlValues.h"
#include "processing/ProcessingChain.h"

#include <QCheckBox>
#include <QLineEdit>

ProcessingOptions groundswayController::processingOptions() const {
    auto factor = [this](const QLineEdit* field, const char* key) {
        return static_cast<int>(settings_->number(field, key, 1, 1000, 2, true));
    };
    ProcessingOptions o;
    o.longPeriod = {isOn(o_.LP_applyFilterButton),
                    settings_->corner(o_.LP_lpcTField, "lpHighFrequencyCorner"),
                    settings_->corner(o_.LP_hpcTField, "lpLowFrequencyCorner"),
                    isOn(o_.LP_wwlpButton),
                    false, // the long-period set has no short-period instrument
                    isOn(o_.LP_decimateButton),
                    factor(o_.LP_decimationFactorTField, "lpDecimationFactor"),
                    isOn(o_.LP_integrateButton)};
    o.broadband = {isOn(o_.BB_applyFilterButton),
                   settings_->corner(o_.BB_lpcTField, "bbHighFrequencyCorner"),
                   settings_->corner(o_.BB_hpcTField, "bbLowFrequencyCorner"),
                   isOn(o_.BB_wwlpButton),
                   isOn(o_.BB_wwspButton),
                   isOn(o_.BB_decimateButton),
                   factor(o_.BB_decimationFactorTField, "bbDecimationFactor"),
                   isOn(o_.BB_integrateButton)};
    return o;
}

void groundswayController::processSeismogram(SacObject& s) {
    processing::run(s, processingOptions()); // the controls are read now, at the moment of use
}
