#pragma once

#include "components/sac/SacObject.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// The demo service's made-up but plausible world: a few long-running stations, a catalogue of
// recent earthquakes placed relative to the moment the service started, and seismograms that
// are a fixed function of channel and absolute time, so overlapping requests agree sample for
// sample.
namespace demo {

using Date = std::chrono::system_clock::time_point;

struct Station {
    std::string network, station, location, siteName;
    double latitude, longitude, elevation;
    std::vector<std::string> channels;
};

struct Quake {
    std::string id;
    Date origin;
    double latitude, longitude, depthKm, magnitude;
    std::string magnitudeType, region;
};

const std::vector<Station>& stations();
// Newest first. One a few minutes before `start`, the rest spread over the past days.
std::vector<Quake> catalogue(Date start);

// Nominal sample interval (s) of a channel's band code; nothing for a band the demo lacks.
std::optional<double> sampleInterval(const std::string& channel);

// Samples at start, start + delta, ... up to end (inclusive) for one channel. Ground velocity,
// nanometres per second: microseism noise around 6 to 8 s, a slow drift on long-period
// channels, and P, S and surface waves of every catalogued earthquake at the delays its
// distance gives.
std::vector<float> seismogram(const Station& s, const std::string& channel, Date start,
                              std::size_t count, double delta, const std::vector<Quake>& quakes);

// A whole SAC file for that window (little-endian), header filled in.
std::vector<std::byte> sacFile(const Station& s, const std::string& channel, Date start, Date end,
                               double delta, const std::vector<Quake>& quakes);

// Great-circle distance in degrees, geocentric, as Groundsway measures it.
double distanceDegrees(double lat1, double lon1, double lat2, double lon2);
// The first P-type and S-type arrivals (s) at a distance (degrees) from a source at a depth, in
// iasp91: the same travel times Groundsway marks, so its marks sit on the demo's arrivals.
double pTravelTime(double degrees, double depthKm = 0.0);
double sTravelTime(double degrees, double depthKm = 0.0);

// FDSN-style pattern match: "*" any run, "?" one character, comma-separated alternatives;
// an empty pattern matches everything.
bool matches(const std::string& pattern, const std::string& value);

} // namespace demo
