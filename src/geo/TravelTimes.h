#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Seismic travel times in a spherically symmetric Earth by the tau-p method (Buland and Chapman,
// BSSA 73, 1983): a velocity table is cut into thin shells in which the velocity follows
// Bullen's law v = a r^b, so the delay time tau(p) and the distance of a ray of parameter p
// through each shell are exact in closed form; a phase's tau and distance are sums of its legs,
// and its time at a distance is found along tau(p) + p * distance, which is stationary in p.
namespace geo {

struct Arrival {
    std::string phase;
    double seconds = 0;
    double rayParameter = 0; // seconds per degree
};

class TravelTimes {
public:
    // A velocity table in the "tvel" layout: two comment lines, then lines of depth (km), P and
    // S velocity (km/s) and density; a depth listed twice is a discontinuity. Nothing (and why)
    // when it cannot be read as one.
    static std::shared_ptr<const TravelTimes> fromTvel(std::string_view text, std::string name,
                                                       std::string* why = nullptr);
    // The models compiled into the program: "iasp91" (Kennett and Engdahl 1991) and "ak135"
    // (Kennett, Engdahl and Buland 1995); nothing for another name.
    static std::shared_ptr<const TravelTimes> model(std::string_view name);

    // P, Pdiff, PKP (the outer-core branch), PKIKP, PP, PcP, S, Sdiff, SKS, SS, ScS.
    static const std::vector<std::string>& phaseNames();

    // The first arrival of each asked phase that exists at this distance from a source at this
    // depth, earliest first. Depths from 0 to 700 km; distances in degrees, taken modulo 360.
    // P and S include the rays that leave the source upwards (p and s), which arrive first near
    // a deep source.
    std::vector<Arrival> arrivals(double depthKm, double distanceDegrees,
                                  const std::vector<std::string>& phases = phaseNames()) const;

    const std::string& name() const { return name_; }
    double radius() const { return radius_; }
    double maxSourceDepth() const { return kMaxSourceDepth; }

    static constexpr double kMaxSourceDepth = 700.0;

    struct Shell;
    struct Leg;
    struct Prepared;

    TravelTimes(const TravelTimes&) = delete;
    TravelTimes& operator=(const TravelTimes&) = delete;
    ~TravelTimes();

private:
    TravelTimes() = default;
    std::shared_ptr<const Prepared> prepare(double depthKm) const;

    std::string name_;
    double radius_ = 0, cmb_ = 0, icb_ = 0;
    std::vector<Shell> shells_; // surface downwards
    std::vector<double> p_;     // ray parameters, ascending, s/rad
    // Depth-independent legs, per ray parameter.
    std::unique_ptr<Leg[]> mantleTurnP_, mantleTurnS_, mantleP_, mantleS_, outerTurn_, outer_, innerTurn_;
    // Down to every shell boundary above the deepest source, per wave and ray parameter.
    std::vector<std::vector<Leg>> aboveP_, aboveS_;
    std::size_t sourceShells_ = 0;
    mutable std::mutex cacheMutex_;
    mutable std::vector<std::pair<double, std::shared_ptr<const Prepared>>> cache_;
};

} // namespace geo
