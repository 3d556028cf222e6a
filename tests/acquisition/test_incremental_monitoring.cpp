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
        r.startText = datetext::requestTime(civil::addSeconds(end, -600));
        r.endText = datetext::requestTime(end);
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

TEST_F(IncrementalMonitoring, AGapAnotherRateOrAFailedTailFetchesTheWholeWindowNextTime) {
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
    const auto third = tick(2, stations);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->wholeWindows, 3);
    for (const char* sta : {"GAP", "RATE", "FAIL"})
        EXPECT_EQ(lastStart(sta), urlTime(-8, 0)) << sta;
    EXPECT_EQ(lastStart("STEADY"), urlTime(1, -1));
    EXPECT_EQ(third->traces.size(), 4u);
}
