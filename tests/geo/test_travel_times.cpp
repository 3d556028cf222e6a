// Travel times by the tau-p method: against published values and dense reference times, and the
// shape of every phase's curve over a fine grid of depths and distances.
#include "geo/EmbeddedData.h"
#include "geo/TravelTimes.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <sstream>
#include <thread>
#include <tuple>

namespace {

std::map<std::string, double> times(const char* model, double depth, double distance) {
    std::map<std::string, double> out;
    for (const geo::Arrival& a : geo::TravelTimes::model(model)->arrivals(depth, distance))
        out[a.phase] = a.seconds;
    return out;
}

// Every phase by its own name: p and s apart from P and S.
std::map<std::string, double> byName(const std::string& model, double depth, double distance) {
    std::map<std::string, double> out;
    for (const geo::Arrival& a : geo::TravelTimes::model(model)->arrivalsByName(depth, distance))
        out[a.phase] = a.seconds;
    return out;
}

} // namespace

// The examples of ObsPy's travel-time documentation (obspy.taup, "Basic Usage", ObsPy 1.4),
// model iasp91: a 55 km source at 67 degrees, and P at 45 degrees from 100 km.
TEST(TravelTimes, AgreeWithPublishedIasp91Examples) {
    const auto t = times("iasp91", 55, 67);
    const std::pair<const char*, double> published[] = {
        {"P", 647.041},    {"PcP", 674.865},  {"PP", 794.992}, {"S", 1176.948},
        {"SKS", 1239.090}, {"ScS", 1239.512}, {"SS", 1437.427}};
    for (const auto& [phase, seconds] : published) {
        ASSERT_TRUE(t.contains(phase)) << phase;
        EXPECT_NEAR(t.at(phase), seconds, 0.02) << phase;
    }
    EXPECT_NEAR(times("iasp91", 100, 45).at("P"), 485.210, 0.02);
}

// data/velocity-models/check-times.csv (a few depths, 25 to 165 degrees) and
// check-times-edges.csv (densely where tau-p implementations slip: deep sources' near
// branches, the core's shadow edges, the PKP caustics, the antipode): first arrivals by the
// same method on the same models, and every phase that exists at each point. Each listed phase
// within 0.05 s, none missing and none extra. The worst difference today is 0.007 s (SS); the
// margin covers the models' layering, and an error at the source as small as a tenth of a
// second fails.
class ReferenceTimes : public ::testing::TestWithParam<const char*> {};

TEST_P(ReferenceTimes, EveryListedPhaseAndNoOther) {
    constexpr double kTolerance = 0.05;
    QFile f(QStringLiteral(GS_SOURCE_DIR "/data/velocity-models/") +
            QString::fromLatin1(GetParam()));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    // Per point (model, depth, distance): the listed phases.
    std::map<std::tuple<std::string, double, double>, std::map<std::string, double>> points;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.startsWith(u'#') || line.startsWith(u"model") || line.isEmpty())
            continue;
        const QStringList c = line.split(u',');
        ASSERT_EQ(c.size(), 5) << line.toStdString();
        points[{c[0].toStdString(), c[1].toDouble(), c[2].toDouble()}][c[3].toStdString()] =
            c[4].toDouble();
    }
    std::map<std::string, std::pair<double, std::string>> worst;
    int rows = 0;
    for (const auto& [where, listed] : points) {
        const auto& [model, depth, distance] = where;
        std::ostringstream at;
        at << model << " " << depth << " km " << distance << " deg";
        const auto ours = byName(model, depth, distance);
        for (const auto& [phase, seconds] : listed) {
            ++rows;
            ASSERT_TRUE(ours.contains(phase)) << phase << " missing at " << at.str();
            const double difference = ours.at(phase) - seconds;
            EXPECT_NEAR(difference, 0.0, kTolerance) << phase << " at " << at.str();
            if (std::abs(difference) >= std::abs(worst[phase].first))
                worst[phase] = {difference, at.str()};
        }
        for (const auto& [phase, seconds] : ours)
            EXPECT_TRUE(listed.contains(phase)) << phase << " at " << at.str() << " is not listed";
    }
    EXPECT_GT(rows, 190);
    for (const auto& [phase, w] : worst)
        std::printf("%-6s worst %+.4f s at %s\n", phase.c_str(), w.first, w.second.c_str());
}

INSTANTIATE_TEST_SUITE_P(BothFiles, ReferenceTimes,
                         ::testing::Values("check-times.csv", "check-times-edges.csv"),
                         [](const auto& info) {
                             return std::string(info.param) == "check-times.csv" ? "Common"
                                                                                 : "Edges";
                         });

TEST(TravelTimes, PhasesExistWhereTheRaysGoAndNowhereElse) {
    // The core's shadow: at 105 degrees no P turns in the mantle; it is diffracted along the core.
    const auto shadow = times("iasp91", 10, 105);
    EXPECT_FALSE(shadow.contains("P"));
    EXPECT_TRUE(shadow.contains("Pdiff"));
    EXPECT_FALSE(shadow.contains("PKIKP")); // not before about 114 degrees
    // Near the source nothing has reached the core yet.
    const auto near = times("iasp91", 10, 25);
    for (const char* core : {"PKIKP", "PKP", "SKS", "Pdiff", "Sdiff"})
        EXPECT_FALSE(near.contains(core)) << core;
    // From a deep source the first P near the epicentre leaves upwards.
    const auto overhead = times("ak135", 600, 1);
    ASSERT_TRUE(overhead.contains("p"));
    EXPECT_FALSE(overhead.contains("P"));
    // The slant path is about 610 km through rock of 5.8 to 10.2 km/s.
    EXPECT_GT(overhead.at("p"), 610 / 10.3);
    EXPECT_LT(overhead.at("p"), 610 / 7.5);
    // Every depth from the surface to 700 km has a P at 30 degrees, later for shallower sources.
    double previous = 1e9;
    for (double depth = 0; depth <= 700; depth += 50) {
        const auto t = times("iasp91", depth, 30);
        ASSERT_TRUE(t.contains("P")) << depth;
        EXPECT_LT(t.at("P"), previous) << depth;
        previous = t.at("P");
    }
    EXPECT_TRUE(geo::TravelTimes::model("iasp91")->arrivals(701, 30).empty());
    EXPECT_TRUE(geo::TravelTimes::model("iasp91")->arrivals(-1, 30).empty());
    EXPECT_TRUE(geo::TravelTimes::model("iasp91")->arrivals(std::nan(""), 30).empty());
    EXPECT_TRUE(geo::TravelTimes::model("iasp91")->arrivals(10, INFINITY).empty());
    EXPECT_EQ(geo::TravelTimes::model("prem"), nullptr);
    // Distances are taken modulo 360 and folded: 200 degrees is 160 the other way.
    EXPECT_EQ(byName("ak135", 33, 200), byName("ak135", 33, 160));
    EXPECT_EQ(byName("ak135", 33, -40), byName("ak135", 33, 40));
    // A source at the surface sends nothing upwards.
    for (const double d : {0.0, 0.3, 20.0}) {
        const auto surface = byName("iasp91", 0, d);
        EXPECT_FALSE(surface.contains("p") || surface.contains("s")) << d;
    }
}

// The marks on a trace: P stands for the earlier of p and P, under the name of the ray that
// comes first, and likewise S; asked by name, both are there.
TEST(TravelTimes, TheMarksTakeTheEarlierOfTheUpAndDowngoingRay) {
    struct Row {
        const char* model;
        double depth, distance;
    };
    // Where both rays arrive (deep sources at 9.5 to 12.5 degrees: the downgoing one turns
    // below the 660 km discontinuity and comes back inside the upgoing ray's reach), and
    // where only one does.
    for (const Row& r : {Row{"iasp91", 650, 12.5}, Row{"ak135", 650, 11}, Row{"iasp91", 350, 9.5},
                         Row{"ak135", 300, 5}, Row{"ak135", 300, 20}}) {
        const auto all = byName(r.model, r.depth, r.distance);
        const auto marks = times(r.model, r.depth, r.distance);
        for (const char* family : {"P", "S"}) {
            const std::string up(1, static_cast<char>(std::tolower(family[0])));
            std::vector<std::pair<double, std::string>> rays;
            for (const std::string& name : {up, std::string(family)})
                if (all.contains(name))
                    rays.emplace_back(all.at(name), name);
            ASSERT_FALSE(rays.empty()) << r.model << " " << r.depth << " " << r.distance;
            const auto first = *std::min_element(rays.begin(), rays.end());
            EXPECT_TRUE(marks.contains(first.second)) << first.second;
            EXPECT_EQ(marks.at(first.second), first.first);
            // Only one mark per family.
            EXPECT_EQ(marks.contains(up) + marks.contains(family), 1) << family;
        }
    }
    // At 650 km and 12.5 degrees both rays arrive, the downgoing 0.8 s before the upgoing.
    const auto both = byName("iasp91", 650, 12.5);
    ASSERT_TRUE(both.contains("p") && both.contains("P"));
    EXPECT_NEAR(both.at("p") - both.at("P"), 0.77, 0.05);
    // The family by its other name, and a name given twice, give one mark each.
    const auto model = geo::TravelTimes::model("iasp91");
    EXPECT_EQ(model->arrivals(650, 12.5, {"p", "P", "P"}).size(), 1u);
    EXPECT_EQ(model->arrivals(650, 12.5, {"p"}).front().phase, "p");
}

// Straight up: the upgoing ray at no distance takes the time of the vertical path, the integral
// of dz / v(z) with the velocity running linearly between the table's points. Worked out here
// apart from the tau sums, it pins the velocity at the source and the cut shell above it.
// Bullen's law in thin shells stays within 0.7 ms of the linear velocity down to 700 km.
TEST(TravelTimes, TheVerticalRayTakesTheTimeOfTheVerticalPath) {
    for (const char* modelName : {"iasp91", "ak135"}) {
        std::istringstream table(std::string(modelName == std::string("iasp91")
                                                 ? geo::embedded::iasp91Tvel()
                                                 : geo::embedded::ak135Tvel()));
        std::string line;
        std::getline(table, line);
        std::getline(table, line);
        std::vector<std::array<double, 3>> points; // depth, vp, vs
        double depth = 0, vp = 0, vs = 0, density = 0;
        while (table >> depth >> vp >> vs >> density)
            points.push_back({depth, vp, vs});
        ASSERT_GT(points.size(), 100u);
        auto vertical = [&](double to, int wave) {
            double t = 0;
            for (std::size_t i = 1; i < points.size() && points[i - 1][0] < to; ++i) {
                const auto& a = points[i - 1];
                const auto& b = points[i];
                if (b[0] == a[0])
                    continue;
                const double end = std::min(b[0], to);
                const double slope = (b[wave] - a[wave]) / (b[0] - a[0]);
                const double vEnd = a[wave] + slope * (end - a[0]);
                t += slope == 0 ? (end - a[0]) / a[wave] : std::log(vEnd / a[wave]) / slope;
            }
            return t;
        };
        const auto model = geo::TravelTimes::model(modelName);
        for (const double source : {5.0, 33.0, 137.2, 333.3, 409.9, 555.5, 699.9}) {
            const auto up = model->arrivalsByName(source, 0, {"p", "s"});
            ASSERT_EQ(up.size(), 2u) << modelName << " " << source;
            EXPECT_NEAR(up[0].seconds, vertical(source, 1), 2e-3) << modelName << " " << source;
            EXPECT_NEAR(up[1].seconds, vertical(source, 2), 2e-3) << modelName << " " << source;
            EXPECT_NEAR(up[0].rayParameter, 0.0, 1e-9);
        }
    }
}

// In a layer of constant velocity rays run straight: in the crust (5.8 km/s P above 20 km,
// 6.5 below; S 3.36 and 3.75 in iasp91, 3.46 and 3.85 in ak135) the upgoing ray from a source
// at 25 or 33 km is two straight pieces, whose distance and time are plain geometry. Over the
// whole upgoing branch, up to the horizontal ray, times agree to within half a millisecond.
TEST(TravelTimes, UpgoingRaysInTheCrustRunStraight) {
    struct Layer {
        double top, bottom, velocity; // km below the surface, km/s
    };
    struct Case {
        const char* model;
        const char* phase;
        double upper, lower; // velocity above and below 20 km
    };
    const double R = 6371;
    for (const Case& c : {Case{"iasp91", "p", 5.8, 6.5}, Case{"iasp91", "s", 3.36, 3.75},
                          Case{"ak135", "p", 5.8, 6.5}, Case{"ak135", "s", 3.46, 3.85}}) {
        for (const double depth : {25.0, 33.0}) {
            const Layer layers[] = {{0, 20, c.upper}, {20, depth, c.lower}};
            // Distance (rad) and time along the straight pieces for ray parameter p (s/rad).
            auto ray = [&](double p, double& distance, double& time) {
                distance = time = 0;
                for (const Layer& l : layers) {
                    const double closest = p * l.velocity; // radius where the line would turn
                    const double rTop = R - l.top, rBot = R - l.bottom;
                    distance += std::acos(std::min(1.0, closest / rTop)) -
                                std::acos(std::min(1.0, closest / rBot));
                    time += (std::sqrt(rTop * rTop - closest * closest) -
                             std::sqrt(std::max(0.0, rBot * rBot - closest * closest))) /
                            l.velocity;
                }
            };
            const double horizontal = (R - depth) / c.lower;
            double reach = 0, unused = 0;
            ray(horizontal, reach, unused);
            const auto model = geo::TravelTimes::model(c.model);
            for (double d = 0; d < reach / std::numbers::pi * 180; d += 0.02) {
                double lo = 0, hi = horizontal, distance = 0, time = 0;
                for (int i = 0; i < 100; ++i) {
                    ray((lo + hi) / 2, distance, time);
                    (distance < d * std::numbers::pi / 180 ? lo : hi) = (lo + hi) / 2;
                }
                const auto ours = model->arrivalsByName(depth, d, {c.phase});
                ASSERT_EQ(ours.size(), 1u) << c.model << " " << c.phase << " " << depth << " " << d;
                EXPECT_NEAR(ours.front().seconds, time, 5e-4)
                    << c.model << " " << c.phase << " " << depth << " " << d;
            }
        }
    }
}

// Where the curves end: the shadow edge, the horizontal ray at the source, the antipode.
TEST(TravelTimes, BranchesMeetWhereTheyEnd) {
    for (const std::string model : {"iasp91", "ak135"}) {
        for (const double depth : {0.0, 15.0, 120.0, 420.0, 690.0}) {
            const auto times = geo::TravelTimes::model(model);
            auto at = [&](double d, const char* phase) {
                const auto a = times->arrivalsByName(depth, d, {phase});
                return a.empty() ? std::nan("") : a.front().seconds;
            };
            // The last P that turns in the mantle and the first Pdiff, likewise for S.
            for (const auto& [turning, diffracted] :
                 {std::pair{"P", "Pdiff"}, std::pair{"S", "Sdiff"}}) {
                double lo = 90, hi = 105; // P there, then not
                ASSERT_FALSE(std::isnan(at(lo, turning))) << model << depth << turning;
                ASSERT_TRUE(std::isnan(at(hi, turning))) << model << depth << turning;
                for (int i = 0; i < 40; ++i)
                    (std::isnan(at((lo + hi) / 2, turning)) ? hi : lo) = (lo + hi) / 2;
                EXPECT_GT(lo, 95.0) << model << depth << turning;
                EXPECT_LT(lo, 101.5) << model << depth << turning;
                EXPECT_TRUE(std::isnan(at(lo - 0.01, diffracted))) << model << depth << diffracted;
                EXPECT_NEAR(at(hi + 1e-6, diffracted), at(lo, turning), 1e-3) << model << depth;
                // Beyond, the diffracted wave runs at the slowness of the core's top: its radius
                // over the velocity there, in s/degree.
                const bool ak = model == "ak135", isP = turning == std::string("P");
                const double slowness = (ak ? 3479.5 : 3482.0) /
                                        (isP ? (ak ? 13.6602 : 13.6908) : (ak ? 7.2811 : 7.3015)) *
                                        std::numbers::pi / 180;
                const auto beyond = times->arrivalsByName(depth, hi + 3, {diffracted});
                ASSERT_EQ(beyond.size(), 1u);
                EXPECT_NEAR(beyond.front().rayParameter, slowness, 1e-6) << model << depth;
            }
            // The antipode: PKIKP straight through the centre, its ray parameter nil.
            const auto antipode = times->arrivalsByName(depth, 180, {"PKIKP"});
            ASSERT_EQ(antipode.size(), 1u) << model << depth;
            EXPECT_NEAR(antipode.front().rayParameter, 0.0, 0.01);
            EXPECT_NEAR(at(179.9, "PKIKP"), antipode.front().seconds, 0.01);
            EXPECT_LE(at(179.9, "PKIKP"), antipode.front().seconds);
            if (depth == 0)
                continue;
            // Upgoing and downgoing rays meet at the horizontal one: where p ends, P is there no
            // later, and the first of the two runs on without a jump.
            double lo = 0, hi = 30;
            for (int i = 0; i < 50; ++i)
                (std::isnan(at((lo + hi) / 2, "p")) ? hi : lo) = (lo + hi) / 2;
            EXPECT_LE(at(hi, "P"), at(lo, "p") + 1e-6) << model << depth;
            const double before = std::fmin(at(lo - 0.01, "p"), at(lo - 0.01, "P"));
            const double after = std::fmin(at(hi + 0.01, "p"), at(hi + 0.01, "P"));
            EXPECT_GT(after, before) << model << depth;
            EXPECT_LT(after - before, 0.3) << model << depth; // 0.02 degrees at under 15 s/degree
        }
    }
}

// Over a fine grid of distances at many depths, for both models: the first arrival of the P and
// of the S family (up- or downgoing, or diffracted) grows with distance, steadily, and S comes
// after P; every phase exists over one stretch of distance and does not vanish inside it.
TEST(TravelTimes, CurvesHoldTogetherOverAFineGrid) {
    const double depths[] = {0,   5,     33,  77.5, 120, 165, 186.4, 209.9, 210, 250, 300,
                             350, 409.9, 410, 420,  480, 550, 600,   659.9, 660, 661, 700};
    int checked = 0;
    for (const char* model : {"iasp91", "ak135"}) {
        for (const double depth : depths) {
            std::map<std::string, double> last;
            std::map<std::string, double> lostAt;
            for (int step = 0; step <= 3600; ++step) {
                const double d = step * 0.05;
                auto now = byName(model, depth, d);
                double p = INFINITY, s = INFINITY;
                for (const auto& [phase, seconds] : now) {
                    if (phase == "p" || phase == "P" || phase == "Pdiff")
                        p = std::min(p, seconds);
                    if (phase == "s" || phase == "S" || phase == "Sdiff")
                        s = std::min(s, seconds);
                }
                if (std::isfinite(p))
                    now["P family"] = p;
                if (std::isfinite(s))
                    now["S family"] = s;
                const std::string at = std::string(model) + " " + std::to_string(depth) + " km " +
                                       std::to_string(d) + " deg";
                if (d > 0 && std::isfinite(p) && std::isfinite(s)) {
                    EXPECT_GT(s, p) << at;
                }
                for (const auto& [phase, seconds] : now) {
                    const auto lost = lostAt.find(phase);
                    EXPECT_TRUE(lost == lostAt.end())
                        << phase << " vanished at " << lost->second << " and is back at " << at;
                    // The first of a family grows with distance, and without a jump: no ray is
                    // slower than S at the surface, 33 s per degree.
                    if (last.contains(phase) && phase.find("family") != std::string::npos) {
                        EXPECT_GE(seconds, last.at(phase)) << phase << " at " << at;
                        EXPECT_LT(seconds, last.at(phase) + 33.5 * 0.05) << phase << " at " << at;
                    }
                    last[phase] = seconds;
                    ++checked;
                }
                for (const auto& [phase, seconds] : last)
                    if (!now.contains(phase) && !lostAt.contains(phase))
                        lostAt[phase] = d;
            }
            // The P family reaches from the epicentre to 60 degrees past the shadow edge.
            EXPECT_FALSE(lostAt.contains("P family") && lostAt.at("P family") < 150)
                << model << depth;
        }
    }
    EXPECT_GT(checked, 500000);
}

// groundsway-geo lists every phase by its own name, the upgoing ones as p and s.
TEST(TravelTimes, TheToolListsUpgoingRaysUnderTheirOwnNames) {
    QProcess tool;
    tool.start(QStringLiteral(GS_BINARY_DIR "/groundsway-geo"),
               {"arrivals", "--model", "iasp91", "--depth", "650", "--distance", "12.5"});
    ASSERT_TRUE(tool.waitForFinished(30000));
    EXPECT_EQ(tool.exitCode(), 0);
    // TauP: P 163.169, p 163.942, S 297.153, s 299.165.
    std::vector<std::pair<std::string, double>> listed;
    for (const QString& line :
         QString::fromUtf8(tool.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts))
        listed.emplace_back(line.section(u' ', 0, 0).toStdString(),
                            line.section(u' ', 1, 1).toDouble());
    ASSERT_EQ(listed.size(), 6u);
    const std::pair<const char*, double> expected[] = {{"P", 163.169},  {"p", 163.942},
                                                       {"S", 297.153},  {"s", 299.165},
                                                       {"PcP", 444.06}, {"ScS", 813.4}};
    for (std::size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(listed[i].first, expected[i].first);
        EXPECT_NEAR(listed[i].second, expected[i].second, 0.02) << expected[i].first;
    }
    tool.start(QStringLiteral(GS_BINARY_DIR "/groundsway-geo"),
               {"arrivals", "--depth", "300", "--distance", "3", "--phases", "p,s,P"});
    ASSERT_TRUE(tool.waitForFinished(30000));
    const QStringList lines =
        QString::fromUtf8(tool.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith(u"p ")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith(u"s ")) << lines[1].toStdString();
}

// Earthquakes' contexts are worked out on several threads at once: the cache of prepared depths
// is shared, and every thread gets what one thread alone would.
TEST(TravelTimes, ThreadsShareTheModelAndGetTheSameAnswers) {
    const auto model = geo::TravelTimes::fromTvel(geo::embedded::ak135Tvel(), "ak135");
    ASSERT_TRUE(model);
    std::vector<double> depths;
    for (int i = 0; i < 24; ++i)
        depths.push_back(10 + 27.5 * i); // more than the cache holds
    std::vector<std::vector<std::vector<geo::Arrival>>> answers(4);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < answers.size(); ++t)
        threads.emplace_back([&, t] {
            for (std::size_t k = 0; k < depths.size(); ++k)
                answers[t].push_back(
                    model->arrivalsByName(depths[(k + 5 * t) % depths.size()], 47.5));
        });
    for (std::thread& thread : threads)
        thread.join();
    const auto alone = geo::TravelTimes::model("ak135");
    for (std::size_t t = 0; t < answers.size(); ++t)
        for (std::size_t k = 0; k < depths.size(); ++k) {
            const auto expected = alone->arrivalsByName(depths[(k + 5 * t) % depths.size()], 47.5);
            ASSERT_EQ(answers[t][k].size(), expected.size());
            for (std::size_t i = 0; i < expected.size(); ++i) {
                EXPECT_EQ(answers[t][k][i].phase, expected[i].phase);
                EXPECT_EQ(answers[t][k][i].seconds, expected[i].seconds);
            }
        }
}
