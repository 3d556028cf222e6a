// The channel finder: its listing in channel list form, duplicate removal, and the lookup in a
// real station service and in a real SeedLink server's stream list.
#include "AppHarness.h"
#include "QtPrinters.h"
#include "SeismogramServer.h"
#include "channels/ChannelFinderLookup.h"
#include "channels/ChannelListParser.h"

#include "DemoSeedLink.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>

#include <gtest/gtest.h>

namespace {

const std::string kChannels =
    "#Network | Station | Location | Channel | Latitude | Longitude | Elevation | Depth | Azimuth "
    "| Dip | "
    "SensorDescription | Scale | ScaleFreq | ScaleUnits | SampleRate | StartTime | EndTime\n"
    "TA|SSPA||BHZ|40.6|-77.9|270|0|0|-90|STS-2|1e9|1|M/"
    "S|40|2006-01-01T00:00:00|2599-12-31T23:59:59\n"
    "TA|SSPA|  |LHZ|40.6|-77.9|270|0|0|-90|STS-2|1e9|1|M/S|1|2006-01-01T00:00:00|\n"
    "TA|SSPA||BHZ|40.6|-77.9|270|0|0|-90|STS-2|1e9|1|M/S|40|2010-01-01T00:00:00|\n"
    "IU|ANMO|00|BHZ|34.9|-106.5|1820|100|0|-90|KS54000|1e9|1|M/S|20|1989-08-29T00:00:00|\n";
const std::string kStations =
    "#Network|Station|Latitude|Longitude|Elevation|SiteName|StartTime|EndTime\n"
    "TA|SSPA|40.6|-77.9|270|Standing Stone; Pennsylvania|2006-01-01T00:00:00|\n"
    "IU|ANMO|34.9|-106.5|1820|Albuquerque, New Mexico, USA|1989-08-29T00:00:00|\n";

class ChannelFinder : public ::testing::Test {
protected:
    SeismogramServer server;
    AppHarness app;
    groundswayController& c = app.controller();
    void SetUp() override {
        server.stationChannelBody = kChannels;
        server.stationSiteBody = kStations;
        server.start();
        app.useServices(server.baseUrl());
        app.log().clear();
    }
    QString listing() { return app.o().channelFinderTView->toPlainText(); }
};

} // namespace

TEST_F(ChannelFinder, AnEmptyListEmptiesTheView) {
    app.o().channelFinderTView->setPlainText("old");
    c.updateChannelFinderList(nullptr);
    EXPECT_TRUE(listing().isEmpty());
}

TEST_F(ChannelFinder, EachChannelBecomesAChannelListLineThatParsesBack) {
    c.availableChannels()->emplace_back("N", "S", "C", "L", "P");
    c.availableChannels()->emplace_back("IU", "ANMO", "BHZ", "00", "Albuquerque, New Mexico");
    c.updateChannelFinderList(nullptr);
    EXPECT_EQ(listing(), u"N; S; C; L; P\nIU; ANMO; BHZ; 00; Albuquerque, New Mexico\n");
    const auto parsed = parseChannelListText(listing());
    EXPECT_EQ(parsed.networks, (QStringList{"N", "IU"}));
    EXPECT_EQ(parsed.stations, (QStringList{"S", "ANMO"}));
    EXPECT_EQ(parsed.channels, (QStringList{"C", "BHZ"}));
    EXPECT_EQ(parsed.locations, (QStringList{"L", "00"}));
    EXPECT_EQ(parsed.labels, (QStringList{"P", "Albuquerque, New Mexico"}));
}

// A listing longer than the finder shows ends in one line that is no channel line and says how
// many were left out; the log says it once. Exactly the most is listed whole, without either.
TEST(FinderListing, StopsAtTheMostAndSaysHowManyMore) {
    std::vector<AvailableChannel> channels;
    for (const char* sta : {"A", "B", "C", "D"})
        channels.emplace_back("N", sta, "BHZ", "00", sta);
    QString logLine;
    QString shown = finderListing(channels, 2, &logLine);
    EXPECT_EQ(shown, u"N; A; BHZ; 00; A\nN; B; BHZ; 00; B\n"
                     u"(2 more channels not listed: narrow the search to see them)\n");
    EXPECT_EQ(logLine, u"Channel finder: listed the first 2 of 4 channels.");
    EXPECT_EQ(parseChannelListText(shown).stations, (QStringList{"A", "B"}));
    logLine.clear();
    shown = finderListing(channels, 4, &logLine);
    EXPECT_EQ(shown.count(u'\n'), 4);
    EXPECT_FALSE(shown.contains(u"more channels"));
    EXPECT_TRUE(logLine.isEmpty());
}

TEST(RemoveArrayDuplicates, KeepsFirstOccurrencesInOrderAndMissesNoNeighbour) {
    const std::pair<QStringList, QStringList> rows[] = {
        {{"a", "b", "a", "a", "c", "b"}, {"a", "b", "c"}},
        {{}, {}},
        {{"a", "b", "c"}, {"a", "b", "c"}},
        {{"x", "x", "x"}, {"x"}},
        {{"a", "x", "x", "x", "b", "x"}, {"a", "x", "b"}},
    };
    for (auto [list, expected] : rows) {
        groundswayController::removeArrayDuplicates(list);
        EXPECT_EQ(list, expected);
    }
    std::vector<AvailableChannel> channels{
        {"N", "S", "C", "L", "P"}, {"N", "S", "C", "L", "P"}, {"N", "S", "C", "M", "P"}};
    groundswayController::removeArrayDuplicates(channels);
    EXPECT_EQ(channels.size(), 2u);
}

TEST_F(ChannelFinder, LooksChannelsUpByTheFourPatternsWithTheStationNames) {
    app.o().networkTField->setText("TA,IU");
    app.o().stationTField->setText("SS?A,ANMO");
    app.o().siteCodeTField->setText("*");
    app.o().channelTField->setText("");
    c.acquireavailableChannels(nullptr);
    const auto targets = server.targets();
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_EQ(
        targets[0],
        "/fdsnws/station/1/query?net=TA,IU&sta=SS%3FA,ANMO&loc=*&cha=*&level=channel&format=text");
    EXPECT_EQ(targets[1],
              "/fdsnws/station/1/query?net=TA,IU&sta=SS%3FA,ANMO&level=station&format=text");
    // Duplicates gone, blank locations as "--", and a ";" in a name cannot break its line.
    EXPECT_EQ(listing(), u"TA; SSPA; BHZ; --; Standing Stone Pennsylvania\n"
                         u"TA; SSPA; LHZ; --; Standing Stone Pennsylvania\n"
                         u"IU; ANMO; BHZ; 00; Albuquerque, New Mexico, USA\n");
    EXPECT_EQ(c.availableChannels()->size(), 3u);
    EXPECT_TRUE(app.o().channelListProgressIndicator->isHidden());
    EXPECT_TRUE(app.log().lines().isEmpty());
    // Typed text with blanks or quotes is encoded, not sent raw.
    app.o().stationTField->setText("A B\"");
    c.acquireavailableChannels(nullptr);
    EXPECT_EQ(
        server.targets()[2],
        "/fdsnws/station/1/query?net=TA,IU&sta=A%20B%22&loc=*&cha=*&level=channel&format=text");
}

TEST_F(ChannelFinder, WithoutStationNamesTheLabelsAreTheStationCodes) {
    server.stationSiteBody = "not a station list";
    c.acquireavailableChannels(nullptr);
    EXPECT_TRUE(listing().startsWith(u"TA; SSPA; BHZ; --; SSPA\n"));
}

TEST_F(ChannelFinder, AFailedLookupLogsOneLineAndKeepsThePreviousListing) {
    c.acquireavailableChannels(nullptr);
    const QString before = listing();
    ASSERT_FALSE(before.isEmpty());
    const auto attempt = [&](const char* what) {
        app.log().clear();
        c.acquireavailableChannels(nullptr);
        EXPECT_EQ(listing(), before) << what;
        EXPECT_EQ(app.log().lines().size(), 1) << what;
        EXPECT_TRUE(app.log().lines().value(0).startsWith(
            "Channel finder: no channels from http://127.0.0.1:"))
            << what;
        EXPECT_TRUE(app.o().channelListProgressIndicator->isHidden()) << what;
    };
    server.stationStatus = 204;
    attempt("nothing matches");
    server.stationStatus = 400;
    attempt("bad request");
    server.stationStatus = 200;
    server.stationChannelBody = "<html>down for maintenance</html>";
    attempt("not a channel list");
    app.useServices(QStringLiteral("http://127.0.0.1:%1").arg(unusedPort()));
    attempt("unreachable");
}

TEST_F(ChannelFinder, TheWindowComesForward) {
    c.showChannelFinderWindow(nullptr);
    EXPECT_TRUE(app.o().channelFinderWindow->isVisible());
}

// The second source: what a SeedLink server streams, read from its INFO STREAMS answer and
// matched against the same four patterns.
TEST_F(ChannelFinder, ASeedLinkServerListsWhatItStreamsAsChannelListLines) {
    demo::SeedLinkServer::Options options;
    options.recordSeconds = 1;
    options.backlog = std::chrono::seconds(5);
    demo::SeedLinkServer seedLink(std::chrono::system_clock::now(), {}, options);
    ASSERT_TRUE(seedLink.start(0));
    app.o().seedLinkServerTField->setText(QStringLiteral("127.0.0.1:%1").arg(seedLink.port()));
    app.o().finderSourcePopUp->setCurrentIndex(1);
    struct Row {
        const char *network, *station, *location, *channel;
        QString listing;
    };
    const Row rows[] = {
        {"IU", "AN*,co?a", "*", "BH?",
         "IU; ANMO; BHZ; 00; Albuquerque, New Mexico, USA\nIU; ANMO; BHN; 00; Albuquerque, New "
         "Mexico, USA\nIU; ANMO; BHE; 00; Albuquerque, New Mexico, USA\nIU; COLA; BHZ; 00; College "
         "Outpost, Alaska, USA\n"},
        {"", "SSPA", "--", "", // blank location; an empty field is "*"
         "TA; SSPA; BHZ; --; Standing Stone, Pennsylvania, USA\nTA; SSPA; BHN; --; Standing Stone, "
         "Pennsylvania, USA\nTA; SSPA; BHE; --; Standing Stone, Pennsylvania, USA\nTA; SSPA; LHZ; "
         "--; Standing Stone, Pennsylvania, USA\n"},
        {"I?", "*", "00", "LHZ", QString()},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.station);
        app.o().networkTField->setText(r.network);
        app.o().stationTField->setText(r.station);
        app.o().siteCodeTField->setText(r.location);
        app.o().channelTField->setText(r.channel);
        c.acquireavailableChannels(nullptr);
        if (!r.listing.isEmpty()) {
            EXPECT_EQ(listing(), r.listing);
        }
    }
    // Every station of networks I? with an LHZ at 00, and nothing asked of the station service.
    const auto lines = listing().split(u'\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.size(), 9);
    for (const QString& line : lines)
        EXPECT_TRUE(line.contains(u"; LHZ; 00; ")) << line.toStdString();
    EXPECT_TRUE(server.targets().empty());
    EXPECT_EQ(parseChannelListText(listing()).stations.size(), 9);
    // The station service's virtual networks mean nothing here: nothing matches, and the log
    // names the server.
    app.log().clear();
    app.o().networkTField->setText("_US-TA");
    c.acquireavailableChannels(nullptr);
    ASSERT_EQ(app.log().lines().size(), 1);
    EXPECT_EQ(app.log().lines()[0],
              QStringLiteral("Channel finder: no channels from SeedLink server "
                             "127.0.0.1:%1: no channel matches the search")
                  .arg(seedLink.port()));
    EXPECT_TRUE(app.o().channelListProgressIndicator->isHidden());
    // A server that cannot be reached says so.
    app.log().clear();
    app.o().seedLinkServerTField->setText(QStringLiteral("127.0.0.1:%1").arg(unusedPort()));
    c.acquireavailableChannels(nullptr);
    ASSERT_EQ(app.log().lines().size(), 1);
    EXPECT_TRUE(app.log().lines()[0].contains(u"no stream list from 127.0.0.1:"))
        << app.log().lines()[0].toStdString();
}
