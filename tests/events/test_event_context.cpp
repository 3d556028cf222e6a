// An earthquake's context from values alone: the note, the marks and the surface-wave window of
// each row, the rows of one station sharing them, depths the travel times cannot use, the origin
// a window shows and the order by distance.
#include "events/EventContext.h"
#include "geo/Geodesy.h"
#include "geo/TravelTimes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

SeismicOrigin origin(std::optional<double> depth = 33.0) {
    SeismicOrigin o;
    o.originTime = civil::dateOf(2026, 12, 7, 20, 0, 0);
    o.latitude = 10;
    o.longitude = 20;
    o.depthKm = depth;
    o.mag = 6.1;
    return o;
}

const QHash<QString, context::Place> kPlaces = {{"IU.FAR", {40, 60}}, {"GE.NEAR", {12, 22}}};

} // namespace

TEST(EventContext, EachPlacedStationGetsItsNoteMarksAndSurfaceWaveWindow) {
    const auto rows = context::rowContexts(origin(), "iasp91",
                                           {"IU.FAR", "XX.UNK", "GE.NEAR", "IU.FAR"}, kPlaces);
    ASSERT_EQ(rows.size(), 4u);
    ASSERT_TRUE(rows[0] && rows[2] && rows[3]);
    EXPECT_FALSE(rows[1]); // no place: no context
    const auto b = *geo::bearing(10, 20, 40, 60);
    EXPECT_EQ(rows[0]->note, QStringLiteral("%1\u00b0  BAz %2\u00b0")
                                 .arg(b.degrees, 0, 'f', 1)
                                 .arg(b.backAzimuth, 0, 'f', 0));
    // The marks are the model's arrivals at that distance and depth, earliest first.
    const auto expected = geo::TravelTimes::model("iasp91")->arrivals(33.0, b.degrees);
    ASSERT_EQ(rows[0]->marks.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(rows[0]->marks[i].second.toStdString(), expected[i].phase);
        EXPECT_NEAR(civil::secondsBetween(origin().originTime, rows[0]->marks[i].first),
                    expected[i].seconds, 1e-6);
    }
    EXPECT_EQ(rows[0]->marks.front().second, u"P");
    ASSERT_TRUE(rows[0]->band);
    EXPECT_NEAR(civil::secondsBetween(origin().originTime, rows[0]->band->first),
                b.kilometres / 4.0, 1e-3);
    EXPECT_NEAR(civil::secondsBetween(origin().originTime, rows[0]->band->second),
                b.kilometres / 3.5, 1e-3);
    EXPECT_EQ(rows[3]->note, rows[0]->note); // another channel of the same station
    EXPECT_LT(rows[2]->degrees, rows[0]->degrees);
    // The other model gives its own times.
    const auto ak = context::rowContexts(origin(), "ak135", {"IU.FAR"}, kPlaces);
    ASSERT_TRUE(ak[0]);
    EXPECT_NE(ak[0]->marks.front().first, rows[0]->marks.front().first);
}

TEST(EventContext, ADepthTheTimesCannotUseGivesDistancesWithoutMarks) {
    for (const double depth : {9999.0, 1e308, -5.0, std::numeric_limits<double>::quiet_NaN()}) {
        const auto rows = context::rowContexts(origin(depth), "iasp91", {"IU.FAR"}, kPlaces);
        ASSERT_TRUE(rows[0]) << depth;
        EXPECT_TRUE(rows[0]->marks.empty()) << depth;
        EXPECT_FALSE(rows[0]->note.isEmpty());
    }
    // No depth at all: 10 km, as catalogues mean by it.
    const auto none = context::rowContexts(origin(std::nullopt), "iasp91", {"IU.FAR"}, kPlaces);
    const auto ten = context::rowContexts(origin(10.0), "iasp91", {"IU.FAR"}, kPlaces);
    ASSERT_TRUE(none[0] && ten[0]);
    EXPECT_EQ(none[0]->marks, ten[0]->marks);
    // An unknown model: distances, no marks.
    EXPECT_TRUE(context::rowContexts(origin(), "prem", {"IU.FAR"}, kPlaces)[0]->marks.empty());
}

TEST(EventContext, TheWindowShowsItsNewestOriginAndRowsSortByDistanceKeepingChannelsTogether) {
    const Time t0 = civil::dateOf(2026, 12, 7, 20, 0, 0);
    std::vector<SeismicOrigin> list(3);
    for (int i = 0; i < 3; ++i)
        list[static_cast<std::size_t>(i)].originTime = civil::addSeconds(t0, 600.0 * i);
    EXPECT_EQ(context::newestIn(list, t0, civil::addSeconds(t0, 900))->originTime,
              civil::addSeconds(t0, 600));
    EXPECT_EQ(context::newestIn(list, t0, civil::addSeconds(t0, 1200))->originTime,
              civil::addSeconds(t0, 1200));
    EXPECT_FALSE(context::newestIn(list, civil::addSeconds(t0, 1201), civil::addSeconds(t0, 1e4)));
    // Rows 0 (two pieces, 50 degrees), 1 (no place), 2 (10 degrees), 3 (50 degrees).
    const double inf = std::numeric_limits<double>::infinity();
    const auto order = context::byDistance({50, 50, inf, 10, 50}, {0, 0, 1, 2, 3});
    EXPECT_EQ(order, (std::vector<std::size_t>{3, 0, 1, 4, 2}));
}
