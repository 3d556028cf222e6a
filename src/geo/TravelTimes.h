#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// Seismic travel times in a spherically symmetric Earth by the tau-p method (Buland and Chapman,
// BSSA 73, 1983): a velocity table is cut into thin shells in which the velocity follows
// Bullen's law v = a r^b, so the delay time tau(p) and the distance of a ray of parameter p
// through each shell are exact in closed form; a phase's tau and distance are sums of its legs.
// Each phase is sampled along every branch of its curve, and the time at a distance comes from
// the curve T(distance) between two samples, whose slope is the ray parameter.
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

    // What a trace's marks show: P, Pdiff, PKP (the outer-core branch), PKIKP, PP, PcP, S,
    // Sdiff, SKS, SS, ScS. Here P and S stand for their families: the ray that leaves the
    // source downwards (P, S) or the one that leaves it upwards (p, s), whichever comes first.
    static const std::vector<std::string>& phaseNames();
    // Every phase by its own name, as TauP names them: p and s leave the source upwards, P and
    // S downwards; the rest as in phaseNames().
    static const std::vector<std::string>& allPhaseNames();

    // The first arrival of each asked phase that exists at this distance from a source at this
    // depth, earliest first; "P" and "S" as in phaseNames(), under the name of the ray that
    // arrives. Depths from 0 to 700 km; distances in degrees, taken modulo 360.
    std::vector<Arrival> arrivals(double depthKm, double distanceDegrees,
                                  const std::vector<std::string>& phases = phaseNames()) const;
    // The same with every name taken as itself: "P" only the downgoing ray.
    std::vector<Arrival>
    arrivalsByName(double depthKm, double distanceDegrees,
                   const std::vector<std::string>& phases = allPhaseNames()) const;

    const std::string& name() const { return name_; }
    double radius() const { return radius_; }
    double maxSourceDepth() const { return kMaxSourceDepth; }

    static constexpr double kMaxSourceDepth = 700.0;

    struct Shell;
    struct Leg;
    struct CoreLegs;
    struct Prepared;

    TravelTimes(const TravelTimes&) = delete;
    TravelTimes& operator=(const TravelTimes&) = delete;
    ~TravelTimes();

private:
    TravelTimes() = default;
    std::shared_ptr<const Prepared> prepare(double depthKm) const;
    CoreLegs legsAt(double p) const;

    std::string name_;
    double radius_ = 0;
    std::vector<Shell> shells_; // surface downwards
    std::size_t mantleEnd_ = 0, outerEnd_ = 0, sourceShells_ = 0;
    std::vector<double> p_;      // ray parameters, ascending, s/rad
    std::vector<char> exact_;    // per ray parameter: on either side of a discontinuity
    std::vector<CoreLegs> legs_; // per ray parameter: the legs that do not depend on the source
    std::vector<Leg>
        surfaceDown_[2]; // per wave: surface to the top of shell j, at [j * p_.size() + i]
    mutable std::mutex cacheMutex_;
    mutable std::vector<std::pair<double, std::shared_ptr<const Prepared>>> cache_;
};

} // namespace geo
