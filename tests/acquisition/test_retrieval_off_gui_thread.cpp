// The application with its real windows acquiring off the GUI thread: the event loop keeps
// turning during a cycle, the view gets the new list in one step, and ticks do not pile up.
#include "AppHarness.h"
#include "QtPrinters.h"
#include "SeismogramServer.h"
#include "acquisition/RetrievalCycle.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/sac/SacObject.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class OffTheGuiThread : public ::testing::Test {
protected:
    SeismogramServer server;
    AppHarness app;
    groundswayController& c = app.controller();

    void begin(int delayMs) {
        server.answerDelay = [delayMs](const std::string&) { return delayMs; };
        server.eventBody = eventText({});
        server.start();
        app.useServices(server.baseUrl());
        c.setInlineAcquisition(false);
        c.awakeFromNib();
        QString list;
        for (int i = 0; i < 24; ++i)
            list += QStringLiteral("IU; S%1; BHZ; 00; Station %1\n").arg(i);
        app.setChannelList(list);
        app.o().startTField->setText(QStringLiteral("2012-06-15T10:00:00.0000Z"));
        app.o().endTField->setText(QStringLiteral("2012-06-15T10:10:00.0000Z"));
        app.log().clear();
    }
};

} // namespace

TEST_F(OffTheGuiThread, TheEventLoopKeepsTurningAndTheViewGetsTheWholeListAtTheEnd) {
    begin(250);
    QSignalSpy finished(&c.retrievalCycle(), &RetrievalCycle::finished);
    // A probe on the GUI thread: it ticks only while the event loop turns. The answers wait
    // 250 ms each, so a loop that keeps turning sees many ticks before the end; one blocked by
    // the retrieval sees none. Counted, not timed: a loaded machine only thins the ticks.
    std::vector<std::size_t> sizesSeen;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout,
                     [&] { sizesSeen.push_back(c.theWaveforms()->size()); });
    c.retrieveSeismograms(nullptr);
    EXPECT_FALSE(app.o().networkProgressIndicator->isHidden());
    probe.start();
    ASSERT_TRUE(finished.wait(20000));
    probe.stop();
    EXPECT_GE(std::count(sizesSeen.begin(), sizesSeen.end(), std::size_t{0}), 3);
    // Never half a list: empty (nothing was drawn before) until all 24 arrive at once.
    for (std::size_t n : sizesSeen)
        EXPECT_TRUE(n == 0 || n == 24) << n;
    EXPECT_EQ(c.theWaveforms()->size(), 24u);
    EXPECT_EQ(c.theWaveforms()->front()->label(), "Station 0");
    EXPECT_TRUE(app.o().networkProgressIndicator->isHidden());
}

TEST_F(OffTheGuiThread, ATickDuringARunningRetrievalIsSkippedWithOneLogLine) {
    begin(400);
    c.toggleAutoUpdate(nullptr); // starts the timer and the first tick
    QTest::qWait(150);
    c.update(); // still fetching: skipped
    EXPECT_EQ(app.log().count(QStringLiteral("Skipped an auto-update tick")), 1);
    QSignalSpy finished(&c.retrievalCycle(), &RetrievalCycle::finished);
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_EQ(c.theWaveforms()->size(), 24u);
    // Stopping auto-update while a refresh runs cancels it and keeps what is drawn.
    c.update();
    QTest::qWait(150);
    c.toggleAutoUpdate(nullptr);
    EXPECT_FALSE(c.retrievalCycle().isRunning());
    EXPECT_EQ(c.theWaveforms()->size(), 24u);
    EXPECT_TRUE(app.o().networkProgressIndicator->isHidden());
}

// Retrieve pressed again while the transfers of the retrieval before still run: they are
// abandoned at once, on the second press as on the first (each press starts a new request of
// the source, and a cancelled one must be the request, not the cycle's own count).
TEST_F(OffTheGuiThread, RetrievingAgainAbandonsTheTransfersOfTheRetrievalBefore) {
    begin(0);
    app.o().maxConcurrentDownloadsTField->setText(QStringLiteral("2"));
    app.setChannelList(QStringLiteral("IU;DRIP;BHZ;00;a\nIU;DRIP;BHZ;10;b\n"));
    c.retrieveSeismograms(nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.dripsOpen() == 2; }, 5000));
    c.retrieveSeismograms(nullptr); // the first two go, two new ones begin
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return server.dripsStarted() == 4 && server.dripsOpen() == 2; }, 5000))
        << server.dripsStarted() << " begun, " << server.dripsOpen() << " open";
    // A channel that answers at once: it needs a free transfer, so only gets one when the
    // abandoned drips have let theirs go.
    app.setChannelList(QStringLiteral("IU;ANMO;BHZ;00;good\n"));
    QSignalSpy finished(&c.retrievalCycle(), &RetrievalCycle::finished);
    c.retrieveSeismograms(nullptr);
    ASSERT_TRUE(finished.wait(5000));
    ASSERT_EQ(c.theWaveforms()->size(), 1u);
    EXPECT_EQ(c.theWaveforms()->front()->label(), "good");
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.dripsOpen() == 0; }, 5000));
    EXPECT_EQ(server.dripsStarted(), 4);
    EXPECT_TRUE(app.log().lines().isEmpty()) << app.log().lines().join('\n').toStdString();
}

// Whatever order the answers come in, what each channel brought is told in list order: the
// system log's lines and the history's.
TEST_F(OffTheGuiThread, AnswersThatComeInReverseAreToldInListOrder) {
    server.answerDelay = [](const std::string& sta) {
        return sta == "FAIL404" ? 600 : sta == "EMPTY" ? 400 : sta == "ANMO" ? 200 : 0;
    };
    server.start();
    app.useServices(server.baseUrl());
    c.setInlineAcquisition(false);
    c.awakeFromNib();
    app.typeWindow();
    app.setChannelList(QStringLiteral(
        "IU;FAIL404;BHZ;00;a\nIU;EMPTY;BHZ;00;b\nIU;ANMO;BHZ;00;c\nIU;TRUNC;BHZ;00;d\n"));
    app.log().clear();
    QSignalSpy finished(&c.retrievalCycle(), &RetrievalCycle::finished);
    c.retrieveSeismograms(nullptr);
    ASSERT_TRUE(finished.wait(10000));
    QStringList stations;
    for (const QString& line : app.log().lines())
        if (line.startsWith(u"Encountered a Connection problem"))
            stations << line.section(QStringLiteral("sta="), 1).section(u' ', 0, 0);
    EXPECT_EQ(stations, (QStringList{"FAIL404", "EMPTY", "TRUNC"}));
    ASSERT_EQ(c.theWaveforms()->size(), 4u);
    EXPECT_EQ((*c.theWaveforms())[2]->label(), "c");
}
