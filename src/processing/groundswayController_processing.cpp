// The processing chain every received trace goes through before it is drawn.
#include "app/groundswayController.h"

#include "app/ControlValues.h"
#include "processing/ProcessingChain.h"

#include <QCheckBox>
#include <QLineEdit>

ProcessingOptions groundswayController::processingOptions() const {
    // The long-period set has no short-period instrument box.
    auto set = [](QCheckBox* filter, QLineEdit* lpc, QLineEdit* hpc, QCheckBox* wwlp,
                  QCheckBox* wwsp, QCheckBox* decimate, QLineEdit* factor, QCheckBox* integrate) {
        return ProcessingOptionSet{isOn(filter),          fieldFloatValue(lpc),
                                   fieldFloatValue(hpc),  isOn(wwlp),
                                   wwsp && isOn(wwsp),    isOn(decimate),
                                   fieldIntValue(factor), isOn(integrate)};
    };
    return {set(o_.LP_applyFilterButton, o_.LP_lpcTField, o_.LP_hpcTField, o_.LP_wwlpButton,
                nullptr, o_.LP_decimateButton, o_.LP_decimationFactorTField, o_.LP_integrateButton),
            set(o_.BB_applyFilterButton, o_.BB_lpcTField, o_.BB_hpcTField, o_.BB_wwlpButton,
                o_.BB_wwspButton, o_.BB_decimateButton, o_.BB_decimationFactorTField,
                o_.BB_integrateButton)};
}

void groundswayController::processSeismogram(SacObject& s) {
    processing::run(s, processingOptions()); // the controls are read now, at the moment of use
}
