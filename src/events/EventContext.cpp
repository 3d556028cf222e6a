#include "events/EventContext.h"

#include "geo/Geodesy.h"
#include "geo/TravelTimes.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace context {

std::vector<std::optional<RowContext>> rowContexts(const SeismicOrigin& origin,
                                                   const QString& modelName,
                                                   const std::vector<QString>& stations,
                                                   const QHash<QString, Place>& places) {
    std::vector<std::optional<RowContext>> out(stations.size());
    const auto model = geo::TravelTimes::model(modelName.toStdString());
    const double depth = origin.depthKm.value_or(10.0);
    const bool usableDepth = std::isfinite(depth) && depth >= 0 && depth <= kDeepestSource;
    QHash<QString, std::optional<RowContext>> done; // a station's rows share one context
    for (std::size_t i = 0; i < stations.size(); ++i) {
        const QString& key = stations[i];
        if (const auto seen = done.find(key); seen != done.end()) {
            out[i] = *seen;
            continue;
        }
        std::optional<RowContext>& row = done[key];
        const auto place = places.find(key);
        if (!key.isEmpty() && place != places.end()) {
            if (const auto b = geo::bearing(origin.latitude, origin.longitude, place->latitude,
                                            place->longitude)) {
                RowContext c;
                c.degrees = b->degrees;
                c.backAzimuth = b->backAzimuth;
                c.note = QStringLiteral("%1\u00b0  BAz %2\u00b0")
                             .arg(b->degrees, 0, 'f', 1)
                             .arg(b->backAzimuth, 0, 'f', 0);
                if (model && usableDepth)
                    for (const geo::Arrival& a : model->arrivals(depth, b->degrees))
                        c.marks.emplace_back(civil::addSeconds(origin.originTime, a.seconds),
                                             QString::fromStdString(a.phase));
                c.band = std::pair{
                    civil::addSeconds(origin.originTime, b->kilometres / kFastSurfaceWave),
                    civil::addSeconds(origin.originTime, b->kilometres / kSlowSurfaceWave)};
                row = std::move(c);
            }
        }
        out[i] = row;
    }
    return out;
}

std::optional<SeismicOrigin> newestIn(const std::vector<SeismicOrigin>& origins, Time from,
                                      Time to) {
    std::optional<SeismicOrigin> newest;
    for (const SeismicOrigin& o : origins)
        if (o.originTime >= from && o.originTime <= to &&
            (!newest || o.originTime > newest->originTime))
            newest = o;
    return newest;
}

std::vector<std::size_t> byDistance(const std::vector<double>& distance,
                                    const std::vector<int>& tableRow) {
    std::vector<std::size_t> order(distance.size());
    std::iota(order.begin(), order.end(), 0);
    auto rowOf = [&](std::size_t k) { return k < tableRow.size() ? tableRow[k] : 0; };
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const double da = std::isfinite(distance[a]) ? distance[a] : HUGE_VAL;
        const double db = std::isfinite(distance[b]) ? distance[b] : HUGE_VAL;
        return std::pair(da, rowOf(a)) < std::pair(db, rowOf(b));
    });
    return order;
}

} // namespace context
