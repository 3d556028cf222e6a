#include "channels/StationLocator.h"

#include "base/UrlText.h"

#include <QSet>

namespace inventory {

QString stationPlaceQuery(const QString& serviceBase, const QStringList& stations) {
    QStringList networks, codes;
    for (const QString& key : stations) {
        const QString net = key.section(u'.', 0, 0), sta = key.section(u'.', 1, 1);
        if (!isChannelCode(net) || !isChannelCode(sta) || net.isEmpty() || sta.isEmpty())
            continue;
        if (!networks.contains(net))
            networks << net;
        if (!codes.contains(sta))
            codes << sta;
    }
    if (networks.isEmpty())
        return {};
    return baseAddress(serviceBase) +
           QStringLiteral("/fdsnws/station/1/query?net=%1&sta=%2&level=station&format=text")
               .arg(networks.join(u','), codes.join(u','));
}

PlaceAnswer lookUpPlaces(const QString& query, const QStringList& stations,
                         const HttpOptions& options) {
    PlaceAnswer out;
    QString why;
    const auto response = httpGet(query, options, &why);
    if (!response) {
        out.why = why;
        return out;
    }
    if (response->status != 200) {
        out.why = QStringLiteral("HTTP status %1").arg(response->status);
        return out;
    }
    const auto places = parseStationPlaces(response->body);
    if (!places) {
        out.why = QStringLiteral("the response is not a station list");
        return out;
    }
    const QSet<QString> wanted(stations.begin(), stations.end());
    for (auto it = places->begin(); it != places->end(); ++it)
        if (wanted.contains(it.key()))
            out.places.insert(it.key(), it.value());
    return out;
}

QString noPlaceNote(const QString& station, bool stillAsking) {
    const QString who = station.isEmpty() ? QStringLiteral("this station") : station;
    if (stillAsking)
        return QStringLiteral("Asking the station service where %1 stands...").arg(who);
    return QStringLiteral("No usable coordinates for %1: neither its seismogram nor the station "
                          "service gives a latitude and longitude in range, so it shows no "
                          "distance and no predicted arrivals.")
        .arg(who);
}

} // namespace inventory
