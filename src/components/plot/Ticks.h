#pragma once

#include <QString>

#include <vector>

// Ticks for the value axes of the inspector's plots, apart from any widget.
namespace plot {

// Whole multiples of a nice step (1, 2 or 5 times a power of ten) within [low, high], about
// `targetCount` of them.
std::vector<double> linearTicks(double low, double high, double targetCount);

// Ticks of a logarithmic axis over [low, high] (both above 0): 1, 2 and 5 times each power of
// ten while that gives at most `maxTicks`, else the powers of ten alone (every second, third...
// decade when even those are too many). Nothing for a range that is not positive.
std::vector<double> logTicks(double low, double high, int maxTicks = 10);

// A tick's value as a person reads it: a plain number while it takes at most eight
// characters, else three significant digits and a power of ten written 1e-5.
QString tickLabel(double value);

} // namespace plot
