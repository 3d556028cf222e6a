#pragma once

#include <QString>

#include <chrono>
#include <optional>

// One earthquake of the catalogue list.
struct SeismicOrigin {
    using Date = std::chrono::system_clock::time_point;

    // The origin time as the list hands it over: an object that yields the instant.
    struct OriginTime {
        Date date;
        Date nsDate() const { return date; }
    };

    QString eventId;
    Date originTime{};
    double latitude = 0.0;
    double longitude = 0.0;
    std::optional<double> depthKm; // nothing when the catalogue gave none that reads
    double mag = 0.0;
    QString magnitudeType;
    QString region;   // the catalogue's own place text ("45 km E of Namie, Japan")
    QString feRegion; // the Flinn-Engdahl region of the epicentre, in title case

    OriginTime _origin_time() const { return {originTime}; }
    // The short Flinn-Engdahl name; the catalogue's text where the epicentre has none.
    const QString& shortFERegion() const { return feRegion.isEmpty() ? region : feRegion; }
    double magnitude() const { return mag; }

    friend bool operator==(const SeismicOrigin&, const SeismicOrigin&) = default;
};
