#include "geo/TravelTimes.h"

#include "geo/EmbeddedData.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>

namespace geo {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = std::numbers::pi;
constexpr double kRadPerDegree = kPi / 180.0;
// Shells no thicker than this. Tables list points every 50 km or so and mean the velocity to
// run linearly in depth between them; half that keeps Bullen's law within a few milliseconds
// of it (at 50 km SS came out 0.04 s late).
constexpr double kMaxShell = 25.0;
// The longest step between two ray parameters (s/rad); the crust's S slownesses stand far apart.
constexpr double kMaxStep = 10.0;
constexpr double kMaxDiffraction = 60.0; // degrees beyond the grazing ray
// Ray parameters added below each horizontal ray at the source, halving the step each time
// from this fraction of its slowness (or the model's step there, if longer).
constexpr int kSourceRefinement = 10;
constexpr double kSourceSpan = 0.08;
// Samples added at a caustic.
constexpr int kCausticRounds = 6;

constexpr int kP = 0, kS = 1; // waves
// What a velocity table may hold (km, km/s).
constexpr double kMaxRadius = 10000.0, kMinVelocity = 0.5, kMaxVelocity = 50.0;
constexpr std::size_t kMaxPoints = 2000;

enum class Pass { Through, Turned, Blocked };
enum class End { Through, Turned, Reflected, Blocked };

// The phases with a curve of their own, then the two diffracted along the core.
enum Phase : int {
    kUpP,
    kDownP,
    kPP,
    kPcP,
    kPKP,
    kPKIKP,
    kUpS,
    kDownS,
    kSS,
    kScS,
    kSKS,
    kCurves,
    kPdiff = kCurves,
    kSdiff,
    kPhases
};
constexpr std::array<std::string_view, kPhases> kNames = {
    "p", "P", "PP", "PcP", "PKP", "PKIKP", "s", "S", "SS", "ScS", "SKS", "Pdiff", "Sdiff"};

int phaseIndex(std::string_view name) {
    const auto it = std::find(kNames.begin(), kNames.end(), name);
    return it == kNames.end() ? -1 : static_cast<int>(it - kNames.begin());
}

} // namespace

struct TravelTimes::Leg {
    double tau = kNaN, dist = kNaN;
    bool valid() const { return std::isfinite(tau) && std::isfinite(dist); }
    Leg operator+(const Leg& o) const { return {tau + o.tau, dist + o.dist}; }
    Leg operator*(double k) const { return {tau * k, dist * k}; }
    Leg operator-(const Leg& o) const { return {tau - o.tau, dist - o.dist}; }
};

// A shell in which each wave's velocity follows Bullen's law v = a r^b through its two ends,
// so that eta = r / v = r^(1 - b) / a.
struct TravelTimes::Shell {
    double rTop = 0, rBot = 0;
    double logRatio = 0; // ln(rTop / rBot)
    bool centre = false; // down to r = 0, at the velocity of its top
    double vTop[2]{}, vBot[2]{}, etaTop[2]{}, etaBot[2]{};
    double k[2]{}; // 1 - b

    bool carries(int w) const { return vTop[w] > 0 && vBot[w] > 0; }
    double velocityAt(int w, double r) const { return vTop[w] * std::pow(r / rTop, 1.0 - k[w]); }

    static Shell make(double rTop, double rBot, const double (&vTop)[2], const double (&vBot)[2]) {
        Shell s;
        s.rTop = rTop;
        s.rBot = std::max(0.0, rBot);
        s.centre = s.rBot <= 0;
        s.logRatio = s.centre ? 0.0 : std::log(rTop / s.rBot);
        for (const int w : {kP, kS}) {
            s.vTop[w] = vTop[w];
            s.vBot[w] = s.centre ? vTop[w] : vBot[w];
            if (!s.carries(w))
                continue;
            s.etaTop[w] = s.rTop / s.vTop[w];
            s.etaBot[w] = s.rBot / s.vBot[w];
            s.k[w] = s.centre ? 1.0 : 1.0 - std::log(s.vTop[w] / s.vBot[w]) / s.logRatio;
        }
        return s;
    }
};

// The legs of a ray below the source, from the surface down: the same for every source depth.
struct TravelTimes::CoreLegs {
    Leg mantleTurn[2], mantleThrough[2]; // per wave
    Leg outerTurn, outerThrough, innerTurn;
};

namespace {

using Leg = TravelTimes::Leg;
using Shell = TravelTimes::Shell;

// The integrals' terms at one value of eta for ray parameter p: the delay time
// sqrt(eta^2 - p^2) - p acos(p / eta) and the angle acos(p / eta). A shell adds the change of
// each from its top to its bottom, divided by 1 - b.
struct Terms {
    double eta = -1, tau = 0, angle = 0;
    void at(double e, double p) {
        if (e == eta)
            return; // the bottom of the shell above: the same values
        eta = e;
        angle = std::acos(std::min(1.0, p / e));
        tau = std::sqrt(std::max(0.0, e * e - p * p)) - p * angle;
    }
};

// The ray of parameter p (s/rad) crosses the shell, turns in it, or cannot enter it. Adds its
// delay time and distance (radians) to the sum; "carry" holds the terms at the top of the
// shell (those at the bottom of the one above) and is left holding those at its bottom.
Pass cross(const Shell& s, int w, double p, Leg& sum, Terms& carry) {
    if (!s.carries(w) || p > s.etaTop[w])
        return Pass::Blocked;
    const double etaTop = s.etaTop[w], etaBot = s.etaBot[w], k = s.k[w];
    carry.at(etaTop, p);
    if (s.centre) { // every ray turns here; the one with p = 0 through the centre itself
        sum.tau += carry.tau;
        sum.dist += carry.angle;
        return Pass::Turned;
    }
    if (p <= etaBot) {
        if (std::abs(k) < 1e-9) { // v proportional to r: eta constant
            const double c = std::sqrt(std::max(0.0, etaTop * etaTop - p * p));
            if (c == 0)
                return Pass::Turned;
            sum.tau += c * s.logRatio;
            sum.dist += p * s.logRatio / c;
            return Pass::Through;
        }
        const Terms top = carry;
        carry.at(etaBot, p);
        sum.tau += (top.tau - carry.tau) / k;
        sum.dist += (top.angle - carry.angle) / k;
        return Pass::Through;
    }
    if (k <= 0)
        return Pass::Blocked; // eta grows downwards here: no turning inside
    sum.tau += carry.tau / k;
    sum.dist += carry.angle / k;
    return Pass::Turned;
}

Pass cross(const Shell& s, int w, double p, Leg& sum) {
    Terms fresh;
    return cross(s, w, p, sum, fresh);
}

// Down through shells [first, last) from the top of the first.
struct Descent {
    Leg leg{0, 0};
    End end = End::Through;
};

Descent descend(const std::vector<Shell>& shells, std::size_t first, std::size_t last, int w,
                double p) {
    Descent d;
    Terms carry;
    for (std::size_t i = first; i < last; ++i) {
        const Pass pass = cross(shells[i], w, p, d.leg, carry);
        if (pass == Pass::Turned) {
            d.end = End::Turned;
            return d;
        }
        if (pass == Pass::Blocked) {
            // Past the first shell, a layer too fast to enter sends the ray back up.
            d.end = i == first ? End::Blocked : End::Reflected;
            return d;
        }
    }
    return d;
}

// The leg down to where the ray turns back up within the shells: bent round, reflected by a
// faster layer, or grazing their bottom (the last ray of the branch, where the diffracted wave
// or the next branch begins).
Leg turning(const Descent& d, const Shell& bottom, int w, double p) {
    const bool grazes = d.end == End::Through && p >= bottom.etaBot[w];
    return d.end == End::Turned || d.end == End::Reflected || grazes ? d.leg : Leg{};
}

Leg through(const Descent& d) {
    return d.end == End::Through ? d.leg : Leg{};
}

bool parseDouble(std::string_view text, double& out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(out);
}

// One sample of a phase's curve: ray parameter (s/rad), distance (rad) and time (s).
struct Node {
    double p, dist, time;
};

// The time at distance x between two samples: the cubic through both whose slope at each is
// its ray parameter (dT/dx = p). Where a branch ends at a turning point, p changes smoothly
// with distance, so the cubic holds even where the distance changes fast with p.
double between(const Node& a, const Node& b, double x, double& slope) {
    const double h = b.dist - a.dist;
    if (h == 0) {
        slope = a.p;
        return std::min(a.time, b.time);
    }
    const double s = (x - a.dist) / h, s2 = s * s, s3 = s2 * s;
    const double t = (2 * s3 - 3 * s2 + 1) * a.time + (s3 - 2 * s2 + s) * h * a.p +
                     (-2 * s3 + 3 * s2) * b.time + (s3 - s2) * h * b.p;
    slope = ((6 * s2 - 6 * s) * (a.time - b.time)) / h + (3 * s2 - 4 * s + 1) * a.p +
            (3 * s2 - 2 * s) * b.p;
    return t;
}

} // namespace

struct TravelTimes::Prepared {
    // A stretch of a curve over which the distance only grows or only shrinks: nodes
    // [begin, end], distances from lo to hi.
    struct Piece {
        std::size_t begin, end;
        double lo, hi;
    };
    struct Curve {
        std::vector<Node> nodes;
        std::vector<Piece> pieces;
    };
    std::array<Curve, kCurves> curves;
    struct Diffracted {
        double p = kNaN; // the grazing ray's
        Leg grazing;     // where the diffracted wave starts
    };
    std::array<Diffracted, 2> diffracted; // per wave
};

TravelTimes::~TravelTimes() = default;

const std::vector<std::string>& TravelTimes::phaseNames() {
    static const std::vector<std::string> names = {"P", "Pdiff", "PKP", "PKIKP", "PP", "PcP",
                                                   "S", "Sdiff", "SKS", "SS",    "ScS"};
    return names;
}

const std::vector<std::string>& TravelTimes::allPhaseNames() {
    static const std::vector<std::string> names = {"p", "P", "Pdiff", "PKP", "PKIKP", "PP", "PcP",
                                                   "s", "S", "Sdiff", "SKS", "SS",    "ScS"};
    return names;
}

std::shared_ptr<const TravelTimes> TravelTimes::model(std::string_view name) {
    static const std::shared_ptr<const TravelTimes> iasp91 =
        fromTvel(embedded::iasp91Tvel(), "iasp91");
    static const std::shared_ptr<const TravelTimes> ak135 =
        fromTvel(embedded::ak135Tvel(), "ak135");
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
        if (fields.size() < 3 || !parseDouble(fields[0], pt.depth) ||
            !parseDouble(fields[1], pt.vp) || !parseDouble(fields[2], pt.vs) || pt.depth < 0)
            return fail("line " + std::to_string(lineNumber) + " is not depth, vp, vs, density");
        // Bounds that keep the shells and ray parameters few: rock, not a typing slip.
        if (pt.depth > kMaxRadius || pt.vp < kMinVelocity || pt.vp > kMaxVelocity ||
            (pt.vs != 0 && pt.vs < kMinVelocity) || pt.vs < 0 || pt.vs > kMaxVelocity ||
            points.size() >= kMaxPoints)
            return fail("line " + std::to_string(lineNumber) + " is outside an Earth-like planet");
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
    if (std::isnan(cmbDepth) || std::isnan(icbDepth) || cmbDepth <= kMaxSourceDepth ||
        icbDepth >= R)
        return fail("no fluid outer core found (S velocity 0 between two discontinuities)");

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
            const double vTop[2] = {at(f0, &Point::vp), at(f0, &Point::vs)};
            const double vBot[2] = {at(f1, &Point::vp), at(f1, &Point::vs)};
            t->shells_.push_back(Shell::make(R - (a.depth + thickness * f0),
                                             R - (a.depth + thickness * f1), vTop, vBot));
        }
    }
    auto firstBelow = [&](double depth) {
        std::size_t i = 0;
        while (i < t->shells_.size() && R - t->shells_[i].rBot < depth - 1e-9)
            ++i;
        return i + 1;
    };
    t->mantleEnd_ = firstBelow(cmbDepth);
    t->outerEnd_ = firstBelow(icbDepth);
    t->sourceShells_ = std::min(firstBelow(kMaxSourceDepth), t->mantleEnd_);
    for (std::size_t i = 0; i < t->mantleEnd_; ++i)
        if (!t->shells_[i].carries(kS))
            return fail("the S velocity vanishes above the core");

    // Ray parameters: the slowness at every shell boundary, for both waves (S in the mantle),
    // with steps no longer than kMaxStep between. A branch ends or folds back sharply only at
    // the slowness on either side of a discontinuity (or at the source); elsewhere a fold is
    // a caustic between samples.
    std::vector<std::pair<double, bool>> bounds{{0.0, true}};
    for (std::size_t i = 0; i < t->shells_.size(); ++i) {
        const Shell& s = t->shells_[i];
        for (const int w : {kP, kS}) {
            if (w == kS && i >= t->mantleEnd_)
                break;
            const bool last = i + 1 == t->shells_.size() || (w == kS && i + 1 == t->mantleEnd_);
            const bool jump = last || s.etaBot[w] != t->shells_[i + 1].etaTop[w];
            bounds.emplace_back(s.etaBot[w], jump);
            if (i == 0 || s.etaTop[w] != t->shells_[i - 1].etaBot[w] ||
                (w == kP && i == t->mantleEnd_))
                bounds.emplace_back(s.etaTop[w], true);
        }
    }
    std::sort(bounds.begin(), bounds.end());
    // One entry per slowness, sharp if any boundary there is.
    std::vector<std::pair<double, bool>> unique;
    for (const auto& [p, sharp] : bounds) {
        if (!unique.empty() && unique.back().first == p)
            unique.back().second = unique.back().second || sharp;
        else
            unique.emplace_back(p, sharp);
    }
    for (std::size_t i = 0; i < unique.size(); ++i) {
        t->p_.push_back(unique[i].first);
        t->exact_.push_back(unique[i].second);
        if (i + 1 == unique.size())
            break;
        const double gap = unique[i + 1].first - unique[i].first;
        const int steps = static_cast<int>(std::ceil(gap / kMaxStep));
        for (int k = 1; k < steps; ++k) {
            t->p_.push_back(unique[i].first + gap * k / steps);
            t->exact_.push_back(false);
        }
    }

    const std::size_t n = t->p_.size();
    t->legs_.reserve(n);
    for (const int w : {kP, kS})
        t->surfaceDown_[w].assign((t->sourceShells_ + 1) * n, Leg{});
    for (std::size_t i = 0; i < n; ++i) {
        const double p = t->p_[i];
        t->legs_.push_back(t->legsAt(p));
        for (const int w : {kP, kS}) {
            Leg sum{0, 0};
            Terms carry;
            t->surfaceDown_[w][i] = sum;
            for (std::size_t j = 0; j < t->sourceShells_; ++j) {
                if (cross(t->shells_[j], w, p, sum, carry) != Pass::Through)
                    break;
                t->surfaceDown_[w][(j + 1) * n + i] = sum;
            }
        }
    }
    return t;
}

TravelTimes::CoreLegs TravelTimes::legsAt(double p) const {
    CoreLegs c;
    for (const int w : {kP, kS}) {
        const Descent m = descend(shells_, 0, mantleEnd_, w, p);
        c.mantleTurn[w] = turning(m, shells_[mantleEnd_ - 1], w, p);
        c.mantleThrough[w] = through(m);
    }
    const Descent k = descend(shells_, mantleEnd_, outerEnd_, kP, p);
    c.outerTurn = turning(k, shells_[outerEnd_ - 1], kP, p);
    c.outerThrough = through(k);
    c.innerTurn =
        turning(descend(shells_, outerEnd_, shells_.size(), kP, p), shells_.back(), kP, p);
    return c;
}

std::shared_ptr<const TravelTimes::Prepared> TravelTimes::prepare(double depthKm) const {
    {
        std::lock_guard lock(cacheMutex_);
        for (const auto& [depth, prepared] : cache_)
            if (depth == depthKm)
                return prepared;
    }
    auto out = std::make_shared<Prepared>();
    const std::size_t n = p_.size();

    // The source: in shell js, which is cut there; the part above it is the shell "upper".
    const double rs = radius_ - depthKm;
    std::size_t js = 0;
    while (js + 1 < sourceShells_ && shells_[js].rBot > rs)
        ++js;
    const Shell& host = shells_[js];
    Shell upper = host;
    upper.rBot = rs;
    upper.logRatio = std::log(host.rTop / rs);
    double etaSource[2];
    for (const int w : {kP, kS}) {
        upper.vBot[w] = host.velocityAt(w, rs);
        upper.etaBot[w] = etaSource[w] = rs / upper.vBot[w];
    }
    const bool cut = rs < host.rTop;
    const bool upgoing = depthKm > 0;

    // From the surface down to the source, at ray parameter p (row i of the tables, or -1).
    auto above = [&](int w, double p, std::ptrdiff_t i) -> Leg {
        if (p > etaSource[w])
            return {};
        Leg a{0, 0};
        if (i >= 0) {
            a = surfaceDown_[w][js * n + static_cast<std::size_t>(i)];
        } else {
            const Descent d = descend(shells_, 0, js, w, p);
            a = d.end == End::Through ? d.leg : Leg{};
        }
        if (a.valid() && cut && cross(upper, w, p, a) != Pass::Through)
            return {};
        return a;
    };

    // Every phase's legs at one ray parameter.
    auto phaseLegs = [&](double p, std::ptrdiff_t i, Leg(&legs)[kCurves]) {
        const CoreLegs c = i >= 0 ? legs_[static_cast<std::size_t>(i)] : legsAt(p);
        const Leg aP = above(kP, p, i), aS = above(kS, p, i);
        legs[kUpP] = upgoing ? aP : Leg{};
        legs[kDownP] = c.mantleTurn[kP] * 2 - aP;
        legs[kPP] = c.mantleTurn[kP] * 4 - aP;
        legs[kPcP] = c.mantleThrough[kP] * 2 - aP;
        legs[kPKP] = c.mantleThrough[kP] * 2 + c.outerTurn * 2 - aP;
        legs[kPKIKP] = c.mantleThrough[kP] * 2 + c.outerThrough * 2 + c.innerTurn * 2 - aP;
        legs[kUpS] = upgoing ? aS : Leg{};
        legs[kDownS] = c.mantleTurn[kS] * 2 - aS;
        legs[kSS] = c.mantleTurn[kS] * 4 - aS;
        legs[kScS] = c.mantleThrough[kS] * 2 - aS;
        legs[kSKS] = c.mantleThrough[kS] * 2 + c.outerTurn * 2 - aS;
    };

    // One curve's leg alone, descending only as deep as it goes.
    auto curveAt = [&](int k, double p) -> Leg {
        const int w = k >= kUpS ? kS : kP;
        const Leg a = above(w, p, -1);
        if (k == kUpP || k == kUpS)
            return upgoing ? a : Leg{};
        if (!a.valid())
            return {};
        const Descent m = descend(shells_, 0, mantleEnd_, w, p);
        const Leg turn = turning(m, shells_[mantleEnd_ - 1], w, p), mantle = through(m);
        if (k == kDownP || k == kDownS)
            return turn * 2 - a;
        if (k == kPP || k == kSS)
            return turn * 4 - a;
        if (k == kPcP || k == kScS || !mantle.valid())
            return mantle * 2 - a;
        const Descent o = descend(shells_, mantleEnd_, outerEnd_, kP, p);
        if (k == kPKP || k == kSKS)
            return mantle * 2 + turning(o, shells_[outerEnd_ - 1], kP, p) * 2 - a;
        const Leg inner =
            turning(descend(shells_, outerEnd_, shells_.size(), kP, p), shells_.back(), kP, p);
        return mantle * 2 + through(o) * 2 + inner * 2 - a;
    };

    // The ray parameters: the model's; the two horizontal at the source, where the up- and
    // downgoing branches of P and of S meet; and more just below each of those, where both
    // branches change fastest and a deep source's P and PP turn back on themselves in a
    // fraction of the model's step.
    struct GridPoint {
        double p;
        std::ptrdiff_t row; // in the model's tables, or -1
        bool exact;         // a slowness of the model or the source: a branch may bend sharply
    };
    std::vector<GridPoint> grid;
    grid.reserve(n + 2 * (kSourceRefinement + 1));
    for (std::size_t i = 0; i < n; ++i)
        grid.push_back({p_[i], static_cast<std::ptrdiff_t>(i), exact_[i] != 0});
    for (const int w : {kP, kS}) {
        const double top = etaSource[w];
        grid.push_back({top, -1, true});
        const auto below = std::lower_bound(p_.begin(), p_.end(), top);
        const double step = below == p_.begin() ? top : top - *(below - 1);
        const double span = std::max(step, kSourceSpan * top);
        for (int k = 1; k <= kSourceRefinement; ++k)
            grid.push_back({top - std::ldexp(span, -k), -1, false});
    }
    std::sort(grid.begin(), grid.end(),
              [](const GridPoint& a, const GridPoint& b) { return a.p < b.p; });

    struct Sample {
        Node node;
        bool exact;
    };
    std::array<std::vector<std::vector<Sample>>, kCurves> runs;
    std::array<bool, kCurves> inRun{};
    for (const GridPoint& g : grid) {
        Leg legs[kCurves];
        phaseLegs(g.p, g.row, legs);
        for (int k = 0; k < kCurves; ++k) {
            if (!legs[k].valid()) {
                inRun[k] = false;
                continue;
            }
            if (!inRun[k])
                runs[k].emplace_back();
            inRun[k] = true;
            runs[k].back().push_back(
                {{g.p, legs[k].dist, legs[k].tau + g.p * legs[k].dist}, g.exact});
        }
    }

    for (int k = 0; k < kCurves; ++k) {
        Prepared::Curve& curve = out->curves[k];
        for (std::vector<Sample>& run : runs[k]) {
            // A caustic: the distance turns back at a sample that is no slowness of the model,
            // so the true turn lies between its neighbours. Closer samples by successive
            // parabolas, so that no distance the branch reaches is lost.
            std::vector<Sample> added;
            for (std::size_t j = 1; j + 1 < run.size(); ++j) {
                const double before = run[j].node.dist - run[j - 1].node.dist;
                const double after = run[j + 1].node.dist - run[j].node.dist;
                if (run[j].exact || !(before * after < 0))
                    continue;
                Node a = run[j - 1].node, b = run[j].node, c = run[j + 1].node;
                for (int round = 0; round < kCausticRounds; ++round) {
                    const double ba = b.p - a.p, bc = b.p - c.p;
                    const double fa = b.dist - a.dist, fc = b.dist - c.dist;
                    const double den = ba * fc - bc * fa;
                    if (den == 0)
                        break;
                    const double x = b.p - 0.5 * (ba * ba * fc - bc * bc * fa) / den;
                    if (!(x > a.p && x < c.p) || std::abs(x - b.p) < 1e-9 * b.p)
                        break;
                    const Leg leg = curveAt(k, x);
                    if (!leg.valid())
                        break;
                    const Node m{x, leg.dist, leg.tau + x * leg.dist};
                    added.push_back({m, false});
                    // Keep the three that bracket the turn, the most extreme in the middle.
                    const bool beyond = (after > 0) ? m.dist < b.dist : m.dist > b.dist;
                    if (beyond) {
                        (x < b.p ? c : a) = b;
                        b = m;
                    } else {
                        (x < b.p ? a : c) = m;
                    }
                }
            }
            if (!added.empty()) {
                run.insert(run.end(), added.begin(), added.end());
                std::sort(run.begin(), run.end(),
                          [](const Sample& l, const Sample& r) { return l.node.p < r.node.p; });
            }
            // Stretches of growing or shrinking distance, each sharing its ends with the next.
            const std::size_t first = curve.nodes.size();
            for (const Sample& sample : run)
                curve.nodes.push_back(sample.node);
            const std::size_t end = curve.nodes.size();
            std::size_t from = first;
            int direction = 0;
            for (std::size_t j = first + 1; j <= end; ++j) {
                int step = direction;
                if (j < end && curve.nodes[j].dist != curve.nodes[j - 1].dist)
                    step = curve.nodes[j].dist > curve.nodes[j - 1].dist ? 1 : -1;
                if (j < end && (direction == 0 || step == direction)) {
                    direction = step;
                    continue;
                }
                const double lo = curve.nodes[from].dist, hi = curve.nodes[j - 1].dist;
                curve.pieces.push_back({from, j - 1, std::min(lo, hi), std::max(lo, hi)});
                from = j - 1;
                direction = step;
            }
        }
    }

    // Diffraction along the core: the ray that grazes it, continued at its slowness.
    for (const int w : {kP, kS}) {
        const double pd = shells_[mantleEnd_ - 1].etaBot[w];
        const Leg grazing = through(descend(shells_, 0, mantleEnd_, w, pd)) * 2 - above(w, pd, -1);
        out->diffracted[w] = {pd, grazing};
    }

    std::lock_guard lock(cacheMutex_);
    if (cache_.size() >= 16)
        cache_.erase(cache_.begin());
    cache_.emplace_back(depthKm, out);
    return out;
}

namespace {

// The earliest time of one phase at distance d (radians, 0 to pi), with its ray parameter.
std::optional<std::pair<double, double>> firstOf(const TravelTimes::Prepared& prepared, int phase,
                                                 double d) {
    double best = kNaN, bestP = kNaN;
    auto consider = [&](double t, double p) {
        if (std::isfinite(t) && !(t >= best)) {
            best = t;
            bestP = p;
        }
    };
    if (phase < kCurves) {
        // A ray may also reach the station the long way round (PP and SS run up to about 200
        // degrees); with these phases and models that way is never the first.
        const double targets[] = {d, 2 * kPi - d};
        const auto& curve = prepared.curves[phase];
        for (const auto& piece : curve.pieces) {
            for (const double x : targets) {
                if (x < piece.lo || x > piece.hi)
                    continue;
                const bool growing = curve.nodes[piece.end].dist >= curve.nodes[piece.begin].dist;
                // The first node of the piece past x, by bisection.
                std::size_t lo = piece.begin, hi = piece.end;
                while (hi - lo > 1) {
                    const std::size_t mid = lo + (hi - lo) / 2;
                    const bool before =
                        growing ? curve.nodes[mid].dist <= x : curve.nodes[mid].dist >= x;
                    (before ? lo : hi) = mid;
                }
                double slope = 0;
                const double t = between(curve.nodes[lo], curve.nodes[hi], x, slope);
                consider(t, slope);
            }
        }
    } else {
        const auto& diff = prepared.diffracted[phase == kPdiff ? kP : kS];
        // As far as tables list them: the diffracted wave fades within 60 degrees of the core's
        // shadow edge.
        if (diff.grazing.valid() && d >= diff.grazing.dist &&
            d <= diff.grazing.dist + kMaxDiffraction * kRadPerDegree)
            consider(diff.grazing.tau + diff.p * d, diff.p);
    }
    if (!std::isfinite(best))
        return std::nullopt;
    return std::pair{best, bestP};
}

} // namespace

std::vector<Arrival> TravelTimes::arrivalsByName(double depthKm, double distanceDegrees,
                                                 const std::vector<std::string>& phases) const {
    std::vector<Arrival> out;
    if (!std::isfinite(depthKm) || !std::isfinite(distanceDegrees) || depthKm < 0 ||
        depthKm > kMaxSourceDepth)
        return out;
    double d = std::fmod(std::abs(distanceDegrees), 360.0);
    if (d > 180)
        d = 360 - d;
    const auto prepared = prepare(depthKm);
    for (const std::string& phase : phases) {
        const int index = phaseIndex(phase);
        if (index < 0)
            continue;
        if (const auto first = firstOf(*prepared, index, d * kRadPerDegree))
            out.push_back({phase, first->first, first->second * kRadPerDegree});
    }
    std::sort(out.begin(), out.end(),
              [](const Arrival& a, const Arrival& b) { return a.seconds < b.seconds; });
    return out;
}

std::vector<Arrival> TravelTimes::arrivals(double depthKm, double distanceDegrees,
                                           const std::vector<std::string>& phases) const {
    std::vector<std::string> names;
    auto ask = [&names](const std::string& name) {
        if (std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    };
    for (const std::string& phase : phases) {
        ask(phase);
        if (phase == "P" || phase == "S")
            ask(phase == "P" ? "p" : "s");
    }
    std::vector<Arrival> all = arrivalsByName(depthKm, distanceDegrees, names);
    // Earliest first: keep the first of each family.
    std::vector<Arrival> out;
    bool seenP = false, seenS = false;
    for (Arrival& a : all) {
        const bool p = a.phase == "P" || a.phase == "p", s = a.phase == "S" || a.phase == "s";
        if ((p && seenP) || (s && seenS))
            continue;
        seenP = seenP || p;
        seenS = seenS || s;
        out.push_back(std::move(a));
    }
    return out;
}

} // namespace geo
