#include "DemoWorld.h"

#include "base/Time.h"
#include "geo/Geodesy.h"
#include "geo/TravelTimes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace demo {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kKmPerDegree = 111.19;

// A stable hash of a text, for per-channel phases.
std::uint64_t hashOf(const std::string& text) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text)
        h = (h ^ c) * 1099511628211ull;
    return h;
}

double unit(std::uint64_t h) {
    return static_cast<double>(h >> 11) / 9007199254740992.0;
} // [0, 1)

std::uint64_t mix(std::uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ull;
    x ^= x >> 33;
    return x;
}

// A wave packet: a sine of the given period under a smooth onset and a decay.
double packet(double t, double period, double rise, double decay) {
    if (t <= 0)
        return 0;
    const double envelope = (1 - std::exp(-t / rise)) * std::exp(-t / decay);
    return envelope * std::sin(2 * kPi * t / period);
}

} // namespace

const std::vector<Station>& stations() {
    static const std::vector<Station> list = {
        {"IU",
         "ANMO",
         "00",
         "Albuquerque, New Mexico, USA",
         34.9459,
         -106.4572,
         1820,
         {"BHZ", "BHN", "BHE", "LHZ"}},
        {"IU",
         "COLA",
         "00",
         "College Outpost, Alaska, USA",
         64.8736,
         -147.8616,
         200,
         {"BHZ", "LHZ"}},
        {"IU",
         "HRV",
         "00",
         "Adam Dziewonski Observatory (Oak Ridge), Massachusetts, USA",
         42.5064,
         -71.5583,
         200,
         {"BHZ", "LHZ"}},
        {"IU", "KONO", "00", "Kongsberg, Norway", 59.6491, 9.5982, 216, {"BHZ", "LHZ"}},
        {"II",
         "BFO",
         "00",
         "Black Forest Observatory, Schiltach, Germany",
         48.3319,
         8.3311,
         589,
         {"BHZ", "LHZ"}},
        {"IU", "MAJO", "00", "Matsushiro, Japan", 36.5457, 138.2041, 399, {"BHZ", "LHZ"}},
        {"II",
         "PFO",
         "00",
         "Pinon Flat, California, USA",
         33.6107,
         -116.4555,
         1280,
         {"BHZ", "LHZ"}},
        {"IU",
         "SNZO",
         "00",
         "South Karori, Wellington, New Zealand",
         -41.3087,
         174.7043,
         120,
         {"BHZ", "LHZ"}},
        {"II", "KDAK", "00", "Kodiak Island, Alaska, USA", 57.7828, -152.5835, 152, {"BHZ", "LHZ"}},
        {"TA",
         "SSPA",
         "",
         "Standing Stone, Pennsylvania, USA",
         40.6358,
         -77.8876,
         270,
         {"BHZ", "BHN", "BHE", "LHZ"}},
    };
    return list;
}

std::vector<Quake> catalogue(Date start) {
    using namespace std::chrono;
    const auto ago = [&](double seconds) { return civil::addSeconds(start, -seconds); };
    return {
        {"demo0001", ago(4 * 60), 57.52, -148.03, 22.0, 6.3, "mww", "Gulf of Alaska"},
        {"demo0002", ago(3.2 * 3600), -33.47, -71.95, 31.0, 5.6, "mww",
         "offshore Valparaiso, Chile"},
        {"demo0009", ago(9.6 * 3600), 51.36, -176.09, 35.0, 6.6, "mww",
         "Andreanof Islands, Aleutian Islands, Alaska"},
        {"demo0003", ago(19 * 3600), 36.12, 141.63, 41.0, 4.8, "mb",
         "near the east coast of Honshu, Japan"},
        {"demo0004", ago(2.3 * 86400), -20.61, -175.20, 198.0, 7.0, "mww", "Tonga Islands"},
        {"demo0005", ago(4.6 * 86400), 38.21, 22.05, 12.0, 5.1, "mwr", "Gulf of Corinth, Greece"},
        {"demo0006", ago(8.9 * 86400), 2.18, 96.64, 28.0, 6.1, "mww", "Simeulue, Indonesia"},
        {"demo0007", ago(15.4 * 86400), 34.05, -117.05, 9.0, 4.5, "ml", "Southern California"},
        {"demo0008", ago(26.1 * 86400), -3.92, 152.11, 56.0, 5.9, "mww",
         "New Ireland region, Papua New Guinea"},
    };
}

std::optional<double> sampleInterval(const std::string& channel) {
    switch (channel.empty() ? ' ' : channel[0]) {
    case 'L':
        return 1.0;
    case 'B':
        return 0.05;
    case 'S':
        return 0.025;
    case 'U':
        return 10.0;
    default:
        return std::nullopt;
    }
}

double distanceDegrees(double lat1, double lon1, double lat2, double lon2) {
    const auto b = geo::bearing(lat1, lon1, lat2, lon2);
    return b ? b->degrees : 0.0;
}

namespace {

// The first of the phases that arrives, from the same model Groundsway predicts with.
std::optional<double> firstOf(double depthKm, double degrees, const std::vector<std::string>& phases) {
    static const auto model = geo::TravelTimes::model("iasp91");
    const auto arrivals = model->arrivals(std::clamp(depthKm, 0.0, 700.0), degrees, phases);
    if (arrivals.empty())
        return std::nullopt;
    return arrivals.front().seconds;
}

} // namespace

double pTravelTime(double degrees, double depthKm) {
    return firstOf(depthKm, degrees, {"P", "Pdiff", "PKIKP", "PKP"}).value_or(1200.0);
}
double sTravelTime(double degrees, double depthKm) {
    return firstOf(depthKm, degrees, {"S", "Sdiff", "SKS"}).value_or(2 * pTravelTime(degrees, depthKm));
}

std::vector<float> seismogram(const Station& s, const std::string& channel, Date start,
                              std::size_t count, double delta, const std::vector<Quake>& quakes) {
    const std::uint64_t id = hashOf(s.network + "." + s.station + "." + channel);
    const bool longPeriod = !channel.empty() && channel[0] == 'L';
    const bool vertical = !channel.empty() && channel.back() == 'Z';
    // Microseisms: five lines between 6 and 8 s with channel-specific phases, beating slowly.
    std::array<double, 5> period{}, phase{}, weight{};
    for (std::size_t k = 0; k < period.size(); ++k) {
        period[k] = 6.0 + 2.0 * unit(mix(id + k));
        phase[k] = 2 * kPi * unit(mix(id + 31 * k + 7));
        weight[k] = 0.5 + unit(mix(id + 77 * k + 3));
    }
    const double level = 400 + 300 * unit(mix(id ^ 0x5bd1e995));

    struct Arrival {
        double p, s, surface, amplitude, surfaceDuration;
    };
    std::vector<Arrival> arrivals;
    for (const Quake& q : quakes) {
        const double deg =
            std::max(0.5, distanceDegrees(q.latitude, q.longitude, s.latitude, s.longitude));
        const double t0 = std::chrono::duration<double>(q.origin.time_since_epoch()).count();
        // Amplitude grows tenfold per magnitude unit and falls off with distance.
        const double amplitude = 4000 * std::pow(10.0, q.magnitude - 5.0) / std::sqrt(deg);
        arrivals.push_back({t0 + pTravelTime(deg, q.depthKm), t0 + sTravelTime(deg, q.depthKm),
                            t0 + deg * kKmPerDegree / 3.8, amplitude, 120 + deg * 6});
    }

    const double first = std::chrono::duration<double>(start.time_since_epoch()).count();
    std::vector<float> x(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double t = first + static_cast<double>(i) * delta;
        double v = 0;
        const double beat = 1 + 0.4 * std::sin(2 * kPi * t / 173.0 + phase[0]);
        for (std::size_t k = 0; k < period.size(); ++k)
            v += weight[k] * std::sin(2 * kPi * t / period[k] + phase[k]);
        v *= level * beat / 3;
        // White noise on the sample's absolute index, so it repeats exactly.
        const auto index = static_cast<std::int64_t>(std::llround(t / delta));
        v += 60 * (unit(mix(id ^ static_cast<std::uint64_t>(index))) - 0.5);
        if (longPeriod)
            v += 900 * std::sin(2 * kPi * t / 1800 + phase[1]) +
                 500 * std::sin(2 * kPi * t / 610 + phase[2]);
        for (const Arrival& a : arrivals) {
            if (t < a.p || t > a.surface + 4 * a.surfaceDuration)
                continue;
            const double pAmp = vertical ? 1.0 : 0.35, sAmp = vertical ? 0.6 : 1.4;
            v += a.amplitude * pAmp *
                 packet(t - a.p, longPeriod ? 12 : 1.6, 2, longPeriod ? 90 : 40);
            v += a.amplitude * 1.8 * sAmp *
                 packet(t - a.s, longPeriod ? 16 : 5, 4, longPeriod ? 150 : 70);
            // Surface waves: long periods first, shorter ones later (dispersion).
            const double ts = t - a.surface;
            if (ts > 0) {
                const double dispersed = 30.0 - 12.0 * std::min(1.0, ts / (2 * a.surfaceDuration));
                v += a.amplitude * 5 * packet(ts, dispersed, 30, a.surfaceDuration);
            }
        }
        x[i] = static_cast<float>(v);
    }
    return x;
}

std::vector<std::byte> sacFile(const Station& s, const std::string& channel, Date start, Date end,
                               double delta, const std::vector<Quake>& quakes) {
    const double seconds = std::max(0.0, civil::secondsBetween(start, end));
    const auto count = static_cast<std::size_t>(std::floor(seconds / delta + 1e-9)) + 1;
    SacObject trace =
        SacObject::fromSamples(seismogram(s, channel, start, count, delta, quakes), delta, start);
    sac::SacHeader& h = *trace.header();
    h.setText(sac::text::KSTNM, s.station);
    h.setText(sac::text::KNETWK, s.network);
    h.setText(sac::text::KCMPNM, channel);
    h.setText(sac::text::KHOLE, s.location);
    h.setFloat(sac::word::STLA, static_cast<float>(s.latitude));
    h.setFloat(sac::word::STLO, static_cast<float>(s.longitude));
    h.setFloat(sac::word::STEL, static_cast<float>(s.elevation));
    h.setFloat(sac::word::CMPINC, channel.back() == 'Z' ? 0.0f : 90.0f);
    h.setFloat(sac::word::CMPAZ, channel.back() == 'E' ? 90.0f : 0.0f);
    h.setInt(sac::word::IDEP, sac::IVEL);
    return trace.encode(std::endian::little);
}

bool matches(const std::string& pattern, const std::string& value) {
    if (pattern.empty())
        return true;
    std::size_t from = 0;
    while (from <= pattern.size()) {
        const std::size_t comma = pattern.find(',', from);
        const std::string one =
            pattern.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        // Classic glob with backtracking on the last "*".
        std::size_t p = 0, v = 0, star = std::string::npos, mark = 0;
        while (v < value.size()) {
            if (p < one.size() && (one[p] == '?' || one[p] == value[v])) {
                ++p;
                ++v;
            } else if (p < one.size() && one[p] == '*') {
                star = p++;
                mark = v;
            } else if (star != std::string::npos) {
                p = star + 1;
                v = ++mark;
            } else {
                break;
            }
        }
        while (p < one.size() && one[p] == '*')
            ++p;
        if (v == value.size() && p == one.size())
            return true;
        if (comma == std::string::npos)
            break;
        from = comma + 1;
    }
    return false;
}

} // namespace demo
