// The raw-sample store merges like an archive: pieces in any order, joins within half a sample,
// overlaps that keep what is held, refusals that change nothing, release of old samples and
// memory bounds.
#include "store/TraceStore.h"

#include "LogCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numeric>
#include <thread>

namespace {

const ChannelId kChannel{QStringLiteral("IU"), QStringLiteral("ANMO"), QStringLiteral("00"),
                         QStringLiteral("BHZ")};
const Time kT0 = civil::dateOf(2024, 3, 1, 12, 0, 0);

// Samples whose value is their time after kT0 (to the second), so any mix-up shows.
Segment piece(double from, int count, double delta = 1.0, const ChannelId& ch = kChannel) {
    Segment s{ch, civil::addSeconds(kT0, from), delta, {}};
    for (int i = 0; i < count; ++i)
        s.samples.push_back(static_cast<float>(std::round(from + i * delta)));
    return s;
}

double at(Time t) {
    return civil::secondsBetween(kT0, t);
}

// A store whose present is kT0 + `now` seconds, keeping an hour.
struct Clocked {
    explicit Clocked(double now = 3000, std::chrono::seconds keep = std::chrono::hours(1))
        : store(keep) {
        seconds = now;
        store.setClock([this] { return civil::addSeconds(kT0, seconds); });
    }
    double seconds;
    TraceStore store;
};

// Every held segment as (start, delta, samples): what two stores must agree on.
struct Held {
    double start, delta;
    std::vector<float> samples;
    friend bool operator==(const Held&, const Held&) = default;
};
std::vector<Held> held(const TraceStore& store, const ChannelId& ch = kChannel) {
    std::vector<Held> out;
    for (const Segment& s :
         store.segments(ch, civil::addSeconds(kT0, -1e6), civil::addSeconds(kT0, 1e6)))
        out.push_back({at(s.start), s.delta, s.samples});
    return out;
}

} // namespace

TEST(TraceStoreMerge, EveryOrderOfArrivalGivesTheSameStore) {
    // Abutting pieces, one off the grid by a fraction that still joins, an overlap, a gap and a
    // piece at another rate: 6! orders.
    const std::vector<Segment> pieces = {piece(0, 10),  piece(10, 10), piece(20.3, 10),
                                         piece(25, 10), piece(40, 5),  piece(50, 10, 0.5)};
    std::vector<int> order(pieces.size());
    std::iota(order.begin(), order.end(), 0);
    std::optional<std::vector<Held>> first;
    int orders = 0;
    do {
        Clocked c;
        for (const int i : order)
            c.store.feed(pieces[static_cast<std::size_t>(i)]);
        const auto now = held(c.store);
        if (!first) {
            first = now;
            // 0..35 joined, the gap 35..40, 40..45, another gap, then the other rate.
            ASSERT_EQ(now.size(), 3u);
            EXPECT_EQ(now[0].samples.size(), 35u);
            EXPECT_DOUBLE_EQ(now[1].start, 40.0);
            EXPECT_DOUBLE_EQ(now[2].delta, 0.5);
        }
        EXPECT_EQ(now, *first) << "order " << orders;
        ++orders;
    } while (std::next_permutation(order.begin(), order.end()));
    EXPECT_EQ(orders, 720);
}

TEST(TraceStoreMerge, ALatePieceFillsItsGapAndNeverRemovesNewerSamples) {
    Clocked c;
    c.store.feed(piece(0, 10));
    c.store.feed(piece(20, 10));
    c.store.feed(piece(30, 10));
    ASSERT_EQ(c.store.segmentCount(kChannel), 2u);
    EXPECT_TRUE(c.store.feed(piece(10, 10))); // the late one, in the middle
    const auto all = held(c.store);
    ASSERT_EQ(all.size(), 1u);
    ASSERT_EQ(all[0].samples.size(), 40u);
    for (std::size_t i = 0; i < 40; ++i)
        EXPECT_FLOAT_EQ(all[0].samples[i], static_cast<float>(i));
    EXPECT_DOUBLE_EQ(at(*c.store.end(kChannel)), 40.0);
    // An old piece that reaches into held time only adds what was missing.
    c.store.feed(piece(-5, 8));
    EXPECT_EQ(held(c.store)[0].samples.size(), 45u);
    EXPECT_DOUBLE_EQ(at(*c.store.end(kChannel)), 40.0);
}

TEST(TraceStoreMerge, JoinsWithinHalfASampleOnEitherSideAndLeavesAGapBeyond) {
    struct Case {
        double second; // where a piece after 0..10 starts
        std::size_t segments;
    };
    for (const Case& k : {Case{10.0, 1}, Case{10.49, 1}, Case{9.51, 1}, Case{10.51, 2}}) {
        Clocked c;
        c.store.feed(piece(0, 10));
        c.store.feed(piece(k.second, 5));
        EXPECT_EQ(c.store.segmentCount(kChannel), k.segments) << "piece at " << k.second;
    }
    // The same from the other side: a piece that ends within half a sample of the next start.
    for (const Case& k : {Case{-10.0, 1}, Case{-10.49, 1}, Case{-10.51, 2}}) {
        Clocked c;
        c.store.feed(piece(0, 10));
        c.store.feed(piece(k.second, 10));
        EXPECT_EQ(c.store.segmentCount(kChannel), k.segments) << "piece at " << k.second;
    }
    // A join keeps the grid of what was held: the 0.4 s shift is not carried on.
    Clocked c;
    c.store.feed(piece(0, 10));
    c.store.feed(piece(10.4, 5));
    const auto one = held(c.store);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_DOUBLE_EQ(one[0].start, 0.0);
    EXPECT_EQ(one[0].samples.size(), 15u);
}

TEST(TraceStoreMerge, AnOverlapKeepsWhatIsHeldAndCountsDisagreements) {
    LogCapture log;
    Clocked c;
    c.store.feed(piece(0, 10));
    // Agrees on 5..9 and brings 10..14: nothing to report.
    EXPECT_TRUE(c.store.feed(piece(5, 10)));
    EXPECT_EQ(c.store.disagreements(kChannel), 0u);
    EXPECT_FALSE(c.store.feed(piece(2, 4))); // all held
    // Disagrees on 0..4 and brings nothing: the held samples stay, the difference is counted.
    Segment other = piece(0, 5);
    for (float& v : other.samples)
        v += 100;
    EXPECT_EQ(c.store.insert(other), TraceStore::Outcome::AlreadyHeld);
    EXPECT_EQ(c.store.disagreements(kChannel), 5u);
    EXPECT_FLOAT_EQ(held(c.store)[0].samples[0], 0.0f);
    ASSERT_EQ(log.count(QStringLiteral("5 samples of IU.ANMO.00.BHZ received again differ")), 1);
    // More within the minute: counted, not logged; after it, one line with the count since.
    c.store.insert(other);
    c.store.insert(other);
    EXPECT_EQ(c.store.disagreements(kChannel), 15u);
    EXPECT_EQ(log.lines().size(), 1);
    c.seconds += 61;
    c.store.insert(other);
    ASSERT_EQ(log.lines().size(), 2);
    EXPECT_TRUE(log.lines().back().startsWith(QStringLiteral("15 samples of")));
    // An overlap off the held grid by a fraction is compared with the nearest held sample.
    Segment shifted = piece(3, 4);
    shifted.start = civil::addSeconds(shifted.start, 0.3);
    c.store.insert(shifted);
    EXPECT_EQ(c.store.disagreements(kChannel), 20u);
}

TEST(TraceStoreMerge, ARateChangeOpensASegmentEvenWhereItAbuts) {
    Clocked c;
    c.store.feed(piece(0, 10));
    c.store.feed(piece(10, 20, 0.5));
    const auto all = held(c.store);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_DOUBLE_EQ(all[1].start, 10.0);
    EXPECT_DOUBLE_EQ(all[1].delta, 0.5);
    // A piece at the old rate over the new one's time adds nothing there.
    EXPECT_FALSE(c.store.feed(piece(10, 10)));
    EXPECT_EQ(held(c.store).size(), 2u);
    const auto holes = c.store.gaps(kChannel, kT0, civil::addSeconds(kT0, 25));
    ASSERT_EQ(holes.size(), 1u);
    EXPECT_DOUBLE_EQ(at(holes[0].from), 20.0);
}

TEST(TraceStoreMerge, SegmentsAreCutToTheSpanAskedFor) {
    Clocked c;
    c.store.feed(piece(0, 10));
    c.store.feed(piece(12, 8));
    const auto cut =
        c.store.segments(kChannel, civil::addSeconds(kT0, 3.4), civil::addSeconds(kT0, 14.6));
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[0].samples, (std::vector<float>{3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(cut[1].samples, (std::vector<float>{12, 13, 14, 15})); // half a sample each way
    EXPECT_TRUE(
        c.store.segments(kChannel, civil::addSeconds(kT0, 10.6), civil::addSeconds(kT0, 11.4))
            .empty());
    const auto holes = c.store.gaps(kChannel, kT0, civil::addSeconds(kT0, 25));
    ASSERT_EQ(holes.size(), 2u);
    EXPECT_DOUBLE_EQ(at(holes[0].from), 10.0);
    EXPECT_DOUBLE_EQ(at(holes[0].to), 12.0);
    EXPECT_DOUBLE_EQ(at(holes[1].from), 20.0);
}

TEST(TraceStoreKeep, LetsGoOfWhatIsOlderThanItsKeepBeforeNow) {
    Clocked c(100, std::chrono::seconds(60));
    c.store.feed(piece(0, 100)); // 0..39 are older than now - 60 s: never stored
    auto all = held(c.store);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_DOUBLE_EQ(all[0].start, 40.0);
    EXPECT_EQ(c.store.sampleCount(), 60u);
    c.seconds = 150; // time passes: the oldest go at the next piece
    c.store.feed(piece(100, 10));
    all = held(c.store);
    EXPECT_DOUBLE_EQ(all[0].start, 90.0);
    EXPECT_EQ(c.store.sampleCount(kChannel), 20u);
    // Another channel's piece sweeps this one too (once a second at most).
    const ChannelId other{QStringLiteral("IU"), QStringLiteral("COLA"), QStringLiteral("00"),
                          QStringLiteral("BHZ")};
    c.seconds = 175;
    c.store.feed(piece(170, 2, 1.0, other));
    EXPECT_FALSE(c.store.end(kChannel)); // 90..110 is now all older than 115
    EXPECT_EQ(c.store.sampleCount(), 2u);
    c.store.forget(other);
    EXPECT_EQ(c.store.sampleCount(), 0u);
}

TEST(TraceStoreRefusals, APieceThatCannotBeRightChangesNothing) {
    struct Case {
        const char* what;
        Segment piece;
        const char* why;
    };
    auto stamped = [](int year) {
        Segment s = piece(0, 100);
        s.start = civil::dateOf(year, 1, 1, 0, 0, 0);
        return s;
    };
    Segment slow = piece(2000, 10);
    slow.delta = 1e6; // 1e-6 samples/s
    Segment fast = piece(2000, 10);
    fast.delta = 1e-5; // 100 000 samples/s
    Segment endless = piece(2990, 10);
    endless.delta = 100; // starts in the past, ends 16 minutes from now
    const Case cases[] = {
        {"stamped 2200", stamped(2200), "more than 300 s after now"},
        {"stamped 1900", stamped(1900), "before the oldest time kept"},
        {"1e-6 samples/s", slow, "is not plausible"},
        {"1e5 samples/s", fast, "is not plausible"},
        {"ending far ahead", endless, "after now"},
    };
    for (const Case& k : cases) {
        LogCapture log;
        Clocked c;
        c.store.feed(piece(2000, 900));
        const auto before = held(c.store);
        EXPECT_EQ(c.store.insert(k.piece), TraceStore::Outcome::Refused) << k.what;
        EXPECT_EQ(held(c.store), before) << k.what;
        ASSERT_EQ(log.lines().size(), 1) << k.what;
        EXPECT_TRUE(
            log.lines()[0].startsWith(QStringLiteral("Samples of IU.ANMO.00.BHZ refused: ")));
        EXPECT_TRUE(log.lines()[0].contains(QLatin1StringView(k.why)))
            << log.lines()[0].toStdString();
        // Repeats within the minute are not logged again.
        c.store.insert(k.piece);
        EXPECT_EQ(log.lines().size(), 1) << k.what;
    }
    // A clock a minute ahead of ours: its samples are kept, where they belong.
    Clocked c;
    c.store.feed(piece(2900, 100));
    EXPECT_TRUE(c.store.feed(piece(3000, 60)));
    EXPECT_DOUBLE_EQ(at(*c.store.end(kChannel)), 3060.0);
    EXPECT_EQ(c.store.segmentCount(kChannel), 1u);
}

TEST(TraceStoreBudget, AChannelKeepsOnlyItsNewestSamplesWithinTheBudget) {
    Clocked c(100000, std::chrono::hours(48));
    TraceStore::Limits limits;
    limits.channelSamples = 1000;
    limits.totalSamples = 1500;
    c.store.setLimits(limits);
    // A channel claiming 10 kHz: an hour of it would be 36 million samples.
    for (int s = 0; s < 10; ++s)
        c.store.feed(piece(90000 + s * 0.04, 400, 1e-4));
    EXPECT_EQ(c.store.sampleCount(kChannel), 1000u);
    EXPECT_FALSE(c.store.feed(piece(95000, 1001, 1e-4))); // larger than a channel may hold
    // The total: a second channel pushes the first over the store's bound; the one fed gives way.
    const ChannelId other{QStringLiteral("IU"), QStringLiteral("COLA"), QStringLiteral("00"),
                          QStringLiteral("BHZ")};
    c.store.feed(piece(99000, 800, 1.0, other));
    EXPECT_LE(c.store.sampleCount(), 1500u);
    EXPECT_EQ(c.store.sampleCount(kChannel), 1000u);
    EXPECT_EQ(c.store.sampleCount(other), 500u);
    EXPECT_DOUBLE_EQ(at(*c.store.end(other)), 99800.0); // the newest kept
}

TEST(TraceStoreThreads, ReadsWhileFeedingSeeWholePieces) {
    Clocked c(100000, std::chrono::hours(48));
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            for (const Segment& s : c.store.segments(kChannel, kT0, civil::addSeconds(kT0, 1e6)))
                ASSERT_EQ(s.samples.size() % 10, 0u);
            (void)c.store.gaps(kChannel, kT0, civil::addSeconds(kT0, 1e5));
        }
    });
    // Every other piece first, then the rest: joins at both ends while the reader reads.
    for (int pass = 0; pass < 2; ++pass)
        for (int i = pass; i < 400; i += 2)
            c.store.feed(piece(i * 10.0, 10));
    done = true;
    reader.join();
    EXPECT_EQ(c.store.segmentCount(kChannel), 1u);
    EXPECT_EQ(c.store.sampleCount(kChannel), 4000u);
}

TEST(TraceStoreMerge, TheSameCountsRoundedDifferentlyAgreeAndOneCountOffDoesNot) {
    LogCapture log;
    Clocked c;
    Segment floats = piece(0, 10);
    for (std::size_t i = 0; i < floats.samples.size(); ++i)
        floats.samples[i] = 1000.0f + static_cast<float>(i) + 0.4f; // a service's floats
    c.store.feed(floats);
    Segment counts = piece(0, 10);
    for (std::size_t i = 0; i < counts.samples.size(); ++i)
        counts.samples[i] = 1000.0f + static_cast<float>(i); // the stream's integers
    c.store.insert(counts);
    EXPECT_EQ(c.store.disagreements(kChannel), 0u);
    EXPECT_TRUE(log.lines().isEmpty());
    for (float& v : counts.samples)
        v -= 1.0f;
    c.store.insert(counts);
    EXPECT_EQ(c.store.disagreements(kChannel), 10u);
}
