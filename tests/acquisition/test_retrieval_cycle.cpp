// The retrieval cycle end to end against a real server: requests, labels, failures, warning,
// history and the display's arrangement.
#include "AppHarness.h"
#include "base/Time.h"
#include "base/DateText.h"
#include "QtPrinters.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/sac/SacObject.h"
#include "SeismogramServer.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

const QString kStart = QStringLiteral("2012-06-15T10:00:00.0000Z");
const QString kEnd = QStringLiteral("2012-06-15T10:02:00.0000Z");

class TheRetrievalCycle : public ::testing::Test {
protected:
    SeismogramServer server;
    AppHarness app;
    groundswayController& c = app.controller();

    void SetUp() override {
        server.start();
        app.useServices(server.baseUrl());
        c.awakeFromNib();
        app.o().startTField->setText(kStart);
        app.o().endTField->setText(kEnd);
        app.log().clear();
    }
    // The traces drawn; a channel that failed keeps an empty row, left out here.
    std::vector<std::string> labels() {
        std::vector<std::string> out;
        for (const auto& w : *c.theWaveforms())
            if (!w->samples().empty())
                out.push_back(w->label());
        return out;
    }
    QuilmRealTimeDisplayView02& view() { return *app.o().seisView; }
    void runAsMonitor() { c.settheSeismgrmUpdateTimer(std::make_unique<QTimer>()); }
};

std::string query(const std::string& sta, const std::string& cha, const std::string& loc) {
    return "/irisws/timeseries/1/query?net=IU&sta=" + sta + "&loc=" + loc + "&cha=" + cha +
           "&start=2012-06-15T10:00:00&end=2012-06-15T10:02:00&scale=AUTO&output=sacbl";
}

} // namespace

TEST_F(TheRetrievalCycle, RequestsEveryChannelInOrderWithTheExactQueryAndUserAgent) {
    app.setChannelList("IU; ANMO; BHZ; 00; First\nIU;COLA;LHZ;--;Second\nIU;KONO;BHZ;;Third\n");
    c.retrieveSeismograms(nullptr);
    EXPECT_EQ(server.seismogramTargets(),
              (std::vector<std::string>{query("ANMO", "BHZ", "00"), query("COLA", "LHZ", "--"),
                                        query("KONO", "BHZ", "")}));
    for (const auto& r : server.requests())
        EXPECT_EQ(r.header("User-Agent"), "Groundsway (Mac; Mac OS; June 2012)");
    EXPECT_EQ(labels(), (std::vector<std::string>{"First", "Second", "Third"}));
    EXPECT_TRUE(app.o().queryWarningTField->isHidden());
    EXPECT_TRUE(app.o().networkProgressIndicator->isHidden());
    EXPECT_TRUE(app.log().lines().isEmpty());
}

TEST_F(TheRetrievalCycle, AFailingMiddleChannelIsLoggedAndLeavesNoGap) {
    app.setChannelList("IU;ANMO;BHZ;00;First\nIU;FAIL404;BHZ;00;Second\nIU;KONO;BHZ;00;Third\n");
    c.retrieveSeismograms(nullptr);
    EXPECT_EQ(labels(), (std::vector<std::string>{"First", "Third"}));
    // The failed channel keeps its row, empty, and the row says why.
    ASSERT_EQ(c.theWaveforms()->size(), 3u);
    EXPECT_EQ((*c.theWaveforms())[1]->label(), "Second");
    EXPECT_TRUE((*c.theWaveforms())[1]->samples().empty());
    ASSERT_EQ(view().traceAnnotations().size(), 3u);
    EXPECT_TRUE(view().traceAnnotations()[1].status.startsWith(u"No data: "));
    EXPECT_TRUE(view().traceAnnotations()[1].dimmed);
    EXPECT_EQ(
        app.log().lines(),
        QStringList{
            "Encountered a Connection problem for request:\nnet=IU sta=FAIL404 loc=00 cha=BHZ "
            "start=2012-06-15T10:00:00.0000Z end=2012-06-15T10:02:00.0000Z "});
    EXPECT_TRUE(app.o().queryWarningTField->isHidden());
    EXPECT_EQ(app.o().connectionLogTView->toPlainText(),
              "Retrieved a seismogram.\n\nRetrieved a seismogram.\n\n");
}

TEST_F(TheRetrievalCycle, WhenEveryChannelFailsTheWarningShows) {
    app.setChannelList("IU;FAIL404;BHZ;00;A\nIU;EMPTY;BHZ;00;B\nIU;TRUNC;BHZ;00;C\n");
    c.retrieveSeismograms(nullptr);
    EXPECT_TRUE(labels().empty());
    EXPECT_EQ(app.log().count("Encountered a Connection problem for request:\n"), 3);
    EXPECT_FALSE(app.o().queryWarningTField->isHidden());
    // One seismogram is enough to hide it again, even after failures.
    app.setChannelList("IU;FAIL404;BHZ;00;A\nIU;ANMO;BHZ;00;B\n");
    c.retrieveSeismograms(nullptr);
    EXPECT_TRUE(app.o().queryWarningTField->isHidden());
}

TEST_F(TheRetrievalCycle, AnEmptyChannelTableRequestsNothingButStillArrangesTheDisplay) {
    app.setChannelList("");
    app.o().plotTitleTField->setText("Quiet");
    app.o().connectionLogTView->setPlainText("old lines");
    c.retrieveSeismograms(nullptr);
    EXPECT_TRUE(server.requests().empty());
    EXPECT_TRUE(labels().empty());
    EXPECT_TRUE(app.o().connectionLogTView->toPlainText().isEmpty());
    EXPECT_FALSE(app.o().queryWarningTField->isHidden());
    EXPECT_TRUE(app.o().networkProgressIndicator->isHidden());
    EXPECT_EQ(view().title(), u"Quiet");
    EXPECT_DOUBLE_EQ(view().axisLeft(), 0.0);
    EXPECT_FALSE(view().originOnRight());
}

TEST_F(TheRetrievalCycle, ByHandTheTracesHangFromTheWindowStartWithZeroOnTheLeft) {
    // A channel named twice is asked for once; another location of it is another channel.
    app.setChannelList("IU;ANMO;BHZ;00;A\nIU;ANMO;BHZ;00;A\nIU;ANMO;BHZ;10;A\n");
    c.retrieveSeismograms(nullptr);
    ASSERT_EQ(c.theWaveforms()->size(), 2u);
    EXPECT_EQ(server.seismogramTargets().size(), 2u);
    const auto t0 = *datetext::parseRequestTime(kStart);
    for (const auto& w : *c.theWaveforms()) {
        EXPECT_EQ(w->referenceTime(), t0);
        EXPECT_NEAR(w->begin(), 0.0, 1e-9);
    }
    EXPECT_EQ(view().refDate(), t0);
    EXPECT_DOUBLE_EQ(view().axisLeft(), 0.0);
    EXPECT_NEAR(view().axisRight(), 120.0, 1e-5); // 2400 float32 intervals of 0.05 s
    EXPECT_FALSE(view().originOnRight());
    EXPECT_EQ(app.o().connectionLogTView->toPlainText(),
              "Retrieved a seismogram.\n\nRetrieved a seismogram.\n\n");
}

TEST_F(TheRetrievalCycle, AsAMonitorTheTracesHangFromTheWindowEndWithZeroOnTheRight) {
    app.setChannelList("IU;ANMO;BHZ;00;A\n");
    for (const auto& [minutes, axis] : {std::pair{"60", -3600.0}, std::pair{"7.9", -420.0}}) {
        app.o().monitorRequestDurationTField->setText(minutes);
        runAsMonitor();
        app.o().connectionLogTView->setPlainText("earlier");
        c.retrieveSeismograms(nullptr);
        const auto t1 = *datetext::parseRequestTime(kEnd);
        ASSERT_EQ(c.theWaveforms()->size(), 1u);
        EXPECT_EQ(c.theWaveforms()->front()->referenceTime(), t1);
        EXPECT_NEAR(c.theWaveforms()->front()->begin(), -120.0, 1e-9);
        EXPECT_EQ(view().refDate(), t1);
        EXPECT_NEAR(view().axisLeft(), axis, 1e-3) << minutes;
        EXPECT_DOUBLE_EQ(view().axisRight(), 0.0);
        EXPECT_TRUE(view().originOnRight());
        EXPECT_TRUE(app.o().connectionLogTView->toPlainText().isEmpty());
    }
}

TEST_F(TheRetrievalCycle, AWindowThatDoesNotParseKeepsThePreviousReference) {
    app.setChannelList("IU;ANMO;BHZ;00;A\n");
    c.retrieveSeismograms(nullptr);
    const auto before = view().refDate();
    app.o().startTField->setText("yesterday");
    app.o().endTField->setText("today");
    c.retrieveSeismograms(nullptr);
    EXPECT_EQ(view().refDate(), before);
    ASSERT_EQ(c.theWaveforms()->size(), 1u);
}

TEST_F(TheRetrievalCycle, AServerThatIsNotListeningFailsEveryChannel) {
    app.useServices(QStringLiteral("http://127.0.0.1:%1").arg(unusedPort()));
    app.setChannelList("IU;ANMO;BHZ;00;A\nIU;COLA;BHZ;00;B\n");
    c.retrieveSeismograms(nullptr);
    EXPECT_TRUE(labels().empty());
    EXPECT_EQ(app.log().count("Communication Failure: http://127.0.0.1:"), 2);
    EXPECT_EQ(app.log().count("Encountered a Connection problem for request:\nnet=IU sta="), 2);
    EXPECT_EQ(app.log().lines().size(), 6);
    EXPECT_FALSE(app.o().queryWarningTField->isHidden());
}
