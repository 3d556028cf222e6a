#pragma once

#include "processing/ProcessingOptions.h"

class SacObject;

namespace processing {

// Extrema, trend and mean removal, the option set the component name selects (a capital L:
// long period, else broadband), then unit-RMS scaling, in place. Touches no widget, so it may
// run on any thread.
void run(SacObject& seismogram, const ProcessingOptions& options);
// The same without the final scaling, for traces that share one scale.
void runSteps(SacObject& seismogram, const ProcessingOptions& options);

// 10 and 20 go in two stages of at most 5, like SAC's DECIMATE; anything else in one.
void decimateBy(SacObject& seismogram, int factor);

} // namespace processing
