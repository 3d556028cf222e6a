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
    QString region; // the catalogue's location name

    OriginTime _origin_time() const { return {originTime}; }
    const QString& shortFERegion() const { return region; }
    double magnitude() const { return mag; }

    friend bool operator==(const SeismicOrigin&, const SeismicOrigin&) = default;
};
