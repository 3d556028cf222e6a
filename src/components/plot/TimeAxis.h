#pragma once

#include <QRect>

#include <vector>

// The arithmetic of a horizontal time axis in seconds, apart from any widget.
namespace plot {

// 1, 2 or 5 times a power of ten, near span / count.
double niceStep(double span, double count);

// The times of the ticks across [left, right]: whole multiples of a nice step for about
// `targetCount` ticks, at most `maxTicks` of them. Stepped by an integer index, so it ends even
// where the step is below the resolution of the times (a tiny span far from zero).
std::vector<double> tickTimes(double left, double right, double targetCount, int maxTicks = 200);

// A span of the axis, and how zooming and panning move it.
struct Span {
    double left, right;
};
// Scaled by `factor` (< 1 zooms in) so that the time `about` stays where it is on the screen.
Span zoomedAbout(Span span, double factor, double about);

// Seconds to x pixels across a plot rectangle, and back; a pure pair.
double timeToX(double seconds, double left, double right, const QRect& plot);
double xToTime(double x, double left, double right, const QRect& plot);

} // namespace plot
