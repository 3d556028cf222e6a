#include "components/plot/TimeAxis.h"

#include <algorithm>
#include <cmath>

namespace plot {

double niceStep(double span, double count) {
    const double raw = span / std::max(count, 1.0);
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / mag;
    return (f < 1.5 ? 1.0 : f < 3.5 ? 2.0 : f < 7.5 ? 5.0 : 10.0) * mag;
}

std::vector<double> tickTimes(double left, double right, double targetCount, int maxTicks) {
    std::vector<double> out;
    const double step = niceStep(right - left, targetCount);
    if (!std::isfinite(step) || !(step > 0) || !std::isfinite(left) || !std::isfinite(right))
        return out;
    const double first = std::ceil(left / step);
    const double last = std::floor(right / step + 1e-9);
    const double count = last - first;
    if (!(count >= 0) || count > maxTicks)
        return out;
    // An integer index: "k += 1" on a double as large as 1e19 would never move.
    for (int i = 0; i <= static_cast<int>(count); ++i) {
        const double t = (first + i) * step;
        out.push_back(std::abs(t) < step * 1e-6 ? 0.0 : t);
    }
    return out;
}

Span zoomedAbout(Span span, double factor, double about) {
    return {about - (about - span.left) * factor, about + (span.right - about) * factor};
}

double timeToX(double seconds, double left, double right, const QRect& plot) {
    return plot.left() + (seconds - left) / (right - left) * plot.width();
}

double xToTime(double x, double left, double right, const QRect& plot) {
    return left + (x - plot.left()) / plot.width() * (right - left);
}

} // namespace plot
