// Reading the FDSN station service's text answers, apart from the finder that asks for them.
#include "QtPrinters.h"
#include "channels/StationInventory.h"

#include <gtest/gtest.h>

TEST(StationInventory, NamesAreKeyedByNetworkAndStationWhateverTheHeaderSpacing) {
    const auto names = inventory::parseStationNames(
        "# Network | Station | Latitude | Longitude | Elevation | SiteName | StartTime | EndTime\n"
        "IU | ANMO | 34.9 | -106.4 | 1820 | Albuquerque, New Mexico | 2000-01-01T00:00:00 |\n"
        "XX | ANMO | 1 | 2 | 3 | Another ANMO; far away | 2000-01-01T00:00:00 |\n");
    ASSERT_TRUE(names);
    EXPECT_EQ(names->value("IU.ANMO"), u"Albuquerque, New Mexico");
    EXPECT_EQ(names->value("XX.ANMO"), u"Another ANMO far away"); // a ";" cannot split a line
    EXPECT_FALSE(inventory::parseStationNames("IU|ANMO|34.9|-106.4\n")); // no header
}

TEST(StationInventory, ChannelsTakeBlankLocationsAsDashesAndTheirStationsNames) {
    const QHash<QString, QString> names{{"IU.ANMO", "Albuquerque"}};
    int leftOut = 0;
    const auto channels = inventory::parseChannels(
        "#Network|Station|Location|Channel|Latitude|Longitude|Elevation|Depth|Azimuth|Dip|"
        "Instrument|Scale|ScaleFreq|ScaleUnits|SampleRate|StartTime|EndTime\n"
        "IU|ANMO|  |BHZ|1|2|3|0|0|-90|STS|1|1|M/S|20|2000-01-01T00:00:00|\n"
        "IU|TUC|10|LHZ|1|2|3|0|0|-90|STS|1|1|M/S|1|2000-01-01T00:00:00|\n"
        "IU|TUC|10|L/Z|1|2|3|0|0|-90|STS|1|1|M/S|1|2000-01-01T00:00:00|\n"
        "IU||00|BHZ|1|2|3|0|0|-90|STS|1|1|M/S|20|2000-01-01T00:00:00|\n",
        names, &leftOut);
    ASSERT_TRUE(channels);
    ASSERT_EQ(channels->size(), 2u);
    EXPECT_EQ((*channels)[0], AvailableChannel("IU", "ANMO", "BHZ", "--", "Albuquerque"));
    EXPECT_EQ((*channels)[1], AvailableChannel("IU", "TUC", "LHZ", "10", "TUC"));
    EXPECT_EQ(leftOut, 1); // the code with a "/"; the row without a station is no channel
    EXPECT_FALSE(inventory::parseChannels("#Network|Station|Channel\nIU|ANMO|BHZ\n", names));
}
