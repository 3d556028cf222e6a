// The time-series source and the retrieval cycle on real threads against a real server:
// concurrency and its limit, list order whatever order answers arrive in, and cancelling.
#include "LogCapture.h"
#include "QtPrinters.h"
#include "SeismogramServer.h"
#include "acquisition/RetrievalCycle.h"
#include "acquisition/TimeSeriesSource.h"
#include "components/sac/SacObject.h"
#include "store/TraceStore.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class PooledRetrieval : public ::testing::Test {
protected:
    SeismogramServer server;
    TimeSeriesSource source;
    TraceStore store{std::chrono::hours(1)};
    RetrievalCycle cycle{source, store};
    LogCapture log;

    void begin() {
        server.start();
        source.setServiceBase(server.baseUrl());
        HttpOptions http;
        http.userAgent = QStringLiteral("Groundsway (Mac; Mac OS; June 2012)");
        http.idleTimeoutSeconds = 5;
        source.setHttpOptions(http);
    }
    static CycleRequest request(const QStringList& stations) {
        CycleRequest r;
        for (const QString& s : stations) {
            r.channels.networks << QStringLiteral("IU");
            r.channels.stations << s;
            r.channels.channels << QStringLiteral("BHZ");
            r.channels.locations << QStringLiteral("00");
            r.channels.labels << s.toLower();
        }
        r.window = WindowRequest::of(WindowRequest::Mode::Typed, civil::dateOf(2012, 6, 15, 10, 0, 0),
                                     civil::dateOf(2012, 6, 15, 10, 1, 0));
        return r;
    }
    std::shared_ptr<CycleResult> run(const CycleRequest& r, int timeoutMs = 20000) {
        QSignalSpy finished(&cycle, &RetrievalCycle::finished);
        cycle.start(r);
        if (!finished.wait(timeoutMs))
            return nullptr;
        return finished.at(0).at(0).value<std::shared_ptr<CycleResult>>();
    }
    static QStringList names(int n) {
        QStringList out;
        for (int i = 0; i < n; ++i)
            out << QStringLiteral("S%1").arg(i, 2, 10, QLatin1Char('0'));
        return out;
    }
};

} // namespace

TEST_F(PooledRetrieval, OverlapsTransfersWithinTheLimitAndBeatsOneAfterAnother) {
    server.answerDelay = [](const std::string&) { return 250; };
    begin();
    const CycleRequest r = request(names(24));
    QElapsedTimer clock;
    source.setMaxConcurrentTransfers(1);
    clock.start();
    ASSERT_TRUE(run(r));
    const qint64 sequential = clock.elapsed();
    EXPECT_EQ(server.maxInFlight(), 1);

    TimeSeriesSource pooled;
    pooled.setServiceBase(server.baseUrl());
    pooled.setMaxConcurrentTransfers(4);
    RetrievalCycle second(pooled, store);
    QSignalSpy finished(&second, &RetrievalCycle::finished);
    clock.restart();
    second.start(r);
    ASSERT_TRUE(finished.wait(20000));
    const qint64 concurrent = clock.elapsed();
    EXPECT_EQ(server.maxInFlight(), 4);
    // Six rounds of four instead of 24 answers one by one.
    EXPECT_LE(concurrent, sequential * 35 / 100) << concurrent << " ms against " << sequential;
    const auto result = finished.at(0).at(0).value<std::shared_ptr<CycleResult>>();
    EXPECT_EQ(result->traces.size(), 24u);
}

TEST_F(PooledRetrieval, AnswersInReverseOrderStillGiveLogLinesAndTracesInListOrder) {
    // The later a channel stands in the list, the sooner its answer comes.
    server.answerDelay = [](const std::string& sta) {
        return sta.size() == 3 && sta[0] == 'S' ? 40 * (9 - std::stoi(sta.substr(1))) : 0;
    };
    begin();
    source.setMaxConcurrentTransfers(5);
    QStringList stations = names(10);
    stations[2] = QStringLiteral("FAIL404");
    stations[6] = QStringLiteral("EMPTY");
    const auto result = run(request(stations));
    ASSERT_TRUE(result);
    std::vector<QString> labels;
    for (const CycleTrace& t : result->traces)
        labels.push_back(t.label);
    EXPECT_EQ(labels, (std::vector<QString>{"s00", "s01", "s03", "s04", "s05", "s07", "s08", "s09"}));
    ASSERT_EQ(log.lines().size(), 2);
    EXPECT_TRUE(log.lines()[0].contains(u"sta=FAIL404")) << log.lines()[0].toStdString();
    EXPECT_TRUE(log.lines()[1].contains(u"sta=EMPTY"));
    ASSERT_EQ(result->failures.size(), 2u);
    EXPECT_EQ(result->failures[0].failure.kind, AcquisitionFailure::Kind::NoData);
}

TEST_F(PooledRetrieval, CancellingMidCycleDeliversNothingAndLeavesNoTransferOpen) {
    server.answerDelay = [](const std::string&) { return 3000; };
    begin();
    QSignalSpy finished(&cycle, &RetrievalCycle::finished);
    cycle.start(request(names(8)));
    QTest::qWait(300);
    EXPECT_EQ(server.inFlight(), 4);
    cycle.cancel();
    EXPECT_FALSE(cycle.isRunning());
    // Each abandoned transfer notices within a tenth of a second.
    EXPECT_TRUE(QTest::qWaitFor([&] { return source.transfersPending() == 0; }, 1000));
    QTest::qWait(100);
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join('\n').toStdString();
}

TEST_F(PooledRetrieval, CancellingACycleThatReplacedAnotherAbandonsItsTransfersToo) {
    server.answerDelay = [](const std::string&) { return 3000; };
    begin();
    QSignalSpy finished(&cycle, &RetrievalCycle::finished);
    cycle.start(request(names(4)));
    QTest::qWait(100);
    cycle.start(request(names(4))); // the source's requests and the cycles now count apart
    QTest::qWait(200);
    cycle.cancel();
    EXPECT_TRUE(QTest::qWaitFor([&] { return source.transfersPending() == 0; }, 1000))
        << source.transfersPending();
    EXPECT_EQ(finished.count(), 0);
}
