#include "geo/TravelTimes.h"

#include "geo/EmbeddedData.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <numbers>
#include <sstream>

namespace geo {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = std::numbers::pi;
constexpr double kRadPerDegree = kPi / 180.0;
// Shells no thicker than this; velocity tables list points every 50 km or so in the mantle.
constexpr double kMaxShell = 50.0;
// Ray parameters between two turning slownesses of the table, for smooth branches.
constexpr int kRefinement = 3;
constexpr double kMaxDiffraction = 60.0; // degrees beyond the grazing ray

enum class Wave { P, S };
enum class Pass { Through, Turned, Blocked };

} // namespace

struct TravelTimes::Shell {
    double rTop, rBot;
    double vpTop, vpBot, vsTop, vsBot;
    double v(Wave w, bool top) const {
        return w == Wave::P ? (top ? vpTop : vpBot) : (top ? vsTop : vsBot);
    }
};

struct TravelTimes::Leg {
    double tau = kNaN, dist = kNaN;
    bool valid() const { return std::isfinite(tau) && std::isfinite(dist); }
    Leg operator+(const Leg& o) const { return {tau + o.tau, dist + o.dist}; }
    Leg operator*(double k) const { return {tau * k, dist * k}; }
    Leg operator-(const Leg& o) const { return {tau - o.tau, dist - o.dist}; }
};

namespace {

using Leg = TravelTimes::Leg;
using Shell = TravelTimes::Shell;

// One shell of Bullen's law v = a r^b through the end points; the ray of parameter p (s/rad)
// crosses it, turns in it, or cannot enter it. Adds its delay time and distance (radians).
Pass cross(double rTop, double rBot, double vTop, double vBot, double p, Leg& sum) {
    if (!(vTop > 0) || !(vBot > 0) || rBot <= 0)
        return Pass::Blocked;
    const double etaTop = rTop / vTop, etaBot = rBot / vBot;
    if (p > etaTop)
        return Pass::Blocked;
    const double b = std::log(vTop / vBot) / std::log(rTop / rBot);
    const double k = 1.0 - b;
    auto part = [p](double eta) {
        const double q = std::min(1.0, p / eta);
        return std::pair{std::sqrt(std::max(0.0, eta * eta - p * p)) - p * std::acos(q), std::acos(q)};
    };
    if (p <= etaBot) {
        if (std::abs(k) < 1e-9) { // v proportional to r: eta constant
            const double s = std::sqrt(std::max(0.0, etaTop * etaTop - p * p));
            const double l = std::log(rTop / rBot);
            sum.tau += s * l;
            sum.dist += s > 0 ? p * l / s : 0.0;
            return Pass::Through;
        }
        const auto [tauTop, distTop] = part(etaTop);
        const auto [tauBot, distBot] = part(etaBot);
        sum.tau += (tauTop - tauBot) / k;
        sum.dist += (distTop - distBot) / k;
        return Pass::Through;
    }
    if (k <= 0)
        return Pass::Blocked; // eta grows downwards here: no turning inside
    const auto [tauTop, distTop] = part(etaTop);
    sum.tau += tauTop / k;
    sum.dist += distTop / k;
    return Pass::Turned;
}

// Down through shells [first, last) from their top; the leg to the turning point when the ray
// turns in them (turned), or through all of them (through).
struct Descent {
    Leg leg{0, 0};
    bool turned = false, blocked = false;
};

Descent descend(const std::vector<Shell>& shells, std::size_t first, std::size_t last, Wave w,
                double p) {
    Descent d;
    for (std::size_t i = first; i < last; ++i) {
        const Shell& s = shells[i];
        const Pass pass = cross(s.rTop, s.rBot, s.v(w, true), s.v(w, false), p, d.leg);
        if (pass == Pass::Turned) {
            d.turned = true;
            return d;
        }
        if (pass == Pass::Blocked) {
            d.blocked = true;
            return d;
        }
    }
    return d;
}

bool parseDouble(std::string_view text, double& out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(out);
}

} // namespace

struct TravelTimes::Prepared {
    std::vector<double> p;
    // Per phase, its branches: delay time and distance per ray parameter (NaN where none).
    std::map<std::string, std::vector<std::vector<Leg>>> branches;
    struct Diffracted {
        double p = kNaN;
        Leg grazing; // where the diffracted wave starts
    };
    std::map<std::string, Diffracted> diffracted;
};

TravelTimes::~TravelTimes() = default;

const std::vector<std::string>& TravelTimes::phaseNames() {
    static const std::vector<std::string> names = {"P",  "Pdiff", "PKP", "PKIKP", "PP", "PcP",
                                                   "S",  "Sdiff", "SKS", "SS",    "ScS"};
    return names;
}

std::shared_ptr<const TravelTimes> TravelTimes::model(std::string_view name) {
    static const std::shared_ptr<const TravelTimes> iasp91 = fromTvel(embedded::iasp91Tvel(), "iasp91");
    static const std::shared_ptr<const TravelTimes> ak135 = fromTvel(embedded::ak135Tvel(), "ak135");
    if (name == "iasp91")
        return iasp91;
    if (name == "ak135")
        return ak135;
    return nullptr;
}

std::shared_ptr<const TravelTimes> TravelTimes::fromTvel(std::string_view text, std::string name,
                                                         std::string* why) {
    auto fail = [why](const std::string& message) -> std::shared_ptr<const TravelTimes> {
        if (why)
            *why = message;
        return nullptr;
    };
    struct Point {
        double depth, vp, vs;
    };
    std::vector<Point> points;
    std::size_t lineNumber = 0, start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (++lineNumber <= 2)
            continue; // the two comment lines
        std::vector<std::string_view> fields;
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
                ++i;
            const std::size_t j = i;
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
                ++i;
            if (i > j)
                fields.push_back(line.substr(j, i - j));
        }
        if (fields.empty())
            continue;
        Point pt{};
        if (fields.size() < 3 || !parseDouble(fields[0], pt.depth) || !parseDouble(fields[1], pt.vp) ||
            !parseDouble(fields[2], pt.vs) || pt.vp <= 0 || pt.vs < 0 || pt.depth < 0)
            return fail("line " + std::to_string(lineNumber) + " is not depth, vp, vs, density");
        if (!points.empty() && pt.depth < points.back().depth)
            return fail("line " + std::to_string(lineNumber) + " goes up again");
        points.push_back(pt);
        if (end == text.size())
            break;
    }
    if (points.size() < 4 || points.front().depth != 0)
        return fail("the table must start at the surface and hold a few points");

    std::shared_ptr<TravelTimes> t(new TravelTimes);
    t->name_ = std::move(name);
    t->radius_ = points.back().depth;
    const double R = t->radius_;
    // The core: where the S velocity first drops to zero (fluid), and where it returns (solid).
    double cmbDepth = kNaN, icbDepth = kNaN;
    for (std::size_t i = 1; i < points.size(); ++i) {
        if (std::isnan(cmbDepth) && points[i].vs == 0 && points[i].depth == points[i - 1].depth)
            cmbDepth = points[i].depth;
        else if (!std::isnan(cmbDepth) && std::isnan(icbDepth) && points[i].vs > 0 &&
                 points[i].depth == points[i - 1].depth)
            icbDepth = points[i].depth;
    }
    if (std::isnan(cmbDepth) || std::isnan(icbDepth))
        return fail("no fluid outer core found (S velocity 0 between two discontinuities)");
    t->cmb_ = R - cmbDepth;
    t->icb_ = R - icbDepth;

    // Shells between consecutive points, thin ones where points stand far apart.
    for (std::size_t i = 1; i < points.size(); ++i) {
        const Point& a = points[i - 1];
        const Point& b = points[i];
        const double thickness = b.depth - a.depth;
        if (thickness <= 0)
            continue;
        const int n = std::max(1, static_cast<int>(std::ceil(thickness / kMaxShell)));
        for (int k = 0; k < n; ++k) {
            const double f0 = static_cast<double>(k) / n, f1 = static_cast<double>(k + 1) / n;
            auto at = [&](double f, double Point::*v) { return a.*v + (b.*v - a.*v) * f; };
            Shell s{R - (a.depth + thickness * f0), R - (a.depth + thickness * f1),
                    at(f0, &Point::vp),             at(f1, &Point::vp),
                    at(f0, &Point::vs),             at(f1, &Point::vs)};
            // The centre: a shell cannot reach r = 0 under Bullen's law, and a metre changes
            // no time.
            s.rBot = std::max(s.rBot, 1e-3);
            t->shells_.push_back(s);
        }
    }

    const std::size_t mantleEnd =
        std::find_if(t->shells_.begin(), t->shells_.end(), [&](const Shell& s) { return s.rBot < t->cmb_ + 1e-9; }) -
        t->shells_.begin() + 1;
    const std::size_t outerEnd =
        std::find_if(t->shells_.begin(), t->shells_.end(), [&](const Shell& s) { return s.rBot < t->icb_ + 1e-9; }) -
        t->shells_.begin() + 1;
    t->sourceShells_ = static_cast<std::size_t>(
        std::find_if(t->shells_.begin(), t->shells_.end(),
                     [&](const Shell& s) { return R - s.rBot >= kMaxSourceDepth; }) -
        t->shells_.begin() + 1);

    // Ray parameters: the slowness at every shell boundary, for both waves, refined between.
    std::vector<double> slownesses{0.0};
    for (std::size_t i = 0; i < t->shells_.size(); ++i) {
        const Shell& s = t->shells_[i];
        slownesses.push_back(s.rTop / s.vpTop);
        slownesses.push_back(s.rBot / s.vpBot);
        if (i < mantleEnd) {
            if (s.vsTop > 0)
                slownesses.push_back(s.rTop / s.vsTop);
            if (s.vsBot > 0)
                slownesses.push_back(s.rBot / s.vsBot);
        }
    }
    std::sort(slownesses.begin(), slownesses.end());
    slownesses.erase(std::unique(slownesses.begin(), slownesses.end(),
                                 [](double a, double b) { return std::abs(a - b) < 1e-9; }),
                     slownesses.end());
    for (std::size_t i = 0; i + 1 < slownesses.size(); ++i)
        for (int k = 0; k < kRefinement; ++k)
            t->p_.push_back(slownesses[i] + (slownesses[i + 1] - slownesses[i]) * k / kRefinement);
    t->p_.push_back(slownesses.back());

    const std::size_t n = t->p_.size();
    t->mantleTurnP_.reset(new Leg[n]);
    t->mantleTurnS_.reset(new Leg[n]);
    t->mantleP_.reset(new Leg[n]);
    t->mantleS_.reset(new Leg[n]);
    t->outerTurn_.reset(new Leg[n]);
    t->outer_.reset(new Leg[n]);
    t->innerTurn_.reset(new Leg[n]);
    t->aboveP_.assign(t->sourceShells_ + 1, std::vector<Leg>(n));
    t->aboveS_.assign(t->sourceShells_ + 1, std::vector<Leg>(n));
    for (std::size_t i = 0; i < n; ++i) {
        const double p = t->p_[i];
        for (const Wave w : {Wave::P, Wave::S}) {
            auto& above = w == Wave::P ? t->aboveP_ : t->aboveS_;
            Leg sum{0, 0};
            above[0][i] = sum;
            bool going = true;
            for (std::size_t j = 0; j < t->sourceShells_ && going; ++j) {
                const Shell& s = t->shells_[j];
                going = cross(s.rTop, s.rBot, s.v(w, true), s.v(w, false), p, sum) == Pass::Through;
                if (going)
                    above[j + 1][i] = sum;
            }
            const Descent m = descend(t->shells_, 0, mantleEnd, w, p);
            (w == Wave::P ? t->mantleTurnP_ : t->mantleTurnS_)[i] = m.turned ? m.leg : Leg{};
            (w == Wave::P ? t->mantleP_ : t->mantleS_)[i] = !m.turned && !m.blocked ? m.leg : Leg{};
        }
        const Descent k = descend(t->shells_, mantleEnd, outerEnd, Wave::P, p);
        t->outerTurn_[i] = k.turned ? k.leg : Leg{};
        t->outer_[i] = !k.turned && !k.blocked ? k.leg : Leg{};
        // Only rays that turn: one with p so small it would pass within a metre of the centre
        // has no distance in these sums, and the branch ends a hair short of 180 degrees.
        const Descent c = descend(t->shells_, outerEnd, t->shells_.size(), Wave::P, p);
        t->innerTurn_[i] = c.turned ? c.leg : Leg{};
    }
    return t;
}

std::shared_ptr<const TravelTimes::Prepared> TravelTimes::prepare(double depthKm) const {
    {
        std::lock_guard lock(cacheMutex_);
        for (const auto& [depth, prepared] : cache_)
            if (depth == depthKm)
                return prepared;
    }
    auto out = std::make_shared<Prepared>();
    const double rs = radius_ - depthKm;
    // The shell holding the source, and the velocities at the source.
    std::size_t js = 0;
    while (js + 1 < sourceShells_ && shells_[js].rBot > rs)
        ++js;
    const Shell& s = shells_[js];
    const double f = (s.rTop - rs) / (s.rTop - s.rBot);
    const double vp = s.vpTop + (s.vpBot - s.vpTop) * f;
    const double vs = s.vsTop + (s.vsBot - s.vsTop) * f;

    // The grid, with the slownesses at the source added: there the up- and down-going branches
    // of P and S meet.
    std::vector<std::pair<double, std::ptrdiff_t>> grid; // p, index in p_ or -1
    for (std::size_t i = 0; i < p_.size(); ++i)
        grid.emplace_back(p_[i], static_cast<std::ptrdiff_t>(i));
    for (const double extra : {rs / vp, rs / vs})
        grid.emplace_back(extra, -1);
    std::sort(grid.begin(), grid.end());
    const std::size_t n = grid.size();
    out->p.resize(n);

    const std::size_t mantleEnd =
        std::find_if(shells_.begin(), shells_.end(), [&](const Shell& x) { return x.rBot < cmb_ + 1e-9; }) -
        shells_.begin() + 1;
    const std::size_t outerEnd =
        std::find_if(shells_.begin(), shells_.end(), [&](const Shell& x) { return x.rBot < icb_ + 1e-9; }) -
        shells_.begin() + 1;

    auto legsAt = [&](double p, std::ptrdiff_t i, Wave w, Leg& above, Leg& turn, Leg& through) {
        const auto& aboveTable = w == Wave::P ? aboveP_ : aboveS_;
        Leg a;
        if (i >= 0) {
            a = aboveTable[js][static_cast<std::size_t>(i)];
            turn = (w == Wave::P ? mantleTurnP_ : mantleTurnS_)[i];
            through = (w == Wave::P ? mantleP_ : mantleS_)[i];
        } else {
            const Descent d = descend(shells_, 0, js, w, p);
            a = !d.turned && !d.blocked ? d.leg : Leg{};
            const Descent m = descend(shells_, 0, mantleEnd, w, p);
            turn = m.turned ? m.leg : Leg{};
            through = !m.turned && !m.blocked ? m.leg : Leg{};
        }
        // The part of the source's shell above the source.
        if (a.valid() && rs < s.rTop - 1e-9) {
            const double v = w == Wave::P ? vp : vs;
            if (cross(s.rTop, rs, s.v(w, true), v, p, a) != Pass::Through || rs / v < p)
                a = Leg{};
        } else if (a.valid() && (w == Wave::P ? rs / vp : rs / vs) < p) {
            a = Leg{};
        }
        above = a;
    };

    auto& P = out->branches["P"];
    auto& S = out->branches["S"];
    P.assign(2, std::vector<Leg>(n));
    S.assign(2, std::vector<Leg>(n));
    for (const char* name : {"PP", "PcP", "SS", "ScS", "PKP", "PKIKP", "SKS"})
        out->branches[name].assign(1, std::vector<Leg>(n));
    for (std::size_t k = 0; k < n; ++k) {
        const auto [p, i] = grid[k];
        out->p[k] = p;
        Leg aP, turnP, throughP, aS, turnS, throughS;
        legsAt(p, i, Wave::P, aP, turnP, throughP);
        legsAt(p, i, Wave::S, aS, turnS, throughS);
        Leg outerTurn, outer, inner;
        if (i >= 0) {
            outerTurn = outerTurn_[i];
            outer = outer_[i];
            inner = innerTurn_[i];
        } else {
            const Descent kd = descend(shells_, mantleEnd, outerEnd, Wave::P, p);
            outerTurn = kd.turned ? kd.leg : Leg{};
            outer = !kd.turned && !kd.blocked ? kd.leg : Leg{};
            const Descent cd = descend(shells_, outerEnd, shells_.size(), Wave::P, p);
            inner = cd.turned ? cd.leg : Leg{};
        }
        P[0][k] = turnP * 2 - aP; // down from the source, turning in the mantle
        P[1][k] = aP;             // up from the source
        S[0][k] = turnS * 2 - aS;
        S[1][k] = aS;
        out->branches["PP"][0][k] = turnP * 4 - aP;
        out->branches["SS"][0][k] = turnS * 4 - aS;
        out->branches["PcP"][0][k] = throughP * 2 - aP;
        out->branches["ScS"][0][k] = throughS * 2 - aS;
        out->branches["PKP"][0][k] = throughP * 2 + outerTurn * 2 - aP;
        out->branches["PKIKP"][0][k] = throughP * 2 + outer * 2 + inner * 2 - aP;
        out->branches["SKS"][0][k] = throughS * 2 + outerTurn * 2 - aS;
    }
    // Diffraction along the core: the ray that grazes it, continued at its slowness.
    const Shell& last = shells_[mantleEnd - 1];
    for (const auto& [name, w] : {std::pair{"Pdiff", Wave::P}, std::pair{"Sdiff", Wave::S}}) {
        const double pd = last.rBot / last.v(w, false);
        Leg a, turn, through;
        legsAt(pd, -1, w, a, turn, through);
        Prepared::Diffracted d;
        d.p = pd;
        d.grazing = through * 2 - a;
        out->diffracted[name] = d;
    }
    std::lock_guard lock(cacheMutex_);
    if (cache_.size() >= 16)
        cache_.erase(cache_.begin());
    cache_.emplace_back(depthKm, out);
    return out;
}

std::vector<Arrival> TravelTimes::arrivals(double depthKm, double distanceDegrees,
                                           const std::vector<std::string>& phases) const {
    std::vector<Arrival> out;
    if (!std::isfinite(depthKm) || !std::isfinite(distanceDegrees) || depthKm < 0 ||
        depthKm > kMaxSourceDepth)
        return out;
    double d = std::fmod(std::abs(distanceDegrees), 360.0);
    if (d > 180)
        d = 360 - d;
    const double D = d * kRadPerDegree;
    const auto prepared = prepare(depthKm);
    const double candidates[] = {D, 2 * kPi - D, 2 * kPi + D, 4 * kPi - D};
    for (const std::string& phase : phases) {
        double best = kNaN, bestP = kNaN;
        auto consider = [&](double t, double p) {
            if (std::isfinite(t) && !(t >= best)) {
                best = t;
                bestP = p;
            }
        };
        if (const auto it = prepared->branches.find(phase); it != prepared->branches.end()) {
            for (const auto& branch : it->second) {
                for (std::size_t k = 0; k + 1 < branch.size(); ++k) {
                    const Leg& a = branch[k];
                    const Leg& b = branch[k + 1];
                    if (!a.valid() || !b.valid())
                        continue;
                    for (const double target : candidates) {
                        const double lo = std::min(a.dist, b.dist), hi = std::max(a.dist, b.dist);
                        if (target < lo || target > hi)
                            continue;
                        const double f = hi > lo ? (target - a.dist) / (b.dist - a.dist) : 0.0;
                        const double p = prepared->p[k] + f * (prepared->p[k + 1] - prepared->p[k]);
                        const double tau = a.tau + f * (b.tau - a.tau);
                        consider(tau + p * target, p);
                    }
                }
            }
        } else if (const auto dit = prepared->diffracted.find(phase);
                   dit != prepared->diffracted.end()) {
            const auto& diff = dit->second;
            // As far as tables list them: the diffracted wave fades within 60 degrees of the core's
            // shadow edge.
            if (diff.grazing.valid() && D > diff.grazing.dist &&
                D <= diff.grazing.dist + kMaxDiffraction * kRadPerDegree)
                consider(diff.grazing.tau + diff.p * D, diff.p);
        }
        if (std::isfinite(best))
            out.push_back({phase, best, bestP * kRadPerDegree});
    }
    std::sort(out.begin(), out.end(), [](const Arrival& a, const Arrival& b) { return a.seconds < b.seconds; });
    return out;
}

} // namespace geo
