// Window -> Helicorder against a real server: the day fetched in hourly pieces, only the tail
// afterwards, a failed piece told once, earthquakes and predicted P on the drum, a row opened in
// the seismogram window, and the drum written without a display.
#include "AppHarness.h"
#include "RunSnapshot.h"
#include "SeismogramServer.h"
#include "acquisition/SeismogramFetch.h"
#include "app/HelicorderWindow.h"
#include "base/DateText.h"
#include "components/HelicorderView.h"
#include "components/sac/SacObject.h"
#include "processing/DrumProcessing.h"
#include "processing/ProcessingChain.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QPainter>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// The window of each time-series request, in seconds since the epoch.
std::vector<std::pair<double, double>> windows(const SeismogramServer& server) {
    std::vector<std::pair<double, double>> out;
    for (const std::string& target : server.seismogramTargets()) {
        auto value = [&](const char* key) {
            const auto at = target.find(std::string(key) + "=");
            const auto text = QString::fromStdString(target.substr(at + std::strlen(key) + 1, 19));
            const auto t = *datetext::parseCatalogTime(text);
            return std::chrono::duration<double>(t.time_since_epoch()).count();
        };
        out.emplace_back(value("start"), value("end"));
    }
    return out;
}

class Helicorder : public ::testing::Test {
protected:
    SeismogramServer server;
    AppHarness app;
    groundswayController& c = app.controller();

    void SetUp() override {
        const QString threeHoursAgo = datetext::urlTime(civil::addSeconds(datetext::now(), -3 * 3600));
        server.eventBody = eventText({"ev1|" + threeHoursAgo.toStdString() + ".000|10|20|33|||||mw|5.04|x|R"});
        server.stationSiteBody =
            "#Network|Station|Latitude|Longitude|Elevation|SiteName|StartTime|EndTime\n"
            "IU|ANMO|34.9|-106.5|1820|Albuquerque|1989-08-29T00:00:00|\n";
        server.tweakAnswer = [](const std::string& station, int number, SeismogramServer::Answer& a) {
            a.fail = station == "ANMO" && number == 3;
        };
        server.start();
        app.useServices(server.baseUrl());
        c.awakeFromNib();
        app.setChannelList("IU;ANMO;BHZ;00;a\nIU;COLA;LHZ;--;b\n");
        app.log().clear();
    }
};

} // namespace

TEST_F(Helicorder, ADayComesInHourlyPiecesThenOnlyTheTail) {
    c.showHelicorderWindow();
    ASSERT_TRUE(c.helicorderSettled());
    HelicorderWindow* w = app.o().helicorderWindow;
    EXPECT_EQ(w->channelPopUp->count(), 2);
    EXPECT_EQ(w->channelPopUp->currentText(), u"IU.ANMO.00.BHZ");
    const auto asked = windows(server);
    ASSERT_GE(asked.size(), 25u); // 24 hours and the first block's margin
    for (std::size_t i = 0; i < asked.size(); ++i) {
        EXPECT_LE(asked[i].second - asked[i].first, 3600.0) << i;
        if (i > 0) {
            EXPECT_EQ(std::fmod(asked[i].first, 3600.0), 0.0) << i; // cut at whole hours
        }
    }
    const auto rows = c.helicorderView()->rows();
    EXPECT_EQ(rows.count, 48);
    EXPECT_LE(asked.front().first, std::chrono::duration<double>(rows.first.time_since_epoch()).count() - 600);
    EXPECT_TRUE(c.helicorderView()->hasSamples());
    // The third piece failed: said once, the rest drawn.
    ASSERT_EQ(app.log().count(QStringLiteral("Helicorder: no data for IU.ANMO.00.BHZ from ")), 1)
        << app.log().lines().join('\n').toStdString();
    EXPECT_TRUE(w->statusLabel->text().contains(u"1 piece(s) failed")) << w->statusLabel->text().toStdString();

    // The earthquake three hours ago and its P wave at Albuquerque (about 116 degrees: Pdiff).
    const auto& marks = c.helicorderView()->marks();
    ASSERT_EQ(marks.size(), 2u);
    EXPECT_EQ(marks[0].label, u"M5.0");
    EXPECT_EQ(marks[1].label, u"Pdiff");
    EXPECT_GT(civil::secondsBetween(marks[0].when, marks[1].when), 800);

    // A tick asks only for what is new.
    const std::size_t before = asked.size();
    c.refreshHelicorder();
    const auto after = windows(server);
    ASSERT_EQ(after.size(), before + 1);
    EXPECT_GE(after.back().first, asked.back().second - 5);
    c.cancelAcquisition();
}

TEST_F(Helicorder, ALongerSpanFetchesOnlyWhatTheDrumDoesNotHold) {
    c.showHelicorderWindow();
    ASSERT_TRUE(c.helicorderSettled());
    HelicorderWindow* w = app.o().helicorderWindow;
    const auto held = windows(server);
    const double oldFirst = held.front().first;
    w->hoursBox->setValue(48);
    emit w->hoursBox->editingFinished();
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.helicorderSettled(); }, 20000));
    const auto all = windows(server);
    ASSERT_GT(all.size(), held.size());
    // The new requests: the 24 older hours (cut at whole hours, so 25 pieces), the hour that
    // failed before and the seconds since the last fetch; nothing the drum held is asked again.
    double asked = 0;
    int pieces = 0;
    const auto failed = held[2]; // the third request for ANMO failed
    for (std::size_t i = held.size(); i < all.size(); ++i) {
        const auto [from, to] = all[i];
        asked += to - from;
        ++pieces;
        const bool older = to <= oldFirst;
        const bool refill = from >= failed.first && to <= failed.second;
        const bool newer = from >= held.back().second - 1;
        EXPECT_TRUE(older || refill || newer) << "piece " << i << " asks again for held time";
        if (newer)
            --pieces, asked -= to - from;
    }
    EXPECT_NEAR(asked, 24 * 3600.0 + (failed.second - failed.first), 2.0);
    EXPECT_EQ(pieces, 26);
    const auto rows = c.helicorderView()->rows();
    ASSERT_EQ(rows.count, 96);
    // And the drum shows both days: every row has ink but the failed hour's.
    QImage image(1200, 96 * 12, QImage::Format_RGB32);
    QPainter painter(&image);
    c.helicorderView()->render(painter, image.size());
    painter.end();
    const QRect plot = HelicorderView::plotRect(image.size());
    int inked = 0;
    for (int row = 0; row < rows.count; ++row) {
        const int y0 = plot.top() + row * plot.height() / rows.count;
        const int y1 = plot.top() + (row + 1) * plot.height() / rows.count;
        int dark = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = plot.left() + 1; x < plot.left() + plot.width() / 2; ++x)
                dark += qGray(image.pixel(x, y)) < 96;
        inked += dark > 50;
    }
    EXPECT_GE(inked, 92);
    c.cancelAcquisition();
}

// What the drum shows, processed block by block, against the chain run once over the whole
// record: at the top of the drum and at every whole hour where the record reaches a filter
// margin further, the two agree, so no block edge carries a filter's start-up or a taper.
TEST_F(Helicorder, BlockEdgesMatchOnePassOverTheWholeRecord) {
    HelicorderWindow* w = app.o().helicorderWindow;
    const ChannelId channel{"IU", "COLA", "--", "LHZ"};
    w->channelPopUp->setCurrentIndex(w->channelPopUp->findText(channel.seedId()));
    w->hoursBox->setValue(4);
    c.showHelicorderWindow();
    ASSERT_TRUE(c.helicorderSettled());
    const HelicorderView& drum = *c.helicorderView();
    const auto rows = drum.rows();
    const std::vector<Segment> shown = drum.samples(rows.first, rows.end());
    ASSERT_FALSE(shown.empty());
    const Time dataEnd = shown.back().end();

    // The record as one answer, from an hour before the drum to where its data ends.
    const Time from = civil::addSeconds(rows.first, -3600);
    const QString url = server.baseUrl() +
                        QStringLiteral("/irisws/timeseries/1/query?net=IU&sta=COLA&loc=--&cha=LHZ"
                                       "&start=%1&end=%2&output=sacbl")
                            .arg(datetext::urlTime(from), datetext::urlTime(dataEnd));
    FetchedSeismogram whole = fetchSeismogram(url, QStringLiteral("whole.sac"), c.httpOptions());
    ASSERT_TRUE(whole.seismogram);
    processing::runSteps(*whole.seismogram, c.processingOptions());
    const auto x = whole.seismogram->samples();
    const double delta = whole.seismogram->delta();
    const Time start = whole.seismogram->startTime();

    // The stretches compared: five minutes after the drum's top, ten around each whole hour with
    // a margin of data after it.
    std::vector<std::pair<Time, Time>> spans{{rows.first, civil::addSeconds(rows.first, 300)}};
    const double margin = drum::kMarginSeconds + 300;
    const double top = std::chrono::duration<double>(rows.first.time_since_epoch()).count();
    for (Time h = civil::addSeconds(Time{}, std::floor(top / 3600) * 3600 + 3600);
         civil::secondsBetween(h, dataEnd) > margin; h = civil::addSeconds(h, 3600))
        spans.emplace_back(civil::addSeconds(h, -300), civil::addSeconds(h, 300));
    ASSERT_GE(spans.size(), 3u); // the top and at least two whole hours
    for (const auto& [a, b] : spans) {
        double worst = 0, peak = 0;
        std::size_t compared = 0;
        for (const Segment& run : drum.samples(a, b))
            for (std::size_t i = 0; i < run.size(); ++i) {
                const double at = civil::secondsBetween(start, run.timeOf(i)) / delta;
                const auto k = static_cast<std::size_t>(std::lround(at));
                ASSERT_LT(std::abs(at - static_cast<double>(k)), 1e-3);
                ASSERT_LT(k, x.size());
                worst = std::max(worst, static_cast<double>(std::abs(run.samples[i] - x[k])));
                peak = std::max(peak, static_cast<double>(std::abs(x[k])));
                ++compared;
            }
        EXPECT_GE(compared, 299u) << datetext::urlTime(a).toStdString();
        EXPECT_LT(worst, 1e-3 * peak)
            << "around " << datetext::urlTime(a).toStdString() << ": " << worst << " of " << peak;
    }
    c.cancelAcquisition();
}

TEST_F(Helicorder, ARowOpensInTheSeismogramWindowAsATypedWindow) {
    c.toggleAutoUpdate(nullptr); // monitoring
    c.showHelicorderWindow();
    const auto rows = c.helicorderView()->rows();
    emit c.helicorderView()->spanChosen(rows.rowStart(10), rows.rowStart(11));
    EXPECT_EQ(c.theSeismgrmUpdateTimer(), nullptr); // monitoring stopped
    EXPECT_EQ(app.o().startTField->text(), datetext::requestTime(rows.rowStart(10)));
    EXPECT_EQ(app.o().endTField->text(), datetext::requestTime(rows.rowStart(11)));
    const auto last = windows(server).back();
    EXPECT_EQ(last.second - last.first, 1800.0);
    c.cancelAcquisition();
}

TEST_F(Helicorder, TheSnapshotWritesTheDrumWithoutADisplay) {
    QTemporaryDir home;
    QDir().mkpath(home.path() + "/.config/Groundsway");
    QFile conf(home.path() + "/.config/Groundsway/Groundsway.conf");
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write(("[General]\ntimeSeriesServiceURL=" + server.baseUrl() + "\neventServiceURL=" +
                server.baseUrl() + "\nstationServiceURL=" + server.baseUrl() +
                "\nhelicorderHours=3\n").toUtf8());
    conf.close();
    auto run = [&](const QStringList& args) { return runGroundsway(home.path(), args); };
    const QString out = home.filePath("drum.png");
    const auto good = run({"--snapshot", out, "--size", "900x700", "--helicorder", "IU.COLA.--.LHZ"});
    EXPECT_EQ(good.first, 0) << good.second.toStdString();
    EXPECT_EQ(QImage(out).size(), QSize(900, 700));
    const auto none = run({"--snapshot", home.filePath("no.png"), "--helicorder", "IU.FAIL404.00.BHZ"});
    EXPECT_EQ(none.first, 1);
    EXPECT_FALSE(QFile::exists(home.filePath("no.png")));
    EXPECT_EQ(run({"--snapshot", out, "--helicorder", "IU.ANMO.BHZ"}).first, 2);
    EXPECT_EQ(run({"--helicorder", "IU.ANMO.00.BHZ"}).first, 2); // goes with --snapshot
}
