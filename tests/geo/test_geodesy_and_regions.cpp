// Where a station lies from an epicentre, and which Flinn-Engdahl region an epicentre is in.
#include "geo/FlinnEngdahl.h"
#include "geo/Geodesy.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(Geodesy, KnownPairsAntipodesPolesAndTheDateLine) {
    // Vincenty's own check (Survey Review 1975, line (a) of his table, as Geoscience Australia
    // lists it): Flinders Peak to Buninyong, 54972.271 m, azimuths 306 52 05.37 and, back,
    // 127 10 25.07.
    const auto v = geo::bearing(-37.95103342, 144.42486789, -37.65282114, 143.92649554);
    ASSERT_TRUE(v);
    EXPECT_NEAR(v->kilometres, 54.972271, 1e-6);
    EXPECT_NEAR(v->azimuth, 306.868158, 1e-5);
    EXPECT_NEAR(v->backAzimuth, 127.173630, 1e-5);

    // Antipodes on the equator: the shortest way runs over a pole; Vincenty does not converge
    // there, and the mean sphere is within 0.1 %.
    const auto antipodes = geo::bearing(0, 0, 0, 180);
    ASSERT_TRUE(antipodes);
    EXPECT_NEAR(antipodes->degrees, 180.0, 1e-9);
    EXPECT_NEAR(antipodes->kilometres, 20003.931, 20.0);
    const auto poles = geo::bearing(90, 0, -90, 0);
    ASSERT_TRUE(poles);
    EXPECT_NEAR(poles->degrees, 180.0, 1e-9);
    EXPECT_NEAR(poles->kilometres, 20003.931, 0.01); // twice the WGS84 quarter meridian
    const auto dateLine = geo::bearing(0, 179.5, 0, -179.5);
    ASSERT_TRUE(dateLine);
    EXPECT_NEAR(dateLine->degrees, 1.0, 1e-9);
    EXPECT_NEAR(dateLine->kilometres, 111.319, 0.001);
    EXPECT_NEAR(dateLine->azimuth, 90.0, 1e-6);
    EXPECT_NEAR(dateLine->backAzimuth, 270.0, 1e-6);
    // Geocentric degrees: at 45 N the geographic latitude is 0.19 degrees above the geocentric.
    const auto meridian = geo::bearing(0, 0, 45, 0);
    EXPECT_NEAR(meridian->degrees, 44.8076, 1e-3);
    EXPECT_FALSE(geo::bearing(91, 0, 0, 0));
    EXPECT_FALSE(geo::bearing(0, std::nan(""), 0, 0));
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
    EXPECT_EQ(geo::flinnEngdahlRegion(-15, -180)->number, geo::flinnEngdahlRegion(-15, 180)->number);
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
