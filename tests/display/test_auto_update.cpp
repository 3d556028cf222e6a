// Auto-update: the timer, its controls, the immediate first refresh and what each tick does.
#include "AppHarness.h"
#include "components/NEIC_QueryController.h"
#include "QtPrinters.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "SeismogramServer.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

class AutoUpdate : public ::testing::Test {
protected:
    SeismogramServer server;
    AppHarness app;
    groundswayController& c = app.controller();

    void SetUp() override {
        server.eventBody = eventText({"ev1|2026-12-07T20:00:00.000|10|20|33|||||mw|5|x|R"});
        server.start();
        app.useServices(server.baseUrl());
        c.awakeFromNib();
        app.setChannelList("IU;ANMO;LHZ;00;A\nIU;COLA;LHZ;00;B\n");
        app.o().monitorRequestDurationTField->setText("10");
        app.log().clear();
    }
    std::vector<std::string> paths() {
        std::vector<std::string> out;
        for (const auto& r : server.requests())
            out.push_back(r.path);
        return out;
    }
};

const std::string kEvents = "/fdsnws/event/1/query";
const std::string kSeries = "/irisws/timeseries/1/query";

} // namespace

TEST_F(AutoUpdate, StartingTitlesTheButtonStopShowsTheIndicatorAndRefreshesAtOnce) {
    EXPECT_TRUE(app.o().monitorIndicatorTField->isHidden());
    QTest::mouseClick(app.o().autoUpdateButton, Qt::LeftButton);
    ASSERT_NE(c.theSeismgrmUpdateTimer(), nullptr);
    EXPECT_TRUE(c.theSeismgrmUpdateTimer()->isActive());
    EXPECT_FALSE(c.theSeismgrmUpdateTimer()->isSingleShot());
    EXPECT_EQ(c.theSeismgrmUpdateTimer()->interval(), 120'000);
    EXPECT_EQ(app.o().autoUpdateButton->text(), u"Stop");
    EXPECT_FALSE(app.o().monitorIndicatorTField->isHidden());
    // The first tick: catalogue first, then every channel; drawn as a monitor.
    EXPECT_EQ(paths(), (std::vector<std::string>{kEvents, kSeries, kSeries}));
    EXPECT_TRUE(app.o().seisView->originOnRight());
    EXPECT_EQ(c.theWaveforms()->size(), 2u);

    QTest::mouseClick(app.o().autoUpdateButton, Qt::LeftButton);
    EXPECT_EQ(c.theSeismgrmUpdateTimer(), nullptr);
    EXPECT_EQ(app.o().autoUpdateButton->text(), u"Start");
    EXPECT_TRUE(app.o().monitorIndicatorTField->isHidden());
    EXPECT_EQ(server.requests().size(), 3u); // no refresh on stopping
}

TEST_F(AutoUpdate, EachTickHandsTheFreshCatalogueToTheDisplayBeforeRequesting) {
    c.toggleAutoUpdate(nullptr);
    server.eventBody = eventText({"ev2|2026-12-07T21:00:00.000|1|2|3|||||mb|5.8|x|Later"});
    QMetaObject::invokeMethod(c.theSeismgrmUpdateTimer(), "timeout", Qt::DirectConnection);
    EXPECT_EQ(paths(),
              (std::vector<std::string>{kEvents, kSeries, kSeries, kEvents, kSeries, kSeries}));
    ASSERT_EQ(app.o().seisView->eventOrigins().size(), 1u);
    EXPECT_EQ(app.o().seisView->eventOrigins()[0].eventId, u"ev2");
    EXPECT_EQ(app.o().seisView->eventOrigins(), c.neicQueryController()->seismicOrigins());
}

TEST_F(AutoUpdate, ThePeriodIsReadOnlyWhenTheTimerStarts) {
    app.o().updateIntervalTField->setText("300");
    c.toggleAutoUpdate(nullptr);
    app.o().updateIntervalTField->setText("60");
    EXPECT_EQ(c.theSeismgrmUpdateTimer()->interval(), 300'000);
    c.toggleAutoUpdate(nullptr);
    c.toggleAutoUpdate(nullptr);
    EXPECT_EQ(c.theSeismgrmUpdateTimer()->interval(), 60'000);
}

TEST_F(AutoUpdate, APeriodBelowTenSecondsIsRaisedToTenAndSaidSo) {
    for (const char* period : {"0", "", "abc", "-5", "9.5", "0.001"}) {
        app.o().updateIntervalTField->setText(period);
        app.log().clear();
        c.toggleAutoUpdate(nullptr);
        EXPECT_EQ(c.theSeismgrmUpdateTimer()->interval(), 10'000) << period;
        EXPECT_EQ(app.log().lines().value(0),
                  QStringLiteral("Auto-update period of %1 seconds is too short; using 10 seconds.")
                      .arg(period));
        c.toggleAutoUpdate(nullptr);
    }
    app.o().updateIntervalTField->setText("10");
    app.log().clear();
    c.toggleAutoUpdate(nullptr);
    EXPECT_EQ(c.theSeismgrmUpdateTimer()->interval(), 10'000);
    EXPECT_EQ(app.log().count("Auto-update period"), 0);
    c.toggleAutoUpdate(nullptr);
    app.o().updateIntervalTField->setText("1e30");
    c.toggleAutoUpdate(nullptr);
    EXPECT_GT(c.theSeismgrmUpdateTimer()->interval(), 0);
}
