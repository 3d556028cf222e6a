// The seismogram window across its modes as a person uses it, with the web service and with the
// SeedLink stream: an earthquake's seismograms, zoomed, then Start; the monitor's length chosen
// while it runs; the application's keys from another window.
#include "AppHarness.h"
#include "QtPrinters.h"
#include "SeismogramServer.h"
#include "base/DateText.h"
#include "base/Time.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/sac/SacObject.h"

#include "DemoSeedLink.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include <map>

namespace {

class MonitorModes : public ::testing::TestWithParam<bool> {
protected:
    SeismogramServer http;
    std::unique_ptr<demo::SeedLinkServer> seedLink;
    AppHarness app;
    groundswayController& c = app.controller();
    QuilmRealTimeDisplayView02& view() { return *app.o().seisView; }

    void SetUp() override {
        const QString quake =
            datetext::requestTime(civil::addSeconds(datetext::now(), -3 * 3600.0)).left(23);
        http.eventBody = eventText(
            {"ev1|" + quake.toStdString() + "|-21.2|-175.2|10|||||mw|7.0|x|TONGA ISLANDS"});
        http.start();
        app.useServices(http.baseUrl());
        c.awakeFromNib();
        app.setChannelList("Title;Global list\nIU;ANMO;BHZ;00;A\nIU;COLA;BHZ;00;B\n");
        app.o().monitorRequestDurationTField->setText("10");
        if (GetParam()) {
            seedLink = std::make_unique<demo::SeedLinkServer>(
                std::chrono::system_clock::now(), std::vector<demo::Quake>{},
                demo::SeedLinkServer::Options{0.5, std::chrono::seconds(300), 11, {}});
            ASSERT_TRUE(seedLink->start(0));
            app.o().seedLinkServerTField->setText(
                QStringLiteral("127.0.0.1:%1").arg(seedLink->port()));
            app.actions().dataSourcePopUp->setCurrentIndex(1);
            c.setDataSource(app.actions().dataSourcePopUp);
        }
    }
    // Seconds of samples held by each table row's pieces, by label.
    std::map<QString, double> heldSeconds() {
        std::map<QString, double> held;
        for (const auto& w : *c.theWaveforms())
            if (w && !w->samples().empty())
                held[QString::fromStdString(w->label())] +=
                    w->samples().size() * static_cast<double>(w->delta());
        return held;
    }
};

} // namespace

// The earthquake first (zoomed in), then Start: the monitor shows its whole window in every row
// under the list's title, unzoomed, with the axis and the fields at the monitor's length.
TEST_P(MonitorModes, EarthquakeZoomedThenStartShowsTheWholeMonitorUnzoomedUnderTheListsTitle) {
    c.loadNEICInfo(nullptr);
    app.o().eventListTblView->selectRow(0);
    c.getRecentEventSeismograms(nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !c.theWaveforms()->empty(); }, 10000));
    EXPECT_EQ(view().title(), u"Tonga Islands - Magnitude: 7.0");
    view().zoomTo(100, 200);
    ASSERT_TRUE(view().isZoomed());

    c.toggleAutoUpdate(nullptr);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return view().title() == u"Global list" && heldSeconds().size() == 2; }, 15000));
    EXPECT_FALSE(view().isZoomed());
    EXPECT_EQ(app.o().plotTitleTField->text(), u"Global list");
    EXPECT_TRUE(view().originOnRight());
    EXPECT_NEAR(view().axisLeft(), -600.0, 1e-3);
    for (const auto& [label, seconds] : heldSeconds())
        EXPECT_GT(seconds, 590.0) << label.toStdString();
    const auto start = datetext::parseRequestTime(app.o().startTField->text());
    const auto end = datetext::parseRequestTime(app.o().endTField->text());
    ASSERT_TRUE(start && end);
    EXPECT_NEAR(civil::secondsBetween(*start, *end), 600.0, 1e-3);
    c.toggleAutoUpdate(nullptr);
}

// The length chosen from the pop-up while monitoring applies at once and sticks: the axis, the
// fields and the setting agree, and the next refresh asks for it again.
TEST_P(MonitorModes, ALengthChosenWhileMonitoringAppliesAtOnceAndSticks) {
    c.toggleAutoUpdate(nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return heldSeconds().size() == 2; }, 15000));
    QComboBox* popup = app.actions().monitorDurationPopUp;
    for (const int minutes : {30, 10}) {
        popup->setCurrentIndex(popup->findData(minutes));
        emit popup->activated(popup->currentIndex());
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return std::abs(view().axisLeft() + 60.0 * minutes) < 1e-3; }, 15000))
            << minutes << " " << view().axisLeft();
        EXPECT_EQ(app.o().monitorRequestDurationTField->text(), QString::number(minutes));
        EXPECT_EQ(c.userDefaults().stringForKey("monitorDurationMinutes"),
                  QString::number(minutes));
        c.lastNMinutes(nullptr); // the next tick
        const auto start = datetext::parseRequestTime(app.o().startTField->text());
        const auto end = datetext::parseRequestTime(app.o().endTField->text());
        ASSERT_TRUE(start && end);
        EXPECT_NEAR(civil::secondsBetween(*start, *end), 60.0 * minutes, 1e-3);
        EXPECT_EQ(popup->currentData().toInt(), minutes);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                const auto held = heldSeconds();
                return held.size() == 2 && held.begin()->second > 60.0 * minutes - 10 &&
                       held.rbegin()->second > 60.0 * minutes - 10;
            },
            15000))
            << minutes;
    }
    c.toggleAutoUpdate(nullptr);
}

INSTANTIATE_TEST_SUITE_P(BothSources, MonitorModes, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "SeedLink" : "WebService"; });

// The application's commands answer their keys in whichever of its windows has the focus.
TEST(ApplicationKeys, QuitAndTheWindowCommandsWorkFromTheEarthquakeList) {
    AppHarness app;
    app.o().seismogramWindow->show(); // as at start: the menus' window is open
    QWidget* list = app.o().eventListWindow;
    ASSERT_NE(list, nullptr);
    list->show();
    list->activateWindow();
    QApplication::setActiveWindow(list);
    ASSERT_TRUE(QTest::qWaitForWindowActive(list));
    const struct {
        QAction* action;
        QKeySequence keys;
    } rows[] = {{app.actions().quitAction, QKeySequence(Qt::CTRL | Qt::Key_Q)},
                {app.actions().showSettingsAction, QKeySequence(Qt::CTRL | Qt::Key_Comma)},
                {app.actions().showLogAction, QKeySequence(Qt::CTRL | Qt::Key_L)}};
    for (const auto& row : rows) {
        ASSERT_NE(row.action, nullptr);
        EXPECT_EQ(row.action->shortcut(), row.keys);
        // Quitting here would end the test: only the command's arrival is looked at.
        row.action->disconnect();
        QSignalSpy triggered(row.action, &QAction::triggered);
        QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : list;
        QTest::keySequence(target, row.keys);
        EXPECT_EQ(triggered.count(), 1) << row.keys.toString().toStdString();
    }
}
