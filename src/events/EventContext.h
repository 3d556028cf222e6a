#pragma once

#include "base/Time.h"
#include "components/SeismicOrigin.h"

#include <QHash>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

// An earthquake's context on each row of the display, from values alone: where the row's station
// stands from the epicentre, when the main phases should arrive there, and the window in which
// the surface waves pass. Runs on any thread.
namespace context {

struct Place {
    double latitude = 0, longitude = 0;
    friend bool operator==(const Place&, const Place&) = default;
};

struct RowContext {
    double degrees = 0, backAzimuth = 0;
    QString note;                                // "35.7°  BAz 322°"
    std::vector<std::pair<Time, QString>> marks; // predicted arrivals, earliest first
    std::optional<std::pair<Time, Time>> band;   // the surface-wave window
};

// Surface waves travel between these group velocities (km/s).
inline constexpr double kFastSurfaceWave = 4.0, kSlowSurfaceWave = 3.5;
// A source deeper than this, or not a number, is not a depth the travel times can use.
inline constexpr double kDeepestSource = 700.0;

// The context of each station ("NET.STA", empty for a row that names none) for the origin, with
// the travel times of the model named ("iasp91" or "ak135"); nothing for a station without a
// place, or one that is not a place on Earth. A depth the catalogue did not give is taken as
// 10 km; one outside 0 to 700 km gives distances but no arrivals.
std::vector<std::optional<RowContext>> rowContexts(const SeismicOrigin& origin,
                                                   const QString& modelName,
                                                   const std::vector<QString>& stations,
                                                   const QHash<QString, Place>& places);

// The newest origin inside [from, to], if any: the one a monitor or a typed window shows.
std::optional<SeismicOrigin> newestIn(const std::vector<SeismicOrigin>& origins, Time from,
                                      Time to);

// A row order: by distance, nearest first, rows without one last and each kept together with
// the rows of its channel; ties and the rest in the table's order.
std::vector<std::size_t> byDistance(const std::vector<double>& distance,
                                    const std::vector<int>& tableRow);

} // namespace context
