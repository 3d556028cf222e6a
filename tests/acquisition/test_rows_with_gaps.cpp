// A row is every piece the store holds of its channel in the window: each piece processed where
// it lies, one scale for the row, and the health note's missing share equal to what is not drawn.
#include "acquisition/RetrievalCycle.h"
#include "acquisition/TimeSeriesSource.h"
#include "acquisition/TraceHealth.h"
#include "base/DateText.h"
#include "components/sac/SacObject.h"
#include "store/TraceStore.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

const Time kNow = civil::dateOf(2026, 6, 1, 12, 0, 0);
const ChannelId kChannel{QStringLiteral("IU"), QStringLiteral("ANMO"), QStringLiteral("00"),
                         QStringLiteral("BHZ")};

// A 0.1 Hz sine at 20 samples/s from `from` to `to` seconds before now.
Segment piece(double from, double to, float amplitude = 1.0f) {
    Segment s{kChannel, civil::addSeconds(kNow, from), 0.05, {}};
    for (int i = 0; i < static_cast<int>(std::lround((to - from) / 0.05)); ++i)
        s.samples.push_back(amplitude *
                            static_cast<float>(std::sin(2 * std::numbers::pi * 0.1 * i * 0.05)));
    return s;
}

class RowsWithGaps : public ::testing::Test {
protected:
    TimeSeriesSource source; // asked nothing: every row comes from the store
    TraceStore store{std::chrono::hours(1)};
    RetrievalCycle cycle{source, store};

    RowsWithGaps() {
        store.setClock([] { return kNow; });
    }

    std::shared_ptr<CycleResult> frame(bool keepUnchanged = false, double windowSeconds = 600) {
        CycleRequest r;
        r.channels.networks << kChannel.network;
        r.channels.stations << kChannel.station;
        r.channels.locations << kChannel.location;
        r.channels.channels << kChannel.channel;
        r.channels.labels << QStringLiteral("Albuquerque");
        r.window = WindowRequest::of(WindowRequest::Mode::Monitor,
                                     civil::addSeconds(kNow, -windowSeconds), kNow);
        r.monitor = true;
        r.fromStore = {1};
        r.keepUnchanged = keepUnchanged;
        r.options.broadband = {.filter = true, .lowPassCorner = 2.0f, .highPassCorner = 0.02f};
        QSignalSpy finished(&cycle, &RetrievalCycle::finished);
        cycle.start(r);
        if (finished.isEmpty() && !finished.wait(10000))
            return nullptr;
        return finished.at(0).at(0).value<std::shared_ptr<CycleResult>>();
    }
};

} // namespace

TEST_F(RowsWithGaps, EveryPieceOfTheWindowIsDrawnWhereItLiesOnOneScale) {
    // -600..-400, a record missing, -390..-200, a gap, -150..-10 at twice the amplitude.
    store.feed(piece(-600, -400));
    store.feed(piece(-390, -200));
    store.feed(piece(-150, -10, 2.0f));
    const auto r = frame();
    ASSERT_TRUE(r);
    ASSERT_EQ(r->traces.size(), 3u);
    double drawn = 0, sumSquares = 0;
    std::size_t count = 0;
    const double starts[] = {-600, -390, -150};
    for (std::size_t i = 0; i < 3; ++i) {
        const SacObject& s = *r->traces[i].seismogram;
        EXPECT_EQ(r->traces[i].index, 0);
        EXPECT_NEAR(civil::secondsBetween(kNow, s.startTime()), starts[i], 1e-6);
        drawn += static_cast<double>(s.samples().size()) * s.delta();
        for (const float v : s.samples())
            sumSquares += static_cast<double>(v) * v;
        count += s.samples().size();
        ASSERT_TRUE(r->traces[i].raw);
        EXPECT_EQ(r->traces[i].raw->samples().size(), s.samples().size());
    }
    // One factor for the row: unit RMS over all its pieces, so the louder piece stays louder.
    EXPECT_NEAR(std::sqrt(sumSquares / static_cast<double>(count)), 1.0, 1e-3);
    EXPECT_FLOAT_EQ(r->traces[0].seismogram->appliedScale(),
                    r->traces[2].seismogram->appliedScale());
    EXPECT_GT(r->traces[2].seismogram->simpleRMS(), 1.6 * r->traces[1].seismogram->simpleRMS());
    // The note's share missing is what is not drawn before the newest sample.
    const auto health = traceHealth(store, kChannel, civil::addSeconds(kNow, -600), kNow, 300);
    ASSERT_TRUE(health);
    EXPECT_NEAR(health->latencySeconds, 10, 1e-6);
    EXPECT_NEAR(health->missingShare, (590 - drawn) / 600, 1e-6);
    EXPECT_EQ(health->text(), u"latency 10 s, 10% missing");
    // One lost record of two seconds in ten minutes is a hole on screen: never "0%".
    TraceHealth small = *health;
    for (const auto& [share, text] :
         {std::pair{2.0 / 600, "0.3"}, std::pair{0.0001, "0.1"}, std::pair{0.0, "0"},
          std::pair{0.0096, "1.0"}, std::pair{0.014, "1"}}) {
        small.missingShare = share;
        EXPECT_EQ(small.text(), QStringLiteral("latency 10 s, %1% missing").arg(text)) << share;
    }
}

TEST_F(RowsWithGaps, ALateRecordChangesTheRowAlthoughItsNewestSampleDidNot) {
    store.feed(piece(-600, -400));
    store.feed(piece(-300, -10));
    auto r = frame(true);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->traces.size(), 2u);
    // Nothing new: the row is kept as drawn. Then the missing stretch arrives late, and the row
    // is made again although its newest sample is the same.
    r = frame(true);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->traces.empty());
    EXPECT_EQ(r->kept, std::vector<int>{0});
    store.feed(piece(-400, -300));
    r = frame(true);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->traces.size(), 1u);
    EXPECT_EQ(r->traces[0].seismogram->samples().size(), 590u * 20);
}

TEST_F(RowsWithGaps, AShortPieceIsDrawnUnfilteredAndSaidSo) {
    store.feed(piece(-600, -300));
    store.feed(piece(-200, -198)); // 40 samples: too short for the filters
    const auto r = frame();
    ASSERT_TRUE(r);
    ASSERT_EQ(r->traces.size(), 2u);
    EXPECT_EQ(r->unfiltered, (std::map<int, int>{{0, 1}}));
}

TEST_F(RowsWithGaps, AClockAMinuteAheadStillFillsTheRowUpToNow) {
    store.feed(piece(-600, 60)); // stamped up to a minute in the future
    const auto r = frame();
    ASSERT_TRUE(r);
    ASSERT_EQ(r->traces.size(), 1u);
    const SacObject& s = *r->traces[0].seismogram;
    EXPECT_NEAR(civil::secondsBetween(kNow, s.startTime()) + s.samples().size() * s.delta(), 0.05,
                0.051);
    const auto health = traceHealth(store, kChannel, civil::addSeconds(kNow, -600), kNow, 300);
    ASSERT_TRUE(health);
    EXPECT_EQ(health->text(), u"latency 0 s, 0% missing");
}
