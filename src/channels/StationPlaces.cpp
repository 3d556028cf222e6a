#include "channels/StationPlaces.h"

#include "channels/StationLocator.h"
#include "components/sac/SacObject.h"

#include <cmath>

StationPlaces::StationPlaces(QObject* parent) : QObject(parent) {}

void StationPlaces::learn(const QString& station, inventory::StationPlace place) {
    if (!station.isEmpty())
        places_.insert(station, place);
}

std::optional<inventory::StationPlace> StationPlaces::place(const QString& station) const {
    const auto it = places_.find(station);
    if (it == places_.end())
        return std::nullopt;
    return *it;
}

QString StationPlaces::keyOf(const SacObject* s) {
    const sac::SacHeader* h = s ? s->GetSacHeader() : nullptr;
    if (!h)
        return {};
    const QString net = QString::fromStdString(h->getText(sac::text::KNETWK)).trimmed();
    const QString sta = QString::fromStdString(h->getText(sac::text::KSTNM)).trimmed();
    if (net.isEmpty() || sta.isEmpty() || net.startsWith(u"-12345") || sta.startsWith(u"-12345"))
        return {};
    return net + u'.' + sta;
}

QStringList StationPlaces::learnFromHeaders(const std::vector<std::unique_ptr<SacObject>>& traces) {
    QStringList stations;
    for (const auto& w : traces) {
        const QString key = keyOf(w.get());
        if (key.isEmpty())
            continue;
        stations << key;
        const sac::SacHeader* h = w->GetSacHeader();
        const float lat = h->getFloat(sac::word::STLA), lon = h->getFloat(sac::word::STLO);
        if (!place(key) && lat != sac::kUndefinedFloat && lon != sac::kUndefinedFloat &&
            std::isfinite(lat) && std::isfinite(lon) && std::abs(lat) <= 90 && std::abs(lon) <= 360)
            learn(key, {lat, lon});
    }
    return stations;
}

void StationPlaces::locate(const QStringList& stations, const QString& serviceBase,
                           const HttpOptions& options) {
    QStringList unknown;
    for (const QString& key : stations)
        if (!key.isEmpty() && !places_.contains(key) && !asked_.contains(key) &&
            !unknown.contains(key))
            unknown << key;
    const QString query = inventory::stationPlaceQuery(serviceBase, unknown);
    if (query.isEmpty() || serviceBase.isEmpty())
        return;
    for (const QString& key : unknown)
        asked_.insert(key);
    lookup_.run(
        [query, unknown, options](const std::atomic<bool>& cancelled) {
            HttpOptions o = options;
            o.cancel = &cancelled;
            return inventory::lookUpPlaces(query, unknown, o);
        },
        // A station the service cannot place simply shows no distance and no marks.
        [this](inventory::PlaceAnswer answer) {
            for (auto it = answer.places.begin(); it != answer.places.end(); ++it)
                places_.insert(it.key(), it.value());
            Q_EMIT located(!answer.places.isEmpty());
        });
}
