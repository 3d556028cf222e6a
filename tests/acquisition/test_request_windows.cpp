// The monitor window and the earthquake window, written into the two fields and retrieved.
#include "AppHarness.h"
#include "QtPrinters.h"
#include "SeismogramServer.h"
#include "base/DateText.h"
#include "base/Time.h"
#include "components/NEIC_QueryController.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/sac/SacObject.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

class RequestWindows : public ::testing::Test {
protected:
    SeismogramServer server;
    AppHarness app;
    groundswayController& c = app.controller();

    void SetUp() override {
        server.eventBody =
            eventText({"ev1|2026-12-07T20:00:00.000|10|20|33|||||mw|5|x|R",
                       "ev2|2026-12-06T03:04:05.250|61|-147.7|10|||||mb|6.25|x|Southern Alaska"});
        server.start();
        app.useServices(server.baseUrl());
        c.awakeFromNib();
        app.setChannelList("IU;ANMO;LHZ;00;A\n");
        app.log().clear();
    }
    SacObject::Date start() { return *datetext::parseRequestTime(app.o().startTField->text()); }
    SacObject::Date end() { return *datetext::parseRequestTime(app.o().endTField->text()); }
    void startAutoUpdate() {
        c.toggleAutoUpdate(nullptr);
        ASSERT_NE(c.theSeismgrmUpdateTimer(), nullptr);
    }
};

} // namespace

TEST_F(RequestWindows, TheMonitorWindowIsTheLastMinutesInUtc) {
    app.o().seisServerMatrix->button(10)->setChecked(true);
    const auto before = datetext::now();
    c.lastNMinutes(nullptr);
    const auto after = datetext::now();
    EXPECT_TRUE(app.o().startTField->text().endsWith('Z'));
    EXPECT_EQ(app.o().endTField->text().size(), 25);
    EXPECT_NEAR(civil::secondsBetween(start(), end()), 3600.0,
                1e-3); // whole seconds, to the fraction
    EXPECT_GE(end(), civil::addSeconds(before, -0.001));
    EXPECT_LE(end(), after);
    EXPECT_TRUE(app.o().seisServerMatrix->button(20)->isChecked());
    EXPECT_EQ(server.seismogramTargets().size(), 1u);
}

// The window asked for and the axis drawn are one length: 7.9 is read as 7 whole minutes for
// both; 1e12 and an overflowing 1e308 are the longest window, 30 days, said once and drawn so.
TEST_F(RequestWindows, TheLengthAskedForIsTheLengthDrawnAndTheLengthLogged) {
    c.settheSeismgrmUpdateTimer(std::make_unique<QTimer>());
    const struct {
        const char* typed;
        double seconds;
        const char* line;
    } rows[] = {
        {"7.9", 420, nullptr},
        {"1e12", 43200 * 60.0,
         "The setting monitorDurationMinutes of \"1e12\" is outside 1 to 43200; using 43200."},
        {"1e308", 43200 * 60.0,
         "The setting monitorDurationMinutes of \"1e308\" is outside 1 to 43200; using 43200."},
        {"0.5", 60,
         "The setting monitorDurationMinutes of \"0.5\" is outside 1 to 43200; using 1."},
        {"abc", 60, "The setting monitorDurationMinutes of \"abc\" is not a number; using 1."}};
    for (const auto& row : rows) {
        app.log().clear();
        app.o().monitorRequestDurationTField->setText(row.typed);
        c.lastNMinutes(nullptr);
        EXPECT_NEAR(civil::secondsBetween(start(), end()), row.seconds, 1e-3) << row.typed;
        EXPECT_NEAR(app.o().seisView->axisLeft(), -row.seconds, 1e-3) << row.typed;
        if (row.line)
            EXPECT_EQ(app.log().lines().count(QString::fromLatin1(row.line)), 1) << row.typed;
        else
            EXPECT_TRUE(app.log().lines().filter(u"monitorDurationMinutes").isEmpty()) << row.typed;
    }
}

TEST_F(RequestWindows, APopUpsTagWinsOverTheField) {
    QComboBox* popup = app.actions().monitorDurationPopUp;
    popup->setCurrentIndex(popup->findData(30));
    app.o().monitorRequestDurationTField->setText("60");
    c.lastNMinutes(popup);
    EXPECT_NEAR(civil::secondsBetween(start(), end()), 1800.0, 1e-3);
    // The pop-up's own action does the same.
    popup->setCurrentIndex(popup->findData(10));
    emit popup->activated(popup->currentIndex());
    EXPECT_NEAR(civil::secondsBetween(start(), end()), 600.0, 1e-3);
    // The choice sticks: it is the setting now, and the next tick asks for it again.
    EXPECT_EQ(app.o().monitorRequestDurationTField->text(), u"10");
    c.lastNMinutes(nullptr);
    EXPECT_NEAR(civil::secondsBetween(start(), end()), 600.0, 1e-3);
}

TEST_F(RequestWindows, AnEventRequestWithoutAnEarthquakeChangesNothing) {
    startAutoUpdate();
    server.eventBody = eventText({});
    c.loadNEICInfo(nullptr); // an empty list
    app.o().startTField->setText("unchanged");
    const auto requests = server.requests().size();
    c.getRecentEventSeismograms(nullptr);
    EXPECT_EQ(app.o().startTField->text(), u"unchanged");
    EXPECT_NE(c.theSeismgrmUpdateTimer(), nullptr);
    // A list but no selected row.
    server.eventBody = eventText({"ev1|2026-12-07T20:00:00.000|10|20|33|||||mw|5|x|R"});
    c.loadNEICInfo(nullptr);
    c.getRecentEventSeismograms(nullptr);
    EXPECT_EQ(app.o().startTField->text(), u"unchanged");
    EXPECT_NE(c.theSeismgrmUpdateTimer(), nullptr);
    EXPECT_EQ(server.requests().size(), requests + 1); // the second catalogue load only
}

TEST_F(RequestWindows, ASelectedRowPastTheEndOfTheListDoesNothing) {
    startAutoUpdate();
    server.eventBody = eventText({"ev1|2026-12-07T20:00:00.000|10|20|33|||||mw|5|x|R"});
    c.loadNEICInfo(nullptr);
    // The table shows more rows than the list holds (as after a list that shrank).
    QStandardItemModel longer(5, 1);
    app.o().eventListTblView->setModel(&longer);
    app.o().eventListTblView->selectRow(1); // just past the end
    app.o().startTField->setText("unchanged");
    c.getRecentEventSeismograms(nullptr);
    EXPECT_EQ(app.o().startTField->text(), u"unchanged");
    EXPECT_NE(c.theSeismgrmUpdateTimer(), nullptr);
    app.o().eventListTblView->setModel(c.neicQueryController().get());
}

TEST_F(RequestWindows, AnEventRequestStopsAutoUpdateAndShowsTheEarthquakeFromItsOrigin) {
    startAutoUpdate();
    app.o().eventListTblView->selectRow(0);
    for (const auto& [minutes, seconds] : {std::pair{"90", 5400.0}, std::pair{"1.5", 90.0}}) {
        app.o().eventRequestDurationTField->setText(minutes);
        c.getRecentEventSeismograms(nullptr);
        EXPECT_EQ(c.theSeismgrmUpdateTimer(), nullptr);
        EXPECT_EQ(app.o().autoUpdateButton->text(), u"Start");
        EXPECT_TRUE(app.o().monitorIndicatorTField->isHidden());
        EXPECT_EQ(app.o().startTField->text(), u"2026-12-07T20:00:00.0000Z");
        EXPECT_TRUE(app.o().seisServerMatrix->button(10)->isChecked()); // a window, not minutes
        EXPECT_NEAR(civil::secondsBetween(start(), end()), seconds, 1e-6) << minutes;
        // The region is the Flinn-Engdahl name of the epicentre (10 N, 20 E), not the text "R".
        EXPECT_EQ(app.o().plotTitleTField->text(), u"Chad Region - Magnitude: 5.0");
        EXPECT_EQ(app.o().seisView->title(), u"Chad Region - Magnitude: 5.0");
        EXPECT_FALSE(app.o().seisView->originOnRight());
        EXPECT_DOUBLE_EQ(app.o().seisView->axisLeft(), 0.0);
        EXPECT_EQ(app.o().seisView->refDate(), start());
    }
    app.o().eventListTblView->selectRow(1);
    c.getRecentEventSeismograms(nullptr);
    EXPECT_EQ(app.o().startTField->text(), u"2026-12-06T03:04:05.2500Z");
    EXPECT_EQ(app.o().plotTitleTField->text(), u"Southern Alaska - Magnitude: 6.2");
    EXPECT_EQ(c.theSeismgrmUpdateTimer(), nullptr); // stays off
}
