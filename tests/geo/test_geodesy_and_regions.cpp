// Where a station lies from an epicentre, and which Flinn-Engdahl region an epicentre is in.
#include "geo/FlinnEngdahl.h"
#include "geo/Geodesy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

TEST(Geodesy, KnownPairsAntipodesPolesAndTheDateLine) {
    // Vincenty's own check (Survey Review 1975, line (a) of his table, as Geoscience Australia
    // lists it): Flinders Peak to Buninyong, 54972.271 m, azimuths 306 52 05.37 and, back,
    // 127 10 25.07.
    const auto v = geo::bearing(-37.95103342, 144.42486789, -37.65282114, 143.92649554);
    ASSERT_TRUE(v);
    EXPECT_NEAR(v->kilometres, 54.972271, 1e-6);
    EXPECT_NEAR(v->azimuth, 306.868158, 1e-5);
    EXPECT_NEAR(v->backAzimuth, 127.173630, 1e-5);

    // Antipodes on the equator: the shortest way runs over a pole, twice the WGS84 quarter
    // meridian (10 001 965.729 m).
    const auto antipodes = geo::bearing(0, 0, 0, 180);
    ASSERT_TRUE(antipodes);
    EXPECT_NEAR(antipodes->degrees, 180.0, 1e-9);
    EXPECT_NEAR(antipodes->kilometres, 20003.931459, 1e-6);
    const auto poles = geo::bearing(90, 0, -90, 0);
    ASSERT_TRUE(poles);
    EXPECT_NEAR(poles->degrees, 180.0, 1e-9);
    EXPECT_NEAR(poles->kilometres, 20003.931459, 1e-6);
    const auto dateLine = geo::bearing(0, 179.5, 0, -179.5);
    ASSERT_TRUE(dateLine);
    EXPECT_NEAR(dateLine->degrees, 1.0, 1e-9);
    EXPECT_NEAR(dateLine->kilometres, 111.319, 0.001);
    EXPECT_NEAR(dateLine->azimuth, 90.0, 1e-6);
    EXPECT_NEAR(dateLine->backAzimuth, 270.0, 1e-6);
    // A hair west of due north the azimuth is 0, not 360; due north it is 0, not -0.
    const auto north = geo::bearing(0, 0, 10, -1e-15);
    ASSERT_TRUE(north);
    EXPECT_NEAR(north->azimuth, 0.0, 1e-9);
    EXPECT_NEAR(north->backAzimuth, 180.0, 1e-9);
    EXPECT_FALSE(std::signbit(geo::bearing(-10, 0, 10, 0)->azimuth));
    // Geocentric degrees: at 45 N the geographic latitude is 0.19 degrees above the geocentric.
    const auto meridian = geo::bearing(0, 0, 45, 0);
    EXPECT_NEAR(meridian->degrees, 44.8076, 1e-3);
    EXPECT_FALSE(geo::bearing(91, 0, 0, 0));
    EXPECT_FALSE(geo::bearing(0, std::nan(""), 0, 0));
}

// Within a degree of the antipode, where an iterated Vincenty solution does not settle, and in
// every quadrant of azimuth and back azimuth. Published lines: Wellington to Salamanca from
// GeographicLib's documentation (19 959 679.267 m, azimuths 161.06766998615882 and, at
// Salamanca, 18.825195123248392), Karney's table 5 (J. Geodesy 87, 2013: -30 to 29.9 over
// 179.8 degrees of longitude, 19 989 832.827610 m, azimuth 161.890524). The ellipsoid's symmetries
// give the other quadrants exactly: mirrored north-south an azimuth a becomes 180 - a, east-west
// 360 - a, and the same line walked backwards swaps azimuth and back azimuth.
TEST(Geodesy, AzimuthsInEveryQuadrantAndNearTheAntipode) {
    const double az = 161.06766998615882, atSalamanca = 18.825195123248392;
    struct Row {
        double lat1, lon1, lat2, lon2, km, azimuth, backAzimuth;
    };
    const double salamanca = 19959.67926735382;
    const Row rows[] = {
        {-41.32, 174.81, 40.96, -5.50, salamanca, az, atSalamanca + 180},
        {40.96, -5.50, -41.32, 174.81, salamanca, atSalamanca + 180, az},
        {41.32, 174.81, -40.96, -5.50, salamanca, 180 - az, 180 - atSalamanca + 180},
        {-41.32, -174.81, 40.96, 5.50, salamanca, 360 - az, 360 - atSalamanca - 180},
        {41.32, -174.81, -40.96, 5.50, salamanca, az + 180, atSalamanca},
        {-30, 0, 29.9, 179.8, 19989.832827610, 161.890524, std::nan("")},
        {30, 0, -29.9, -179.8, 19989.832827610, 161.890524 + 180, std::nan("")},
    };
    for (const Row& r : rows) {
        const auto b = geo::bearing(r.lat1, r.lon1, r.lat2, r.lon2);
        ASSERT_TRUE(b) << r.lat1 << " " << r.lon1;
        const std::string where = std::to_string(r.lat1) + " " + std::to_string(r.lon1);
        EXPECT_NEAR(b->kilometres, r.km, 2e-6) << where;
        EXPECT_NEAR(b->azimuth, r.azimuth, 1e-5) << where;
        if (!std::isnan(r.backAzimuth)) {
            EXPECT_NEAR(b->backAzimuth, r.backAzimuth, 1e-9) << where;
        }
        EXPECT_GE(b->azimuth, 0);
        EXPECT_LT(b->azimuth, 360);
        EXPECT_GE(b->backAzimuth, 0);
        EXPECT_LT(b->backAzimuth, 360);
        EXPECT_GT(b->degrees, 179) << where;
    }
    // Half a degree short of the antipode on the equator the geodesic still runs nearly over
    // the pole (the equator, 19 959.5 km, is the longer way): both azimuths point the same
    // side of north, and the two ends mirror each other.
    const auto near = geo::bearing(0, 0, 0, 179.5);
    ASSERT_TRUE(near);
    EXPECT_GT(near->kilometres, 19959.6);
    EXPECT_LT(near->kilometres, 20003.93);
    EXPECT_NEAR(near->azimuth + near->backAzimuth, 360.0, 1e-9);
    EXPECT_LT(near->azimuth, 89);
}

TEST(FlinnEngdahl, RegionsOfKnownEpicentresOnEverySideOfTheEquatorAndDateLine) {
    struct Row {
        double lat, lon;
        int number;
        const char* name;
    };
    const Row rows[] = {
        // The data's own check values (data/README.md).
        {-21.2, -175.2, 173, "Tonga Islands"},
        {38.3, 142.4, 228, "Near East Coast of Honshu, Japan"},
        {61.0, -147.7, 2, "Southern Alaska"},
        // From the regionalisation's documentation (reference.md, section 3.4).
        {48, 12, 543, "Germany"},
        {-30, -60, 133, "Northeastern Argentina"},
        {-20.5, -100.6, 683, "Southeast Central Pacific Ocean"},
    };
    for (const Row& r : rows) {
        const auto region = geo::flinnEngdahlRegion(r.lat, r.lon);
        ASSERT_TRUE(region) << r.name;
        EXPECT_EQ(region->number, r.number) << r.name;
        EXPECT_EQ(geo::titleCase(region->name), r.name);
    }
    // -180 is +180, and 0 to 360 longitudes mean the same places.
    EXPECT_EQ(geo::flinnEngdahlRegion(-15, -180)->number,
              geo::flinnEngdahlRegion(-15, 180)->number);
    EXPECT_EQ(geo::flinnEngdahlRegion(-21.2, 360 - 175.2)->number, 173);
    EXPECT_EQ(geo::flinnEngdahlRegion(61.0, 360 - 147.7)->number, 2);
    EXPECT_FALSE(geo::flinnEngdahlRegion(38.3, 142.4 + 360));
    for (const double lat : {-0.5, 0.0, 0.5})
        for (const double lon : {-179.9, 179.9, -0.1, 0.1})
            EXPECT_TRUE(geo::flinnEngdahlRegion(lat, lon)) << lat << " " << lon;
    EXPECT_FALSE(geo::flinnEngdahlRegion(95, 0));
    EXPECT_EQ(geo::titleCase("OFF COAST OF NORTHERN CHILE"), "Off Coast of Northern Chile");
    EXPECT_EQ(geo::titleCase("ANDREANOF ISLANDS, ALEUTIAN IS."), "Andreanof Islands, Aleutian Is.");
}
