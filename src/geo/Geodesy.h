#pragma once

#include <optional>

// Where a station lies from an epicentre, on the WGS84 ellipsoid.
namespace geo {

struct Bearing {
    double degrees = 0;     // geocentric great-circle distance, for travel times
    double kilometres = 0;  // geodesic distance on the ellipsoid
    double azimuth = 0;     // from the epicentre towards the station, degrees from north
    double backAzimuth = 0; // from the station towards the epicentre
};

// Distances and azimuths between two points given by geographic latitude and longitude
// (degrees). The kilometres and azimuths are the geodesic on the ellipsoid by Karney's method
// (GeographicLib), exact to round-off everywhere, nearly antipodal points included; azimuths
// run from 0 up to 360. The degrees are the great circle between the geocentric latitudes, as
// seismological travel-time tables measure distance. Nothing for coordinates out of range or
// not numbers.
std::optional<Bearing> bearing(double lat1, double lon1, double lat2, double lon2);

} // namespace geo
