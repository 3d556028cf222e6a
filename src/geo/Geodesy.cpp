#include "geo/Geodesy.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace geo {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRad = kPi / 180.0;
// WGS84.
constexpr double kA = 6378137.0;
constexpr double kF = 1.0 / 298.257223563;
constexpr double kB = kA * (1 - kF);
constexpr double kMeanRadius = 6371008.8;

double normalised(double degrees) {
    double d = std::fmod(degrees, 360.0);
    if (d < 0)
        d += 360.0;
    return d;
}

double geocentric(double latitudeDegrees) {
    return std::atan((1 - kF) * (1 - kF) * std::tan(latitudeDegrees * kRad));
}

// The great circle on a sphere: distance (radians) and the azimuth from the first point.
void greatCircle(double phi1, double lam1, double phi2, double lam2, double* distance,
                 double* azimuth) {
    const double dl = lam2 - lam1;
    const double y = std::sin(dl) * std::cos(phi2);
    const double x = std::cos(phi1) * std::sin(phi2) - std::sin(phi1) * std::cos(phi2) * std::cos(dl);
    *azimuth = std::atan2(y, x);
    const double h = std::pow(std::sin((phi2 - phi1) / 2), 2) +
                     std::cos(phi1) * std::cos(phi2) * std::pow(std::sin(dl / 2), 2);
    *distance = 2 * std::asin(std::min(1.0, std::sqrt(h)));
}

} // namespace

std::optional<Bearing> bearing(double lat1, double lon1, double lat2, double lon2) {
    for (double v : {lat1, lon1, lat2, lon2})
        if (!std::isfinite(v))
            return std::nullopt;
    if (std::abs(lat1) > 90 || std::abs(lat2) > 90 || std::abs(lon1) > 360 || std::abs(lon2) > 360)
        return std::nullopt;
    Bearing out;

    // Degrees: geocentric great circle.
    double d = 0, az = 0;
    greatCircle(geocentric(lat1), lon1 * kRad, geocentric(lat2), lon2 * kRad, &d, &az);
    out.degrees = d / kRad;

    // Vincenty's inverse formula.
    const double L = (lon2 - lon1) * kRad;
    const double U1 = std::atan((1 - kF) * std::tan(lat1 * kRad));
    const double U2 = std::atan((1 - kF) * std::tan(lat2 * kRad));
    const double sinU1 = std::sin(U1), cosU1 = std::cos(U1), sinU2 = std::sin(U2), cosU2 = std::cos(U2);
    double lambda = L, previous = 0;
    double sinSigma = 0, cosSigma = 0, sigma = 0, cos2Alpha = 0, cos2SigmaM = 0;
    bool converged = false;
    for (int i = 0; i < 200; ++i) {
        const double sinLambda = std::sin(lambda), cosLambda = std::cos(lambda);
        sinSigma = std::hypot(cosU2 * sinLambda, cosU1 * sinU2 - sinU1 * cosU2 * cosLambda);
        if (sinSigma == 0) { // the same point
            converged = true;
            sigma = 0;
            break;
        }
        cosSigma = sinU1 * sinU2 + cosU1 * cosU2 * cosLambda;
        sigma = std::atan2(sinSigma, cosSigma);
        const double sinAlpha = cosU1 * cosU2 * sinLambda / sinSigma;
        cos2Alpha = 1 - sinAlpha * sinAlpha;
        cos2SigmaM = cos2Alpha != 0 ? cosSigma - 2 * sinU1 * sinU2 / cos2Alpha : 0; // equatorial
        const double C = kF / 16 * cos2Alpha * (4 + kF * (4 - 3 * cos2Alpha));
        previous = lambda;
        lambda = L + (1 - C) * kF * sinAlpha *
                         (sigma + C * sinSigma * (cos2SigmaM + C * cosSigma * (-1 + 2 * cos2SigmaM * cos2SigmaM)));
        if (std::abs(lambda - previous) < 1e-12) {
            converged = true;
            break;
        }
    }
    if (converged && sigma == 0) {
        out.kilometres = 0;
        out.azimuth = 0;
        out.backAzimuth = 0;
        return out;
    }
    if (converged) {
        const double u2 = cos2Alpha * (kA * kA - kB * kB) / (kB * kB);
        const double A = 1 + u2 / 16384 * (4096 + u2 * (-768 + u2 * (320 - 175 * u2)));
        const double B = u2 / 1024 * (256 + u2 * (-128 + u2 * (74 - 47 * u2)));
        const double deltaSigma =
            B * sinSigma *
            (cos2SigmaM + B / 4 * (cosSigma * (-1 + 2 * cos2SigmaM * cos2SigmaM) -
                                   B / 6 * cos2SigmaM * (-3 + 4 * sinSigma * sinSigma) *
                                       (-3 + 4 * cos2SigmaM * cos2SigmaM)));
        out.kilometres = kB * A * (sigma - deltaSigma) / 1000.0;
        const double sinLambda = std::sin(lambda), cosLambda = std::cos(lambda);
        out.azimuth = normalised(std::atan2(cosU2 * sinLambda, cosU1 * sinU2 - sinU1 * cosU2 * cosLambda) / kRad);
        // The azimuth at the station, reversed.
        out.backAzimuth = normalised(
            std::atan2(cosU1 * sinLambda, -sinU1 * cosU2 + cosU1 * sinU2 * cosLambda) / kRad + 180.0);
        return out;
    }
    // Nearly antipodal: the mean sphere.
    double s = 0, a = 0, back = 0, unused = 0;
    greatCircle(lat1 * kRad, lon1 * kRad, lat2 * kRad, lon2 * kRad, &s, &a);
    greatCircle(lat2 * kRad, lon2 * kRad, lat1 * kRad, lon1 * kRad, &unused, &back);
    out.kilometres = s * kMeanRadius / 1000.0;
    out.azimuth = normalised(a / kRad);
    out.backAzimuth = normalised(back / kRad);
    return out;
}

} // namespace geo
