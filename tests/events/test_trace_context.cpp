// The earthquake's context on its traces: distance, back azimuth, predicted arrivals, the
// surface-wave window and the order by distance.
#include "AppHarness.h"
#include "SeismogramServer.h"
#include "base/DateText.h"
#include "base/Time.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/sac/SacObject.h"
#include "geo/Geodesy.h"
#include "geo/TravelTimes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QPainter>
#include <QTableView>

#include <gtest/gtest.h>

#include <cmath>

namespace {

class TraceContext : public ::testing::Test {
protected:
    SeismogramServer server;
    AppHarness app;
    groundswayController& c = app.controller();

    void SetUp() override {
        server.eventBody = eventText({"ev1|2026-12-07T20:00:00.000|10|20|33|||||mw|5|x|R"});
        // FAR is about 45 degrees from the epicentre, NEAR about 3; UNK is not in the inventory.
        server.stationSiteBody =
            "#Network|Station|Latitude|Longitude|Elevation|SiteName|StartTime|EndTime\n"
            "IU|FAR|40|60|100|Far|2000-01-01T00:00:00|\n"
            "GE|NEAR|12|22|100|Near|2000-01-01T00:00:00|\n";
        server.start();
        app.useServices(server.baseUrl());
        c.awakeFromNib();
        app.setChannelList("IU;FAR;BHZ;00;far\nXX;UNK;BHZ;00;unknown\nGE;NEAR;BHZ;00;near\n");
        c.loadNEICInfo(nullptr);
        app.o().eventListTblView->selectRow(0);
        app.log().clear();
    }
    QStringList stationsDrawn() {
        QStringList out;
        for (const auto& w : *app.o().seisView->wvfrmsArray())
            out << QString::fromStdString(w->GetSacHeader()->getText(sac::text::KSTNM)).trimmed();
        return out;
    }
    int stationQueries() {
        int n = 0;
        for (const auto& r : server.requests())
            n += r.target.find("level=station") != std::string::npos;
        return n;
    }
};

} // namespace

TEST_F(TraceContext, EachPlacedStationShowsItsDistanceArrivalsAndSurfaceWaveWindow) {
    c.getRecentEventSeismograms(nullptr);
    ASSERT_EQ(stationsDrawn(), (QStringList{"FAR", "UNK", "NEAR"}));
    const auto& notes = app.o().seisView->traceAnnotations();
    ASSERT_EQ(notes.size(), 3u);

    const auto far = *geo::bearing(10, 20, 40, 60);
    EXPECT_EQ(notes[0].note, QStringLiteral("%1\u00b0  BAz %2\u00b0")
                                 .arg(far.degrees, 0, 'f', 1)
                                 .arg(far.backAzimuth, 0, 'f', 0));
    const auto origin = *datetext::parseCatalogTime(u"2026-12-07T20:00:00");
    const auto expected = geo::TravelTimes::model("iasp91")->arrivals(33, far.degrees);
    ASSERT_FALSE(expected.empty());
    ASSERT_EQ(notes[0].marks.size(), expected.size());
    EXPECT_EQ(notes[0].marks[0].second, u"P");
    EXPECT_NEAR(civil::secondsBetween(origin, notes[0].marks[0].first), expected[0].seconds, 1e-3);
    ASSERT_TRUE(notes[0].band);
    EXPECT_NEAR(civil::secondsBetween(origin, notes[0].band->first), far.kilometres / 4.0, 1e-3);
    EXPECT_NEAR(civil::secondsBetween(origin, notes[0].band->second), far.kilometres / 3.5, 1e-3);

    // The P mark is drawn as a line across the first trace's band at its moment.
    const QSize size(1200, 600);
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    app.o().seisView->render(painter, size);
    painter.end();
    const QRect plot = app.o().seisView->plotRect(size);
    const int x = static_cast<int>(std::lround(QuilmRealTimeDisplayView02::timeToX(
        expected[0].seconds, app.o().seisView->axisLeft(), app.o().seisView->axisRight(), plot)));
    const auto markPixels = [&](int column) {
        int n = 0;
        for (int y = plot.top(); y < plot.top() + plot.height() / 3; ++y) {
            const QColor p = image.pixelColor(column, y);
            n += p.blue() > p.red() + 60; // the mark's blue, however it is smoothed
        }
        return n;
    };
    EXPECT_GT(std::max({markPixels(x - 1), markPixels(x), markPixels(x + 1)}), plot.height() / 6);
    EXPECT_EQ(markPixels(x - 40), 0);
    // On the dark scheme the mark is a light blue that reads on black.
    app.o().seisView->setBackGroundColor(Qt::black);
    app.o().seisView->setDrawingColor(Qt::white);
    QPainter dark(&image);
    app.o().seisView->render(dark, size);
    dark.end();
    const auto lightMarkPixels = [&](int column) {
        int n = 0;
        for (int y = plot.top(); y < plot.top() + plot.height() / 3; ++y) {
            const QColor p = image.pixelColor(column, y);
            n += p.blue() > p.red() + 60 && p.lightness() > 140;
        }
        return n;
    };
    EXPECT_GT(std::max({lightMarkPixels(x - 1), lightMarkPixels(x), lightMarkPixels(x + 1)}),
              plot.height() / 6);
    app.o().seisView->setBackGroundColor(Qt::white);
    app.o().seisView->setDrawingColor(Qt::black);

    // A station the service does not know shows its trace and nothing else; its tooltip says
    // why, the log says nothing.
    EXPECT_TRUE(notes[1].note.isEmpty());
    EXPECT_TRUE(notes[1].status.startsWith(u"No usable coordinates for ")) << notes[1].status.toStdString();
    EXPECT_TRUE(notes[0].status.isEmpty());
    EXPECT_TRUE(notes[1].marks.empty());
    EXPECT_FALSE(notes[1].band);
    EXPECT_TRUE(app.log().lines().isEmpty()) << app.log().lines().join('\n').toStdString();
    EXPECT_EQ(stationQueries(), 1);

    // Each station is asked for once while the application runs.
    c.getRecentEventSeismograms(nullptr);
    EXPECT_EQ(stationQueries(), 1);

    // Another model moves the marks of the same distance.
    app.actions().travelTimeModelPopUp->setCurrentText("ak135");
    emit app.actions().travelTimeModelPopUp->activated(
        app.actions().travelTimeModelPopUp->currentIndex());
    const auto ak = geo::TravelTimes::model("ak135")->arrivals(33, far.degrees);
    EXPECT_NEAR(civil::secondsBetween(origin, app.o().seisView->traceAnnotations()[0].marks[0].first),
                ak[0].seconds, 1e-3);
}

TEST_F(TraceContext, SortingByDistancePutsTheNearestFirstAndTheUnplacedLastAndIsKept) {
    c.getRecentEventSeismograms(nullptr);
    app.actions().sortByDistanceButton->click();
    EXPECT_EQ(stationsDrawn(), (QStringList{"NEAR", "FAR", "UNK"}));
    EXPECT_TRUE(app.o().seisView->traceAnnotations()[0].note.startsWith(u"2."));
    // The next retrieval keeps the order, and turning it off restores the list's.
    c.getRecentEventSeismograms(nullptr);
    EXPECT_EQ(stationsDrawn(), (QStringList{"NEAR", "FAR", "UNK"}));
    app.actions().sortByDistanceButton->click();
    EXPECT_EQ(stationsDrawn(), (QStringList{"FAR", "UNK", "NEAR"}));
}

TEST_F(TraceContext, WithoutAnEarthquakeNothingIsAskedOrMarked) {
    c.toggleAutoUpdate(nullptr); // monitoring; the catalogue's only quake is a day old
    EXPECT_EQ(stationQueries(), 0);
    // Only each row's health: no distance, no marks.
    for (const auto& note : app.o().seisView->traceAnnotations())
        EXPECT_TRUE(note.marks.empty() && note.note.startsWith(u"latency ")) << note.note.toStdString();
    c.toggleAutoUpdate(nullptr);
}

TEST_F(TraceContext, AStationServiceThatFailsLeavesTheTracesAsTheyWere) {
    server.stationStatus = 500;
    c.getRecentEventSeismograms(nullptr);
    EXPECT_EQ(stationsDrawn().size(), 3);
    for (const auto& note : app.o().seisView->traceAnnotations())
        EXPECT_TRUE(note.marks.empty());
    EXPECT_TRUE(app.log().lines().isEmpty()) << app.log().lines().join('\n').toStdString();
}
