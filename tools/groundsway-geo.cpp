// groundsway-geo: distances, travel times and Flinn-Engdahl regions, from the command line.
//
//   groundsway-geo distance LAT1 LON1 LAT2 LON2
//   groundsway-geo arrivals --depth KM --distance DEG [--model iasp91|ak135] [--phases P,S,...]
//   groundsway-geo region LAT LON
#include "geo/FlinnEngdahl.h"
#include "geo/Geodesy.h"
#include "geo/TravelTimes.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

const char* const kUsage =
    "Usage: groundsway-geo distance LAT1 LON1 LAT2 LON2\n"
    "       groundsway-geo arrivals --depth KM --distance DEG [--model iasp91|ak135] "
    "[--phases P,S,...]\n"
    "       groundsway-geo region LAT LON\n"
    "       groundsway-geo --help | --version\n\n"
    "distance  the great-circle distance in degrees (geocentric), the distance in km on the\n"
    "          WGS84 ellipsoid, the azimuth and the back-azimuth in degrees, on one line\n"
    "arrivals  the first arrival of each phase at that distance from a source at that depth\n"
    "          (0 to 700 km), one \"NAME SECONDS s\" a line, earliest first. Phases: p P\n"
    "          Pdiff PKP PKIKP PP PcP s S Sdiff SKS SS ScS (all by default); p and s leave\n"
    "          the source upwards, P and S downwards; a phase named in --phases that does\n"
    "          not arrive at that distance is said on standard error\n"
    "region    the Flinn-Engdahl region number and name (1995 regionalisation)\n"
    "\n"
    "Options of arrivals:\n"
    "  --depth KM             the source's depth, 0 to 700 km\n"
    "  --distance DEG         the distance, 0 to 180 degrees\n"
    "  --model iasp91|ak135   the Earth model (default iasp91)\n"
    "  --phases P,S,...       the phases to give, comma-separated\n"
    "\n"
    "Options:\n"
    "  -h, --help             show this help and exit\n"
    "  -v, --version          show the version and exit\n"
    "\n"
    "Exit status: 0 on success, 1 when none of the phases asked for arrives at that distance,\n"
    "2 for a mistake on the command line or a question without an answer.\n";

int usageError(const std::string& why) {
    std::fprintf(stderr, "groundsway-geo: %s\nTry 'groundsway-geo --help'.\n", why.c_str());
    return 2;
}

std::optional<double> number(std::string_view text) {
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

std::optional<std::vector<double>> numbers(const std::vector<std::string_view>& args,
                                           std::size_t count) {
    if (args.size() != count)
        return std::nullopt;
    std::vector<double> out;
    for (const auto a : args) {
        const auto v = number(a);
        if (!v)
            return std::nullopt;
        out.push_back(*v);
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    for (const auto a : args) {
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "-v" || a == "--version") {
            std::printf("groundsway-geo %s\n", GROUNDSWAY_VERSION);
            return 0;
        }
    }
    if (args.empty())
        return usageError("a command is needed: distance, arrivals or region");
    const std::string_view command = args[0];
    const std::vector<std::string_view> rest(args.begin() + 1, args.end());

    if (command == "distance") {
        const auto v = numbers(rest, 4);
        const auto b = v ? geo::bearing((*v)[0], (*v)[1], (*v)[2], (*v)[3]) : std::nullopt;
        if (!b)
            return usageError(
                "distance needs LAT1 LON1 LAT2 LON2 in degrees (latitudes within 90)");
        std::printf("%.4f deg %.3f km azimuth %.3f back-azimuth %.3f\n", b->degrees, b->kilometres,
                    b->azimuth, b->backAzimuth);
        return 0;
    }
    if (command == "region") {
        const auto v = numbers(rest, 2);
        const auto r = v ? geo::flinnEngdahlRegion((*v)[0], (*v)[1]) : std::nullopt;
        if (!r)
            return usageError("region needs LAT LON in degrees (latitude within 90)");
        std::printf("%d %s\n", r->number, geo::titleCase(r->name).c_str());
        return 0;
    }
    if (command == "arrivals") {
        std::optional<double> depth, distance;
        std::string model = "iasp91";
        std::vector<std::string> phases = geo::TravelTimes::allPhaseNames();
        bool phasesNamed = false;
        for (std::size_t i = 0; i < rest.size(); ++i) {
            const std::string_view a = rest[i];
            if (a != "--depth" && a != "--distance" && a != "--model" && a != "--phases")
                return usageError("Unknown option '" + std::string(a) + "'.");
            if (i + 1 >= rest.size())
                return usageError("Missing value after '" + std::string(a) + "'.");
            const std::string_view value = rest[++i];
            if (a == "--depth") {
                depth = number(value);
                if (!depth || *depth < 0 || *depth > geo::TravelTimes::kMaxSourceDepth)
                    return usageError("--depth needs kilometres from 0 to 700");
            } else if (a == "--distance") {
                distance = number(value);
                if (!distance || *distance < 0 || *distance > 180)
                    return usageError("--distance needs degrees from 0 to 180");
            } else if (a == "--model") {
                model = std::string(value);
            } else if (a == "--phases") {
                phases.clear();
                phasesNamed = true;
                std::size_t from = 0;
                while (from <= value.size()) {
                    const std::size_t comma = std::min(value.find(',', from), value.size());
                    const std::string name(value.substr(from, comma - from));
                    const auto& known = geo::TravelTimes::allPhaseNames();
                    if (std::find(known.begin(), known.end(), name) == known.end())
                        return usageError("unknown phase '" + name + "'");
                    phases.push_back(name);
                    from = comma + 1;
                }
            }
        }
        if (!depth || !distance)
            return usageError("arrivals needs --depth and --distance");
        const auto times = geo::TravelTimes::model(model);
        if (!times)
            return usageError("unknown model '" + model + "' (iasp91 or ak135)");
        const auto arrivals = times->arrivalsByName(*depth, *distance, phases);
        for (const geo::Arrival& a : arrivals)
            std::printf("%s %.3f s\n", a.phase.c_str(), a.seconds);
        // A phase asked for by name that does not come is said, not silently dropped.
        if (phasesNamed)
            for (const std::string& p : phases)
                if (std::none_of(arrivals.begin(), arrivals.end(),
                                 [&](const geo::Arrival& a) { return a.phase == p; }))
                    std::fprintf(stderr,
                                 "groundsway-geo: %s does not arrive at %g degrees from a source "
                                 "%g km deep (%s)\n",
                                 p.c_str(), *distance, *depth, model.c_str());
        return arrivals.empty() ? 1 : 0;
    }
    if (command.starts_with('-'))
        return usageError("Unknown option '" + std::string(command) + "'.");
    return usageError("Unknown command '" + std::string(command) +
                      "' (distance, arrivals or region).");
}
