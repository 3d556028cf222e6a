#include "geo/Geodesy.h"

#include <GeographicLib/Geodesic.hpp>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace geo {

namespace {

constexpr double kRad = std::numbers::pi / 180.0;
// WGS84, as GeographicLib's own ellipsoid has it.
constexpr double kF = 1.0 / 298.257223563;

// 0 up to 360: GeographicLib gives -180 up to 180. A hair below 0 rounds to 360 when turned
// round, and -0 prints as "-0.000".
double normalised(double degrees) {
    double d = std::fmod(degrees, 360.0);
    if (d < 0)
        d += 360.0;
    return d >= 360.0 ? 0.0 : d + 0.0;
}

double geocentric(double latitudeDegrees) {
    return std::atan((1 - kF) * (1 - kF) * std::tan(latitudeDegrees * kRad));
}

// The great-circle distance (radians) on a sphere, by the haversine: exact near 0 and, with
// the clamp, at the antipode.
double greatCircle(double phi1, double lam1, double phi2, double lam2) {
    const double h = std::pow(std::sin((phi2 - phi1) / 2), 2) +
                     std::cos(phi1) * std::cos(phi2) * std::pow(std::sin((lam2 - lam1) / 2), 2);
    return 2 * std::asin(std::min(1.0, std::sqrt(h)));
}

} // namespace

std::optional<Bearing> bearing(double lat1, double lon1, double lat2, double lon2) {
    for (double v : {lat1, lon1, lat2, lon2})
        if (!std::isfinite(v))
            return std::nullopt;
    if (std::abs(lat1) > 90 || std::abs(lat2) > 90 || std::abs(lon1) > 360 || std::abs(lon2) > 360)
        return std::nullopt;
    Bearing out;
    out.degrees = greatCircle(geocentric(lat1), lon1 * kRad, geocentric(lat2), lon2 * kRad) / kRad;

    double metres = 0, azimuth1 = 0, azimuth2 = 0;
    GeographicLib::Geodesic::WGS84().Inverse(lat1, lon1, lat2, lon2, metres, azimuth1, azimuth2);
    out.kilometres = metres / 1000.0;
    out.azimuth = normalised(azimuth1);
    // The geodesic's heading at the station points away from the epicentre; turned round, it
    // points back.
    out.backAzimuth = normalised(azimuth2 + 180.0);
    return out;
}

} // namespace geo
