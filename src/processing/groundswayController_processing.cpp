// The processing chain every received trace goes through before it is drawn.
#include "app/groundswayController.h"

#include "app/SettingsReader.h"

#include "processing/ProcessingChain.h"

ProcessingOptions groundswayController::processingOptions() const {
    return settings_->processingOptions(); // the controls as they are now
}

void groundswayController::processSeismogram(SacObject& s) {
    processing::run(s, processingOptions()); // the controls are read now, at the moment of use
}
