// The raw-sample store: joins, gaps, repeated and reaching-back pieces, eviction and the windows
// read back.
#include "store/TraceStore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

namespace {

const ChannelId kChannel{QStringLiteral("IU"), QStringLiteral("ANMO"), QStringLiteral("00"),
                         QStringLiteral("BHZ")};
const Time kT0 = civil::dateOf(2024, 3, 1, 12, 0, 0);

// Samples whose value is their time after kT0 (to the second), so any mix-up shows.
Segment piece(double from, int count, double delta = 1.0) {
    Segment s{kChannel, civil::addSeconds(kT0, from), delta, {}};
    for (int i = 0; i < count; ++i)
        s.samples.push_back(static_cast<float>(std::round(from + i * delta)));
    return s;
}

double at(Time t) {
    return civil::secondsBetween(kT0, t);
}

} // namespace

TEST(TraceStore, JoinsAbuttingPiecesAndDropsWhatItAlreadyHolds) {
    TraceStore store(std::chrono::hours(1));
    EXPECT_TRUE(store.feed(piece(0, 10)));
    EXPECT_TRUE(store.feed(piece(10.4, 5))); // within half a sample of the end
    EXPECT_TRUE(store.feed(piece(12, 6)));   // repeats 12..14 on the grid, brings 15..17
    EXPECT_FALSE(store.feed(piece(3, 4)));   // nothing new
    EXPECT_FALSE(store.feed(piece(20, 0)));  // empty
    ASSERT_EQ(store.segmentCount(kChannel), 1u);
    const auto all = store.continuous(kChannel, kT0, civil::addSeconds(kT0, 100));
    ASSERT_TRUE(all);
    ASSERT_EQ(all->size(), 18u);
    for (std::size_t i = 0; i < all->size(); ++i)
        EXPECT_FLOAT_EQ(all->samples[i], static_cast<float>(i)); // the first copy of each kept
    EXPECT_DOUBLE_EQ(at(*store.end(kChannel)), 18.0);
}

TEST(TraceStore, AGapOrAnotherRateOpensASegmentAndWindowsShowTheHoles) {
    TraceStore store(std::chrono::hours(1));
    store.feed(piece(0, 10));
    store.feed(piece(12, 8)); // a gap of two samples
    EXPECT_EQ(store.segmentCount(kChannel), 2u);
    const auto holes = store.gaps(kChannel, kT0, civil::addSeconds(kT0, 25));
    ASSERT_EQ(holes.size(), 2u);
    EXPECT_DOUBLE_EQ(at(holes[0].from), 10.0);
    EXPECT_DOUBLE_EQ(at(holes[0].to), 12.0);
    EXPECT_DOUBLE_EQ(at(holes[1].from), 20.0);

    const auto w = store.window(kChannel, kT0, civil::addSeconds(kT0, 19));
    ASSERT_TRUE(w);
    ASSERT_EQ(w->size(), 20u);
    EXPECT_TRUE(std::isnan(w->samples[10]) && std::isnan(w->samples[11]));
    EXPECT_FLOAT_EQ(w->samples[12], 12.0f);
    // The newest run alone, cut to the span asked for.
    const auto run = store.continuous(kChannel, civil::addSeconds(kT0, 14), civil::addSeconds(kT0, 16));
    ASSERT_TRUE(run);
    EXPECT_EQ(run->samples, (std::vector<float>{14, 15, 16}));

    store.feed(piece(20, 10, 0.5)); // another rate at the end: a segment of its own
    EXPECT_EQ(store.segmentCount(kChannel), 3u);
}

TEST(TraceStore, APieceReachingBackOffTheGridReplacesWhatFollowsItsStart) {
    TraceStore store(std::chrono::hours(1));
    store.feed(piece(0, 10));
    store.feed(piece(5.5, 10)); // half a sample off the grid: the newer data wins from 5.5 on
    ASSERT_EQ(store.segmentCount(kChannel), 2u);
    const auto holes = store.gaps(kChannel, kT0, civil::addSeconds(kT0, 15.5));
    ASSERT_EQ(holes.size(), 1u);
    EXPECT_DOUBLE_EQ(at(holes[0].from), 5.0); // the old samples end before the new start
    EXPECT_DOUBLE_EQ(at(holes[0].to), 5.5);
    EXPECT_DOUBLE_EQ(at(*store.end(kChannel)), 15.5);
}

TEST(TraceStore, LetsGoOfSamplesOlderThanItsKeepAndForgets) {
    TraceStore store(std::chrono::seconds(10));
    store.feed(piece(0, 30));
    const auto kept = store.continuous(kChannel, kT0, civil::addSeconds(kT0, 100));
    ASSERT_TRUE(kept);
    EXPECT_DOUBLE_EQ(at(kept->start), 20.0);
    EXPECT_EQ(store.sampleCount(), 10u);
    store.feed(piece(100, 5)); // a long gap: the old segment goes entirely
    EXPECT_EQ(store.segmentCount(kChannel), 1u);
    store.forget(kChannel);
    EXPECT_FALSE(store.end(kChannel));
    EXPECT_EQ(store.sampleCount(), 0u);
}
