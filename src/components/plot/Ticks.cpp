#include "components/plot/Ticks.h"

#include "components/plot/TimeAxis.h"

#include <cmath>

namespace plot {

std::vector<double> linearTicks(double low, double high, double targetCount) {
    if (!(high > low))
        return {};
    return tickTimes(low, high, targetCount, 100);
}

std::vector<double> logTicks(double low, double high, int maxTicks) {
    std::vector<double> out;
    if (!(low > 0) || !(high > low) || !std::isfinite(high) || maxTicks < 1)
        return out;
    // A little slack, so a range that ends on a tick keeps it despite rounding.
    const double lo = low * (1 - 1e-9), hi = high * (1 + 1e-9);
    const int first = static_cast<int>(std::floor(std::log10(lo)));
    const int last = static_cast<int>(std::ceil(std::log10(hi)));
    for (int d = first; d <= last; ++d)
        for (const double m : {1.0, 2.0, 5.0}) {
            const double v = m * std::pow(10.0, d);
            if (v >= lo && v <= hi)
                out.push_back(v);
        }
    if (static_cast<int>(out.size()) <= maxTicks)
        return out;
    out.clear();
    // The powers of ten inside the range, every n-th counted from 1 so the axis keeps 1.
    const int lowest = static_cast<int>(std::ceil(std::log10(lo)));
    const int highest = static_cast<int>(std::floor(std::log10(hi)));
    const int every = (highest - lowest + 1 + maxTicks - 1) / maxTicks;
    for (int d = lowest; d <= highest; ++d)
        if ((d % every + every) % every == 0)
            out.push_back(std::pow(10.0, d));
    return out;
}

QString tickLabel(double value) {
    if (value == 0 || !std::isfinite(value))
        return value == 0 ? QStringLiteral("0") : QString::number(value);
    const QString plain = QString::number(value, 'g', 6);
    if (!plain.contains(u'e') && plain.size() <= 8)
        return plain;
    // 1e-05 from Qt reads better as 1e-5.
    QString text = QString::number(value, 'e', 2);
    const qsizetype e = text.indexOf(u'e');
    QString mantissa = text.left(e), power = text.mid(e + 1);
    if (mantissa.contains(u'.')) {
        while (mantissa.endsWith(u'0'))
            mantissa.chop(1);
        if (mantissa.endsWith(u'.'))
            mantissa.chop(1);
    }
    const bool negative = power.startsWith(u'-');
    power.remove(0, power.startsWith(u'+') || negative ? 1 : 0);
    while (power.size() > 1 && power.startsWith(u'0'))
        power.remove(0, 1);
    return mantissa + u'e' + (negative ? QStringLiteral("-") : QString()) + power;
}

} // namespace plot
