#include "components/catalog/FdsnEventText.h"

#include "base/DateText.h"
#include "base/FdsnText.h"
#include "geo/FlinnEngdahl.h"

#include <QStringList>

#include <array>
#include <cmath>

namespace {

// Columns of the FDSN event text format (USGS ComCat's header, exact).
constexpr std::array<const char*, 8> kNeeded = {
    "eventid",  "time",    "latitude",  "longitude",
    "depth/km", "magtype", "magnitude", "eventlocationname"};
constexpr std::array<int, 8> kStandardPositions = {0, 1, 2, 3, 4, 9, 10, 12};

// Depths in km (down is positive): catalogues put shallow events in mountains a few km above sea
// level, and the deepest earthquakes known lie near 700 km.
constexpr double kHighestDepthKm = -15, kDeepestDepthKm = 800;

std::optional<double> number(QStringView text) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(v) ? std::optional(v) : std::nullopt;
}

} // namespace

std::optional<std::vector<SeismicOrigin>> parseEventText(QByteArrayView body, int* skippedLines) {
    const FdsnTextTable table = readFdsnText(body);
    // Without a header, the columns stand where ComCat puts them.
    std::array<int, kNeeded.size()> pos = kStandardPositions;
    if (table.hasHeader) {
        for (std::size_t k = 0; k < kNeeded.size(); ++k)
            pos[k] = table.column(QString::fromLatin1(kNeeded[k]));
        // Older FDSN services name the depth column plainly.
        if (pos[4] < 0)
            pos[4] = table.column(QStringLiteral("depth"));
    }
    int skipped = 0;
    std::vector<SeismicOrigin> out;
    for (const QStringList& row : table.rows) {
        auto field = [&](std::size_t k) -> std::optional<QString> {
            if (pos[k] < 0 || pos[k] >= row.size())
                return std::nullopt;
            return row[pos[k]];
        };
        const auto id = field(0), time = field(1), lat = field(2), lon = field(3), depth = field(4),
                   magType = field(5), mag = field(6), region = field(7);
        std::optional<SeismicOrigin::Date> when;
        std::optional<double> latV, lonV, magV, depthV;
        if (time)
            when = datetext::parseCatalogTime(*time);
        if (lat)
            latV = number(*lat);
        if (lon)
            lonV = number(*lon);
        if (mag)
            magV = number(*mag);
        // A depth that is no number at all is unknown; a number that is none (NaN, infinite)
        // or lies above the highest mountains or below the deepest earthquakes means a broken
        // line, as does a magnitude beyond any ever measured.
        bool depthBroken = false;
        if (depth) {
            bool readable = false;
            const double d = depth->trimmed().toDouble(&readable);
            if (readable && std::isfinite(d) && d >= kHighestDepthKm && d <= kDeepestDepthKm)
                depthV = d;
            depthBroken = readable && !depthV;
        }
        if (!id || !when || !latV || !lonV || !magV || std::abs(*latV) > 90 ||
            std::abs(*lonV) > 360 || *magV < -3 || *magV > 12 || depthBroken) {
            ++skipped;
            continue;
        }
        SeismicOrigin o;
        o.eventId = *id;
        o.originTime = *when;
        o.latitude = *latV;
        o.longitude = *lonV;
        o.depthKm = depthV;
        o.mag = *magV;
        o.magnitudeType = magType.value_or(QString());
        o.region = region.value_or(QString());
        if (const auto fe = geo::flinnEngdahlRegion(o.latitude, o.longitude))
            o.feRegion = QString::fromStdString(geo::titleCase(fe->name));
        out.push_back(std::move(o));
    }
    if (skippedLines)
        *skippedLines = skipped;
    if (!table.hasHeader && out.empty())
        return std::nullopt;
    return out;
}
