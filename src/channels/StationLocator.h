#pragma once

#include "base/ChannelId.h"
#include "channels/StationInventory.h"
#include "net/HttpClient.h"

#include <QHash>
#include <QString>

#include <vector>

// Where the stations of a channel list stand, from an FDSN station service: one level=station
// query for every station not yet known, their networks and codes as comma lists.
namespace inventory {

// The query for these stations ("NET.STA" keys), or nothing to ask when the list is empty.
QString stationPlaceQuery(const QString& serviceBase, const QStringList& stations);

// Blocking; any thread. Only the stations asked for are kept.
struct PlaceAnswer {
    QHash<QString, StationPlace> places;
    QString why; // when nothing could be read
};
PlaceAnswer lookUpPlaces(const QString& query, const QStringList& stations,
                         const HttpOptions& options);

// What a trace's tooltip says when its station ("NET.STA") has no coordinates to measure from:
// still being asked for, or none usable from the seismogram's header nor the station service.
QString noPlaceNote(const QString& station, bool stillAsking);

} // namespace inventory
