#pragma once

#include "components/AvailableChannel.h"

#include <QByteArrayView>
#include <QHash>
#include <QString>

#include <optional>
#include <vector>

// Reading the FDSN station service's text format.
namespace inventory {

// Station names from a level=station answer, keyed "NET.STA". Nothing when the body has no
// header line naming the network, station and site name columns.
std::optional<QHash<QString, QString>> parseStationNames(QByteArrayView body);

// Where stations stand, from a level=station answer, keyed "NET.STA": latitude and longitude
// in degrees. Rows without readable coordinates in range are left out. Nothing when the body
// has no header naming the network, station, latitude and longitude columns.
struct StationPlace {
    double latitude = 0, longitude = 0;
};
std::optional<QHash<QString, StationPlace>> parseStationPlaces(QByteArrayView body);

// Channels from a level=channel answer, labelled with the station's name where `names` has it,
// else with the station code. A blank location becomes "--", as the time-series service wants
// it. Characters that would break a channel list line (";", line breaks) become blanks. Rows
// whose codes are not letters and digits (isChannelCode) are left out and counted in `leftOut`.
// Nothing when the body has no header naming the network, station, location and channel columns.
std::optional<std::vector<AvailableChannel>> parseChannels(QByteArrayView body,
                                                           const QHash<QString, QString>& names,
                                                           int* leftOut = nullptr);

} // namespace inventory
