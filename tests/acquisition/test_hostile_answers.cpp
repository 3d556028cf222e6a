// What a hostile or broken server, a hostile list and wild settings can do: never a hang, a crash
// or an unbounded allocation; always a failure line or a message, and the other channels drawn.
#include "AppHarness.h"
#include "QtPrinters.h"
#include "SeismogramServer.h"
#include "UrlRecorder.h"
#include "acquisition/RetrievalCycle.h"
#include "components/NEIC_QueryController.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "base/DateText.h"
#include "base/SystemLog.h"
#include "components/sac/SacObject.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

class Hostile : public ::testing::Test {
protected:
    SeismogramServer server;
    AppHarness app;
    groundswayController& c = app.controller();

    void SetUp() override {
        server.start();
        app.useServices(server.baseUrl());
        c.awakeFromNib();
        app.typeWindow();
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
    // The log lines about one station: what went wrong, then the failure line.
    QStringList linesAbout(const QString& station) {
        QStringList out;
        const QStringList& all = app.log().lines();
        for (qsizetype i = 0; i < all.size(); ++i)
            if (all[i].contains(QStringLiteral("sta=") + station + u' '))
                out << all.value(i - 1) << all[i];
        return out;
    }
};

} // namespace

TEST_F(Hostile, ASlowDripMeetsTheDeadlineAndTheNextChannelIsTried) {
    app.o().transferDeadlineTField->setText(QStringLiteral("2"));
    app.setChannelList(QStringLiteral("IU;DRIP;BHZ;00;drip\nIU;ANMO;BHZ;00;good\n"));
    QElapsedTimer clock;
    clock.start();
    c.retrieveSeismograms(nullptr);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_EQ(labels(), std::vector<std::string>{"good"});
    EXPECT_EQ(linesAbout(QStringLiteral("DRIP")).value(0),
              u"The request timed out: not complete after 2 seconds.");
}

TEST_F(Hostile, TracesThatCannotFitTheirWindowAreRefusedAndTheAxisHoldsTheRest) {
    app.setChannelList(QStringLiteral("IU;HUGE;BHZ;00;huge\nIU;NANS;BHZ;00;nan\n"
                                      "IU;FARB;BHZ;00;far\nIU;WIDE;BHZ;00;wide\nIU;ANMO;BHZ;00;good\n"));
    c.retrieveSeismograms(nullptr);
    EXPECT_EQ(labels(), std::vector<std::string>{"good"});
    EXPECT_TRUE(linesAbout("HUGE").value(0).startsWith(u"The answer holds 24010 samples where the "
                                                       "window calls for at most"))
        << linesAbout("HUGE").value(0).toStdString();
    EXPECT_EQ(linesAbout("NANS").value(0), u"The answer holds 1 of 2401 samples that are not numbers.");
    EXPECT_TRUE(linesAbout("FARB").value(0).endsWith(u"outside the window of 120 s."));
    EXPECT_TRUE(linesAbout("WIDE").value(0).startsWith(u"The answer holds 2401 samples where"));
    // The good trace sets the axis alone: two minutes.
    EXPECT_NEAR(app.o().seisView->axisRight(), 120.0, 1e-3);

    // And a cycle holds a bounded number of samples in all.
    c.retrievalCycle().setMaxCycleSamples(3000);
    app.setChannelList(QStringLiteral("IU;ANMO;BHZ;00;first\nIU;KONO;BHZ;00;second\n"));
    c.retrieveSeismograms(nullptr);
    EXPECT_EQ(labels(), std::vector<std::string>{"first"});
    EXPECT_TRUE(linesAbout("KONO").value(0).startsWith(u"The retrieval holds more than 3000 samples"));
}

TEST_F(Hostile, TimesBeyondTheClockAreRefusedNotWrapped) {
    server.eventBody = eventText({"a|9999-12-31T23:59:59|1|2|10|x|x|x|a|mb|5.5|x|Far future",
                                  "b|0001-01-01T00:00:00|1|2|10|x|x|x|b|mb|5.5|x|Far past",
                                  "c|2012-06-15T09:00:00|1|2|10|x|x|x|c|mb|5.5|x|Real"});
    c.loadNEICInfo(nullptr);
    ASSERT_EQ(c.neicQueryController()->seismicOrigins().size(), 1u);
    EXPECT_EQ(c.neicQueryController()->seismicOrigins()[0].eventId, u"c");
    EXPECT_EQ(app.log().count(QStringLiteral("Earthquake list from ")), 1);
    EXPECT_TRUE(app.log().lines().last().endsWith(u"2 lines could not be read and were left out."));

    app.o().endTField->setText(QStringLiteral("9999-01-01T00:00:00.0000Z"));
    app.setChannelList(QStringLiteral("IU;ANMO;BHZ;00;a\n"));
    app.log().clear();
    c.retrieveSeismograms(nullptr);
    EXPECT_TRUE(app.log().lines().value(0).startsWith(
        u"The window end \"9999-01-01T00:00:00.0000Z\" cannot be read"));
    // The end goes out as the present moment, never as a wrapped-around date.
    const std::string target = server.seismogramTargets().at(0);
    EXPECT_EQ(target.find("&end=9999"), std::string::npos);
    EXPECT_EQ(target.find("&end=18"), std::string::npos);
}

TEST_F(Hostile, CodesThatAreNotLettersAndDigitsNeverReachAQuery) {
    const QStringList hostile = {"AB&net=ZZ", "AB#frag", "%2F..%2F", "AB[1]", "A/B", "A?B"};
    QString list;
    for (const QString& code : hostile)
        list += QStringLiteral("IU;") + code + QStringLiteral(";BHZ;00;x\n");
    list += QStringLiteral("IU;ANMO;BHZ;&end=2030-01-01T00:00:00&output=miniseed;x\n");
    list += QStringLiteral("IU;ANMO;BHZ;--;good\n");
    app.setChannelList(list);
    c.retrieveSeismograms(nullptr);
    EXPECT_EQ(server.seismogramTargets().size(), 1u); // the good one alone
    EXPECT_EQ(labels(), std::vector<std::string>{"good"});
    EXPECT_EQ(app.log().count(QStringLiteral("Communication Failure: ")), 7);
    EXPECT_EQ(app.log().count(QStringLiteral("Encountered a Connection problem")), 7);

    // The finder leaves such rows out, and says so once.
    server.stationChannelBody =
        "#Network|Station|Location|Channel|Latitude|Longitude|Elevation\n"
        "IU|ANMO|00|BHZ|1|2|3\nIU|AB&net=ZZ|00|BHZ|1|2|3\nIU|ANMO|00|B#Z|1|2|3\n";
    app.log().clear();
    c.acquireavailableChannels(nullptr);
    EXPECT_EQ(app.o().channelFinderTView->toPlainText(), u"IU; ANMO; BHZ; 00; ANMO\n");
    EXPECT_EQ(app.log().lines(),
              QStringList{"Channel finder: left out 2 channels whose codes are not letters and "
                          "digits."});
}

// Each of the four codes is checked before a query is built: a code that would still make a
// valid address (a "&" that adds a parameter, an escaped "/") stops its channel in every field,
// with the failure said and nothing asked of the service.
TEST_F(Hostile, AHostileCodeInAnyFieldStopsItsChannelBeforeTheQuery) {
    const QString codes[] = {QStringLiteral("BHZ&sta=ANMO"), QStringLiteral("B%2FZ")};
    for (int field = 0; field < 4; ++field)
        for (const QString& code : codes) {
            QStringList line{"IU", "ANMO", "BHZ", "00", "x"};
            line[field] = code;
            app.setChannelList(line.join(u';') + u'\n');
            app.log().clear();
            c.retrieveSeismograms(nullptr);
            const QString why = QStringLiteral("field %1, %2").arg(field).arg(code);
            EXPECT_TRUE(server.seismogramTargets().empty()) << why.toStdString();
            EXPECT_TRUE(labels().empty()) << why.toStdString();
            ASSERT_EQ(app.log().lines().size(), 3) << why.toStdString();
            EXPECT_TRUE(app.log().lines()[0].startsWith(u"Communication Failure: no address"))
                << why.toStdString();
            EXPECT_EQ(app.log().lines()[1], u"unsupported URL") << why.toStdString();
            const QString problem = QStringLiteral("Encountered a Connection problem for "
                                                   "request:\nnet=%1 sta=%2 loc=%3 cha=%4 ")
                                        .arg(line[0], line[1], line[3], line[2]);
            EXPECT_TRUE(app.log().lines()[2].startsWith(problem))
                << app.log().lines()[2].toStdString();
        }
}

TEST_F(Hostile, WildSettingsAreBroughtIntoRangeWithOneLineEach) {
    struct Row {
        QLineEdit* field;
        const char* typed;
        const char* line;
    };
    const Row rows[] = {
        {app.o().monitorRequestDurationTField, "1e12",
         "The setting monitorDurationMinutes of \"1e12\" is outside 1 to 43200; using 43200."},
        {app.o().BB_decimationFactorTField, "1000000000",
         "The setting bbDecimationFactor of \"1000000000\" is outside 1 to 1000; using 1000."},
        {app.o().LP_hpcTField, "1e99", // beyond a float: infinity
         "The setting lpLowFrequencyCorner of \"1e99\" is not a frequency; the filter is left "
         "out."},
        {app.o().minMagTField, "-7",
         "The setting minMagnitude of \"-7\" is outside -2 to 10; using -2."},
        {app.o().eventServiceURLTField, "http://host/fdsn?x=1#y",
         "The setting eventServiceURL of \"http://host/fdsn?x=1#y\" is not a plain http or https "
         "address (scheme, host, port and path only); nothing is asked of it."},
    };
    server.eventBody = eventText({});
    for (const Row& r : rows)
        r.field->setText(QString::fromLatin1(r.typed));
    app.setChannelList(QStringLiteral("IU;ANMO;BHZ;00;a\n"));
    c.settheSeismgrmUpdateTimer(std::make_unique<QTimer>());
    for (int twice = 0; twice < 2; ++twice) {
        c.update();
        (void)c.processingOptions();
    }
    for (const Row& r : rows)
        EXPECT_EQ(app.log().lines().count(QString::fromLatin1(r.line)), 1) << r.line;
    EXPECT_NEAR(app.o().seisView->axisLeft(), -43200 * 60.0, 1);
    // Nothing was asked of the refused catalogue address.
    for (const std::string& t : server.targets())
        EXPECT_EQ(t.find("/fdsnws/event"), std::string::npos);

    // A monitor of -5 minutes asks for the last minute, not a window ending in the future.
    app.o().monitorRequestDurationTField->setText(QStringLiteral("-5"));
    c.lastNMinutes(nullptr);
    const auto start = datetext::parseRequestTime(app.o().startTField->text());
    const auto end = datetext::parseRequestTime(app.o().endTField->text());
    EXPECT_DOUBLE_EQ(civil::secondsBetween(*start, *end), 60.0);
}

// The transfer settings beyond their range, off the GUI thread: a typed deadline of 0 does not
// turn the deadline off but is the shortest, 2 s; ten transfers at once are the five the service
// allows. Each is said once, with the value used.
TEST_F(Hostile, TransferSettingsBeyondTheirRangeAreUsedAtTheirLimits) {
    server.stop();
    SeismogramServer slow;
    slow.answerDelay = [](const std::string& sta) { return sta == "DRIP" ? 0 : 300; };
    slow.start();
    app.useServices(slow.baseUrl());
    c.setInlineAcquisition(false);
    app.o().transferDeadlineTField->setText(QStringLiteral("0"));
    app.o().maxConcurrentDownloadsTField->setText(QStringLiteral("10"));
    QString list;
    for (int i = 0; i < 6; ++i)
        list += QStringLiteral("IU;S%1;BHZ;00;s%1\n").arg(i);
    app.setChannelList(list + QStringLiteral("IU;DRIP;BHZ;00;drip\n"));
    QSignalSpy finished(&c.retrievalCycle(), &RetrievalCycle::finished);
    c.retrieveSeismograms(nullptr);
    ASSERT_TRUE(finished.wait(10000)) << "the drip still runs";
    EXPECT_EQ(labels().size(), 6u);
    EXPECT_EQ(linesAbout(QStringLiteral("DRIP")).value(0),
              u"The request timed out: not complete after 2 seconds.");
    EXPECT_EQ(slow.maxInFlight(), 5);
    for (const char* line :
         {"The setting transferDeadlineSeconds of \"0\" is outside 2 to 3600; using 2.",
          "The setting maxConcurrentDownloads of \"10\" is outside 1 to 5; using 5."})
        EXPECT_EQ(app.log().lines().count(QString::fromLatin1(line)), 1) << line;
}

TEST_F(Hostile, SmallerOnesEscapedBoundedAndDrawn) {
    // Control bytes from a list are escaped in the system log.
    app.setChannelList(QString::fromLatin1("IU;A\x1b[31mB;BHZ;00;x\n"));
    c.retrieveSeismograms(nullptr);
    EXPECT_TRUE(std::any_of(app.log().lines().begin(), app.log().lines().end(),
                            [](const QString& l) { return l.contains(u"sta=A\\x1b[31mB "); }));

    // A catalogue magnitude beyond any measured, or a depth below the deepest earthquakes, above
    // the mountains or a NaN, is no earthquake; a blank depth is an unknown one.
    server.eventBody = eventText({"a|2012-06-15T09:00:00|1|2|10|x|x|x|a|mb|1e308|x|Broken",
                                  "b|2012-06-15T09:00:00|1|2|10|x|x|x|b|mb|6.1|x|Real",
                                  "c|2012-06-15T09:00:00|1|2|9999|x|x|x|c|mb|6|x|Deep",
                                  "d|2012-06-15T09:00:00|1|2|1e308|x|x|x|d|mb|6|x|Deeper",
                                  "e|2012-06-15T09:00:00|1|2|NaN|x|x|x|e|mb|6|x|Nan",
                                  "f|2012-06-15T09:00:00|1|2|-50|x|x|x|f|mb|6|x|High",
                                  "g|2012-06-15T09:00:00|1|2|700|x|x|x|g|mb|6|x|Deepest",
                                  "h|2012-06-15T09:00:00|1|2|-3.5|x|x|x|h|mb|6|x|Hill",
                                  "i|2012-06-15T09:00:00|1|2||x|x|x|i|mb|6|x|Unknown"});
    c.loadNEICInfo(nullptr);
    QStringList kept;
    for (const SeismicOrigin& o : c.neicQueryController()->seismicOrigins())
        kept << o.eventId;
    kept.sort();
    EXPECT_EQ(kept, (QStringList{"b", "g", "h", "i"}));
    EXPECT_TRUE(app.log().lines().last().contains(u"5 lines could not be read"))
        << app.log().lines().last().toStdString();

    // The browser is asked for web pages only.
    UrlRecorder browser;
    QDesktopServices::setUrlHandler(QStringLiteral("javascript"), &browser, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &browser, "open");
    app.o().statusPageURLTField->setText(QStringLiteral("javascript:alert(1)"));
    c.tamsyStatus(nullptr);
    app.o().statusPageURLTField->setText(QStringLiteral("file:///etc"));
    c.tamsyStatus(nullptr);
    app.o().eventServiceURLTField->setText(QStringLiteral("javascript:alert(1)"));
    c.loadNEICInfo(nullptr);
    app.o().eventListTblView->selectRow(0);
    c.loadNEICEventPage(nullptr);
    EXPECT_TRUE(browser.opened.isEmpty());
    QDesktopServices::unsetUrlHandler(QStringLiteral("javascript"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));

    // An all-zero trace is drawn as a flat line at its band's centre; a huge title fits.
    auto& view = *app.o().seisView;
    QuilmRealTimeDisplayView02::WaveformList zeros;
    zeros.push_back(std::make_unique<SacObject>(
        SacObject::fromSamples(std::vector<float>(6000, 0.0f), 0.05, civil::dateOf(2012, 6, 15, 10, 0, 0))));
    view.setWvfrmsArray(&zeros);
    view.setRefDate(zeros[0]->startTime());
    view.computePlotLimits();
    view.setTitle(QString(5'000'000, u'x'));
    QImage image(800, 500, QImage::Format_RGB32);
    QPainter p(&image);
    view.render(p, image.size());
    p.end();
    const QRect plot = view.plotRect(image.size());
    const int centre = plot.top() + plot.height() / 2;
    int inked = 0;
    for (int x = plot.left() + 2; x < plot.right() - 2; ++x)
        inked += image.pixelColor(x, centre) != QColor(Qt::white) ||
                 image.pixelColor(x, centre - 1) != QColor(Qt::white);
    EXPECT_GE(inked, plot.width() - 6); // no holes
    view.setWvfrmsArray(c.theWaveforms().get());
}

TEST_F(Hostile, ValuesFromOutsideStayOnOneShortLogLine) {
    // A setting from outside stays on one line of the log, and a short one.
    app.o().seedLinkServerTField->setText("evil\nSeedLink: streaming from trusted" +
                                          QString(100000, u'x'));
    app.actions().dataSourcePopUp->setCurrentIndex(1);
    c.setDataSource(app.actions().dataSourcePopUp);
    c.toggleAutoUpdate(nullptr);
    c.toggleAutoUpdate(nullptr);
    const auto seedLink = std::find_if(app.log().lines().begin(), app.log().lines().end(),
                                       [](const QString& l) { return l.startsWith(u"SeedLink: the server"); });
    ASSERT_NE(seedLink, app.log().lines().end()) << app.log().lines().join('\n').toStdString();
    EXPECT_FALSE(seedLink->contains(u'\n'));
    EXPECT_TRUE(seedLink->contains(u"\"evil\\nSeedLink: streaming"));
    EXPECT_LT(seedLink->size(), 600);
    EXPECT_TRUE(seedLink->contains(u"more characters)"));
    app.actions().dataSourcePopUp->setCurrentIndex(0);
    c.setDataSource(app.actions().dataSourcePopUp);
    // And any message stays within bounds.
    app.log().clear();
    systemLog(QString(100000, u'y'));
    EXPECT_LT(app.log().lines().value(0).size(), kMaxLogMessage + 100);
    EXPECT_TRUE(app.log().lines().value(0).endsWith(u"96000 more characters left out)"));
}
