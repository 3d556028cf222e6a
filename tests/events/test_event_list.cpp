// The recent-earthquake list: reading the catalogue text, loading it from a real server, the
// table, failed loads and the two web links.
#include "AppHarness.h"
#include "base/Time.h"
#include "base/DateText.h"
#include "base/NumberReading.h"
#include "components/NEIC_QueryController.h"
#include "QtPrinters.h"
#include "SeismogramServer.h"
#include "UrlRecorder.h"

#include <QLineEdit>
#include <QTableView>

#include <QPushButton>

#include <gtest/gtest.h>

namespace {

const std::string kQuake1 = "us7000abcd|2026-12-07T21:58:03.120Z|-20.5|-100.6|10.0|us|us|us|"
                            "us7000abcd|mww|6.4|us|Southeast Central Pacific Ocean";
const std::string kQuake2 = "us7000abce|2026-12-06T03:04:05|38.1|142.9|35.2|us|us|us|us7000abce|mb|"
                            "5.1|us|near the east coast of Honshu, Japan";
const std::string kQuake3 = "ci40000001|2026-12-01T10:00:00.5|34.0|-117.0|8.1|ci|ci|ci|ci40000001|"
                            "ml|4.5|ci|5 km N of Somewhere, CA";

std::vector<QString> ids(const std::vector<SeismicOrigin>& list) {
    std::vector<QString> out;
    for (const auto& o : list)
        out.push_back(o.eventId);
    return out;
}

} // namespace

TEST(EventText, ReadsEveryFieldTheApplicationUses) {
    const auto list = NEIC_QueryController::parseEventText(eventText({kQuake1, kQuake2}));
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 2u);
    const SeismicOrigin& o = (*list)[0];
    EXPECT_EQ(o.eventId, u"us7000abcd");
    EXPECT_EQ(o._origin_time().nsDate(), civil::dateOf(2026, 12, 7, 21, 58, 3, 120'000'000));
    EXPECT_DOUBLE_EQ(o.latitude, -20.5);
    EXPECT_DOUBLE_EQ(o.longitude, -100.6);
    EXPECT_DOUBLE_EQ(o.depthKm.value_or(-1), 10.0);
    EXPECT_DOUBLE_EQ(o.magnitude(), 6.4);
    EXPECT_EQ(o.magnitudeType, u"mww");
    // The title's region is the Flinn-Engdahl name of the epicentre, whatever the catalogue says;
    // the catalogue's place text stays beside it.
    EXPECT_EQ(o.shortFERegion(), u"Southeast Central Pacific Ocean");
    EXPECT_EQ((*list)[1].shortFERegion(), u"Near East Coast of Honshu, Japan");
    EXPECT_EQ((*list)[1].region, u"near the east coast of Honshu, Japan");
}

TEST(EventText, FindsColumnsByTheirHeaderNames) {
    const std::string spaced =
        "#EventID | Time | Latitude | Longitude | Depth/Km | Author | Catalog | Contributor | "
        "ContributorID | MagType | Magnitude | MagAuthor | EventLocationName | EventType\n"
        "gfz2026x | 2026-12-07T21:58:03.12 | 1.5 | 2.5 | 33 | | | | | M | 5.5 | | SUMATRA | "
        "earthquake\n";
    const auto a = NEIC_QueryController::parseEventText(spaced);
    ASSERT_TRUE(a && a->size() == 1);
    EXPECT_EQ((*a)[0].region, u"SUMATRA");
    EXPECT_EQ((*a)[0].shortFERegion(), u"Off S. Coast of Northwest Africa"); // 1.5 N 2.5 E
    EXPECT_DOUBLE_EQ((*a)[0].depthKm.value_or(-1), 33);
    const std::string reordered = "#Magnitude|EventLocationName|Time|EventID|Latitude|Longitude\n"
                                  "7.1|Somewhere|2026-01-02T03:04:05|x1|10|20\n";
    const auto b = NEIC_QueryController::parseEventText(reordered);
    ASSERT_TRUE(b && b->size() == 1);
    EXPECT_DOUBLE_EQ((*b)[0].magnitude(), 7.1);
    EXPECT_EQ((*b)[0].eventId, u"x1");
}

TEST(EventText, MalformedLinesAreSkippedOneByOne) {
    int skipped = 0;
    const auto list = NEIC_QueryController::parseEventText(
        eventText({kQuake1, "garbage", "a|b|c", "x|2026-13-01T00:00:00|1|1|1|||||mb|5|x|bad month",
                   "x|2026-12-01T00:00:00|91|1|1|||||mb|5|x|latitude out of range",
                   "x|2026-12-01T00:00:00|1|1|1|||||mb|nan|x|magnitude not a number",
                   "|||||||||||||||||||||||||||||", kQuake2, "\r", "# a later comment"}),
        &skipped);
    ASSERT_TRUE(list);
    EXPECT_EQ(ids(*list), (std::vector<QString>{"us7000abcd", "us7000abce"}));
    EXPECT_EQ(skipped, 6);
}

TEST(EventText, AHeaderAloneIsAnEmptyListAndNoHeaderNoLinesIsNoList) {
    const auto empty = NEIC_QueryController::parseEventText(eventText({}));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
    for (const std::string& body :
         {std::string(), std::string("<html><body>Service unavailable</body></html>"),
          std::string("Error 400: Bad Request\n\nminmagnitude"),
          std::string("\x00\xff\xfe garbage", 12)})
        EXPECT_FALSE(NEIC_QueryController::parseEventText(
            QByteArrayView(body.data(), static_cast<qsizetype>(body.size()))))
            << body;
    // Without a header, lines in the standard column order still count.
    EXPECT_TRUE(NEIC_QueryController::parseEventText(kQuake1 + "\n"));
}

namespace {

class EventList : public ::testing::Test {
protected:
    SeismogramServer server;
    AppHarness app;
    groundswayController& c = app.controller();
    NEIC_QueryController& neic = *c.neicQueryController();

    void SetUp() override {
        server.eventBody = eventText({kQuake1, kQuake2, kQuake3});
        server.start();
        app.useServices(server.baseUrl());
        c.awakeFromNib();
        app.o().minMagTField->setText(QStringLiteral("4.5"));
        app.log().clear();
    }
    std::string lastEventQuery() {
        const auto all = server.requests();
        for (auto r = all.rbegin(); r != all.rend(); ++r)
            if (r->path == "/fdsnws/event/1/query")
                return r->target;
        return {};
    }
    QString cell(int row, int column) {
        return app.o().eventListTblView->model()->index(row, column).data().toString();
    }
};

} // namespace

TEST_F(EventList, LoadsInTheServedOrderAndTheTableShowsIt) {
    c.loadNEICInfo(nullptr);
    EXPECT_EQ(ids(neic.seismicOrigins()),
              (std::vector<QString>{"us7000abcd", "us7000abce", "ci40000001"}));
    EXPECT_EQ(app.o().eventListTblView->model(), &neic);
    EXPECT_EQ(app.o().eventListTblView->model()->rowCount(), 3);
    EXPECT_EQ(cell(0, NEIC_QueryController::TimeColumn), u"2026-12-07 21:58:03");
    EXPECT_EQ(cell(0, NEIC_QueryController::MagnitudeColumn), u"6.4 mww");
    EXPECT_EQ(cell(1, NEIC_QueryController::RegionColumn), u"Near East Coast of Honshu, Japan");
    EXPECT_EQ(cell(1, NEIC_QueryController::PlaceColumn), u"near the east coast of Honshu, Japan");
    EXPECT_EQ(cell(2, NEIC_QueryController::DepthColumn), u"8.1");
    EXPECT_EQ(cell(0, NEIC_QueryController::LatitudeColumn), u"-20.500");
    EXPECT_EQ(cell(0, NEIC_QueryController::LongitudeColumn), u"-100.600");
    EXPECT_FALSE(app.o().eventListTblView->model()->index(3, 0).data().isValid());
    EXPECT_TRUE(app.log().lines().isEmpty());
}

TEST_F(EventList, TheQueryCarriesTheMinimumMagnitudeAndThirtyDays) {
    app.o().minMagTField->setText("6.25");
    c.loadNEICInfo(nullptr);
    const std::string q = lastEventQuery();
    const std::string prefix =
        "/fdsnws/event/1/query?format=text&orderby=time&minmagnitude=6.2&starttime=";
    ASSERT_EQ(q.substr(0, prefix.size()), prefix);
    const auto start =
        datetext::parseRequestTime(QString::fromStdString(q.substr(prefix.size()) + ".0000Z"));
    ASSERT_TRUE(start);
    EXPECT_NEAR(civil::secondsBetween(*start, datetext::now()), 30 * 86400.0, 5.0);
    app.o().minMagTField->setText("abc");
    c.loadNEICInfo(nullptr);
    EXPECT_NE(lastEventQuery().find("minmagnitude=0.0&"), std::string::npos);
}

TEST_F(EventList, AFailedLoadKeepsThePreviousListAndLogsOneLine) {
    c.loadNEICInfo(nullptr);
    const auto before = ids(neic.seismicOrigins());
    const auto tryLoad = [&](const char* what) {
        app.log().clear();
        c.loadNEICInfo(nullptr);
        EXPECT_EQ(ids(neic.seismicOrigins()), before) << what;
        ASSERT_EQ(app.log().lines().size(), 1) << what;
        EXPECT_TRUE(
            app.log().lines()[0].startsWith("Earthquake list not loaded from http://127.0.0.1:"))
            << what;
    };
    server.eventStatus = 500;
    server.eventBody = "Error 500: Internal Server Error";
    tryLoad("server error");
    server.eventStatus = 200;
    server.eventBody = "<html>maintenance</html>";
    tryLoad("not a catalogue");
    app.useServices(QStringLiteral("http://127.0.0.1:%1").arg(unusedPort()));
    tryLoad("no connection");
}

TEST_F(EventList, NoMatchingEventEmptiesTheListWhateverTheServiceAnswers) {
    // FDSN's "no event matches" is a 204; ComCat's text answer is a header alone.
    for (const int status : {204, 200}) {
        server.eventStatus = 200;
        server.eventBody = eventText({kQuake1});
        c.loadNEICInfo(nullptr);
        ASSERT_EQ(neic.seismicOrigins().size(), 1u);
        server.eventStatus = status;
        server.eventBody = eventText({});
        c.loadNEICInfo(nullptr);
        EXPECT_TRUE(neic.seismicOrigins().empty()) << status;
        EXPECT_EQ(app.o().eventListTblView->model()->rowCount(), 0);
        EXPECT_TRUE(app.log().lines().isEmpty());
    }
}

TEST_F(EventList, TheMinimumIsSentRoundedDownAndHonouredExactly) {
    app.o().minMagTField->setText(QStringLiteral("6.25"));
    server.eventBody = eventText({kQuake1, "a|2026-12-01T00:00:00|1|2|10|x|x|x|a|mb|6.2|x|Below",
                                  "b|2026-12-01T00:00:00|1|2|10|x|x|x|b|mb|6.3|x|Above"});
    c.loadNEICInfo(nullptr);
    EXPECT_NE(lastEventQuery().find("minmagnitude=6.2&"), std::string::npos);
    EXPECT_EQ(ids(neic.seismicOrigins()), (std::vector<QString>{"us7000abcd", "b"}));
    for (const auto& [typed, sent] : {std::pair{"6.2", "6.2"}, std::pair{"6.29", "6.2"},
                                      std::pair{"-1.25", "-1.3"}, std::pair{"5", "5.0"}})
        EXPECT_EQ(NEIC_QueryController::magnitudeText(floatValue(QString::fromLatin1(typed))),
                  QString::fromLatin1(sent));
}

TEST_F(EventList, AnEmptyCatalogueEmptiesTheTable) {
    c.loadNEICInfo(nullptr);
    server.eventBody = eventText({});
    c.loadNEICInfo(nullptr);
    EXPECT_TRUE(neic.seismicOrigins().empty());
    EXPECT_EQ(app.o().eventListTblView->model()->rowCount(), 0);
    EXPECT_TRUE(app.log().lines().isEmpty());
}

TEST_F(EventList, ShowingTheWindowReloadsAndLeavesNoFieldFocused) {
    c.showEventListWindow(nullptr);
    EXPECT_TRUE(app.o().eventListWindow->isVisible());
    EXPECT_EQ(neic.seismicOrigins().size(), 3u);
    QWidget* focus = app.o().eventListWindow->focusWidget();
    EXPECT_TRUE(focus == nullptr || focus == app.o().eventListWindow);
}

TEST_F(EventList, TheSelectionSurvivesAReload) {
    c.loadNEICInfo(nullptr);
    app.o().eventListTblView->selectRow(1);
    server.eventBody = eventText({kQuake3, kQuake1, kQuake2});
    c.loadNEICInfo(nullptr);
    EXPECT_EQ(neic.selectedRow(), 2);
}

TEST_F(EventList, PageAndMapOpenForTheSelectedEarthquakeOnly) {
    UrlRecorder browser;
    c.loadNEICInfo(nullptr);
    // Through the window's own buttons, as a person asks.
    QPushButton* page = app.actions().eventPageButton;
    QPushButton* map = app.actions().eventMapButton;
    ASSERT_TRUE(page && map);
    page->click();
    map->click();
    EXPECT_TRUE(browser.opened.isEmpty());
    app.o().eventListTblView->selectRow(0);
    page->click();
    map->click();
    ASSERT_EQ(browser.opened.size(), 2);
    EXPECT_EQ(browser.opened[0].toString(), server.baseUrl() + "/earthquakes/eventpage/us7000abcd");
    EXPECT_EQ(browser.opened[1].toString(),
              "https://www.google.com/maps/search/?api=1&query=-20.5000,-100.6000");
    // The default service's page is the USGS one.
    app.o().eventServiceURLTField->setText("https://earthquake.usgs.gov");
    EXPECT_EQ(neic.eventPageURL(neic.seismicOrigins()[0]),
              u"https://earthquake.usgs.gov/earthquakes/eventpage/us7000abcd");
}

TEST(EventText, TheDepthColumnMayBeCalledDepthAndAnUnreadableDepthIsNone) {
    const auto origins = NEIC_QueryController::parseEventText(
        "#EventID | Time | Latitude | Longitude | Depth | Magnitude | EventLocationName\n"
        "a|2012-06-15T10:00:00|1|2|33.5|6.0|Somewhere\n"
        "b|2012-06-15T10:00:00|1|2|deep|6.0|Elsewhere\n");
    ASSERT_TRUE(origins);
    ASSERT_EQ(origins->size(), 2u);
    EXPECT_DOUBLE_EQ((*origins)[0].depthKm.value_or(-1), 33.5);
    EXPECT_FALSE((*origins)[1].depthKm);
}
