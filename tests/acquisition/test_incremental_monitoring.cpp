// Monitor ticks that ask only for the tail of each channel: the request, the trace it gives
// against a whole download, and the whole window again after a gap, another rate or a failure.
#include "LogCapture.h"
#include "QtPrinters.h"
#include "SeismogramServer.h"
#include "acquisition/RetrievalCycle.h"
#include "acquisition/TimeSeriesSource.h"
#include "base/DateText.h"
#include "components/sac/SacObject.h"
#include "store/TraceStore.h"

#include <QSignalSpy>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace {

// Ten-minute windows a minute apart, near the test server's reference time.
const Time kEnd = civil::dateOf(2012, 6, 15, 11, 0, 0);

class IncrementalMonitoring : public ::testing::Test {
protected:
    SeismogramServer server;
    TimeSeriesSource source;
    TraceStore store{std::chrono::hours(1)};
    RetrievalCycle cycle{source, store};
    LogCapture log;
    Time now = kEnd; // the present of every store here: the end of the latest tick's window

    IncrementalMonitoring() { store.setClock([this] { return now; }); }

    void begin() {
        server.start();
        source.setServiceBase(server.baseUrl());
    }
    // One monitor tick for the window ending `minute` minutes after kEnd.
    std::shared_ptr<CycleResult> tick(int minute, const QStringList& stations, bool incremental = true,
                                      RetrievalCycle* on = nullptr) {
        CycleRequest r;
        for (const QString& s : stations) {
            r.channels.networks << QStringLiteral("IU");
            r.channels.stations << s;
            r.channels.channels << QStringLiteral("BHZ");
            r.channels.locations << QStringLiteral("00");
            r.channels.labels << s;
        }
        const Time end = civil::addSeconds(kEnd, 60.0 * minute);
        now = end;
        r.window = WindowRequest::of(WindowRequest::Mode::Monitor, civil::addSeconds(end, -600), end);
        r.monitor = true;
        r.incremental = incremental;
        r.options.broadband = {.filter = true, .lowPassCorner = 2.0f, .highPassCorner = 0.05f};
        RetrievalCycle& c = on ? *on : cycle;
        QSignalSpy finished(&c, &RetrievalCycle::finished);
        c.start(r);
        if (!finished.wait(10000))
            return nullptr;
        return finished.at(0).at(0).value<std::shared_ptr<CycleResult>>();
    }
    // The start the last request for a station asked for, as URL time text.
    std::string lastStart(const std::string& station) {
        std::string start;
        for (const std::string& t : server.seismogramTargets()) {
            const QUrlQuery q(QString::fromStdString(t.substr(t.find('?') + 1)));
            if (q.queryItemValue("sta").toStdString() == station)
                start = q.queryItemValue("start").toStdString();
        }
        return start;
    }
    static std::string urlTime(int minute, double seconds) {
        return datetext::urlTime(civil::addSeconds(kEnd, 60.0 * minute + seconds)).toStdString();
    }
};

double relativeRmsDifference(std::span<const float> a, std::span<const float> b) {
    double diff = 0, ref = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        diff += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
        ref += double(b[i]) * b[i];
    }
    return std::sqrt(diff / ref);
}

} // namespace

TEST_F(IncrementalMonitoring, ATickAsksOnlyForTheTailAndDrawsWhatAWholeDownloadWould) {
    begin();
    ASSERT_TRUE(tick(0, {"ANMO"}));
    EXPECT_EQ(lastStart("ANMO"), urlTime(-10, 0)); // the first tick fetches the whole window
    const auto second = tick(1, {"ANMO"});
    ASSERT_TRUE(second);
    EXPECT_EQ(second->tails, 1);
    // From the newest stored sample less five of overlap, cut to the whole second.
    EXPECT_EQ(lastStart("ANMO"), urlTime(0, -1));
    ASSERT_EQ(second->traces.size(), 1u);

    TraceStore freshStore(std::chrono::hours(1));
    freshStore.setClock([this] { return now; });
    TimeSeriesSource freshSource;
    freshSource.setServiceBase(server.baseUrl());
    RetrievalCycle whole(freshSource, freshStore);
    const auto reference = tick(1, {"ANMO"}, false, &whole);
    ASSERT_TRUE(reference);
    EXPECT_GT(reference->bytes, 8 * second->bytes); // 61 s against 600 s
    const SacObject& a = *second->traces[0].seismogram;
    const SacObject& b = *reference->traces[0].seismogram;
    ASSERT_EQ(a.samples().size(), b.samples().size());
    EXPECT_EQ(a.startTime(), b.startTime());
    EXPECT_LT(relativeRmsDifference(a.samples(), b.samples()), 1e-5);
}

TEST_F(IncrementalMonitoring, AGapOrAFailedTailFetchesTheWholeWindowOnceAndARateChangeIsKept) {
    server.tweakAnswer = [](const std::string& sta, int number, SeismogramServer::Answer& a) {
        if (number != 2)
            return;
        if (sta == "GAP")
            a.shiftSeconds = 20; // the tail starts well after the stored end
        else if (sta == "RATE")
            a.delta = 0.025;
        else if (sta == "FAIL")
            a.fail = true;
    };
    begin();
    const QStringList stations = {"GAP", "RATE", "FAIL", "STEADY"};
    ASSERT_TRUE(tick(0, stations));
    const auto second = tick(1, stations);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->tails, 4);
    EXPECT_EQ(log.count(QStringLiteral("Encountered a Connection problem for request:\nnet=IU sta=FAIL ")), 1);
    // Nothing held is hidden: the gap's row is two pieces, the failed row keeps what it held.
    std::map<int, int> pieces;
    for (const CycleTrace& t : second->traces)
        ++pieces[t.index];
    EXPECT_EQ(pieces, (std::map<int, int>{{0, 2}, {1, 2}, {2, 1}, {3, 1}}));
    ASSERT_EQ(second->failures.size(), 1u);
    EXPECT_EQ(second->failures[0].index, 2);

    const auto third = tick(2, stations);
    ASSERT_TRUE(third);
    // The new rate is what the channel sends now: it goes on by tails.
    EXPECT_EQ(third->wholeWindows, 2);
    for (const char* sta : {"GAP", "FAIL"})
        EXPECT_EQ(lastStart(sta), urlTime(-8, 0)) << sta;
    for (const char* sta : {"RATE", "STEADY"})
        EXPECT_EQ(lastStart(sta), urlTime(1, -1)) << sta;
    pieces.clear();
    for (const CycleTrace& t : third->traces)
        ++pieces[t.index];
    // The gap filled; the rate went back with this tail: a third piece.
    EXPECT_EQ(pieces, (std::map<int, int>{{0, 1}, {1, 3}, {2, 1}, {3, 1}}));

    // Once: a fourth tick goes back to tails everywhere.
    const auto fourth = tick(3, stations);
    ASSERT_TRUE(fourth);
    EXPECT_EQ(fourth->tails, 4);
    for (const char* sta : {"GAP", "RATE", "FAIL", "STEADY"})
        EXPECT_EQ(lastStart(sta), urlTime(2, -1)) << sta;
}

TEST_F(IncrementalMonitoring, AServerWhoseAnswersAreShiftedByAFractionOfASampleSettles) {
    // Every other answer is stamped 0.3 of a sample late: its tail still joins the held samples
    // (within half a sample), so the view never shrinks and no tick goes back to the whole window.
    server.tweakAnswer = [](const std::string&, int number, SeismogramServer::Answer& a) {
        a.shiftSeconds = number % 2 == 0 ? 0.015 : 0.0;
    };
    begin();
    ASSERT_TRUE(tick(0, {"ANMO"}));
    for (int minute = 1; minute <= 3; ++minute) {
        const auto r = tick(minute, {"ANMO"});
        ASSERT_TRUE(r);
        EXPECT_EQ(r->tails, 1) << minute;
        ASSERT_EQ(r->traces.size(), 1u) << minute;
        const SacObject& s = *r->traces[0].seismogram;
        EXPECT_NEAR(s.samples().size() * s.delta(), 600, 0.1) << minute;
    }
}
