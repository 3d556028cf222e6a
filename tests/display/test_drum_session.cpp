// The helicorder's session without a window: hourly pieces cut at whole hours, a longer span
// asking only for what it lacks, the blocks and one scale handed out, a streamed piece taken,
// the drum moving on by a row, the earthquakes marked with their predicted P, and a failed fill
// or a hole asked again without losing the filter margin.
#include "SeismogramServer.h"
#include "acquisition/TimeSeriesSource.h"
#include "base/DateText.h"
#include "channels/StationPlaces.h"
#include "display/DrumSession.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <optional>

namespace {

const ChannelId kChannel{QStringLiteral("IU"), QStringLiteral("ANMO"), QStringLiteral("00"),
                         QStringLiteral("BHZ")};

double epoch(Time t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

// The window of each time-series request, in seconds since the epoch.
std::vector<std::pair<double, double>> windows(const SeismogramServer& server) {
    std::vector<std::pair<double, double>> out;
    for (const std::string& target : server.seismogramTargets()) {
        auto value = [&](const char* key) {
            const auto at = target.find(std::string(key) + "=");
            return epoch(*datetext::parseCatalogTime(
                QString::fromStdString(target.substr(at + std::strlen(key) + 1, 19))));
        };
        out.emplace_back(value("start"), value("end"));
    }
    return out;
}

class DrumSessionTest : public ::testing::Test {
protected:
    SeismogramServer server;
    TimeSeriesSource source;
    StationPlaces places;
    DrumSession drum{source, places};
    ProcessingOptions options;
    const Time now = datetext::now();

    void SetUp() override {
        server.stationSiteBody =
            "#Network|Station|Latitude|Longitude|Elevation|SiteName|StartTime|EndTime\n"
            "IU|ANMO|34.9|-106.5|1820|Albuquerque|1989-08-29T00:00:00|\n";
        server.start();
        source.setServiceBase(server.baseUrl());
        source.setMode(TimeSeriesSource::Mode::Inline);
        places.setInline(true);
        drum.setInline(true);
        drum.setStationService(server.baseUrl(), {});
        options.broadband = {.filter = true, .lowPassCorner = 2.0f, .highPassCorner = 0.05f};
    }
};

} // namespace

TEST_F(DrumSessionTest,
       FillsInHourlyPiecesHandsOutBlocksOnOneScaleAndALongerSpanAsksOnlyWhatItLacks) {
    QSignalSpy blocks(&drum, &DrumSession::blockReady);
    QSignalSpy scales(&drum, &DrumSession::scaleChanged);
    QSignalSpy rows(&drum, &DrumSession::rowsChanged);
    drum.start(kChannel, 6, 30, options, now);
    ASSERT_TRUE(drum.settled());
    const auto asked = windows(server);
    ASSERT_EQ(asked.size(), 7u); // six hours and the first block's margin, cut at whole hours
    for (std::size_t i = 1; i < asked.size(); ++i) {
        EXPECT_EQ(std::fmod(asked[i].first, 3600.0), 0.0) << i;
        EXPECT_EQ(asked[i].first, asked[i - 1].second) << i; // no gap, no overlap
    }
    EXPECT_EQ(asked.front().first, epoch(drum.rows().first) - 1200);
    EXPECT_EQ(drum.rows().count, 12);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_TRUE(rows[0][1].toString().startsWith(u"IU.ANMO.00.BHZ   "));
    EXPECT_GE(blocks.size(), 6);
    ASSERT_FALSE(scales.isEmpty());
    EXPECT_GT(scales.back()[0].toDouble(), 0);
    EXPECT_TRUE(drum.status().startsWith(u"IU.ANMO.00.BHZ: 12 rows of 30 min; data up to "));

    // Twelve hours: only the six older ones (and what came since) are asked for.
    drum.start(kChannel, 12, 30, options, now);
    ASSERT_TRUE(drum.settled());
    const auto all = windows(server);
    double older = 0;
    for (std::size_t i = asked.size(); i < all.size(); ++i) {
        EXPECT_TRUE(all[i].second <= asked.front().first || all[i].first >= asked.back().second - 1)
            << i;
        if (all[i].second <= asked.front().first)
            older += all[i].second - all[i].first;
    }
    EXPECT_NEAR(older, 6 * 3600.0, 1.0);
}

TEST_F(DrumSessionTest, AStreamedPieceIsDrawnAndTheDrumMovesOnByARow) {
    drum.start(kChannel, 2, 10, options, now);
    ASSERT_TRUE(drum.settled());
    const auto end = drum.store().end(kChannel);
    ASSERT_TRUE(end);
    QSignalSpy blocks(&drum, &DrumSession::blockReady);
    Segment piece{kChannel, *end, 0.025, std::vector<float>(400, 1.0f)};
    for (std::size_t i = 0; i < piece.samples.size(); ++i)
        piece.samples[i] = static_cast<float>(std::sin(0.1 * static_cast<double>(i)));
    drum.streamed(piece);
    EXPECT_EQ(*drum.store().end(kChannel), piece.end());
    EXPECT_FALSE(blocks.isEmpty()); // the newest block, drawn again
    // Another channel's piece is not the drum's.
    const std::size_t held = drum.store().sampleCount();
    drum.streamed({ChannelId{"IU", "COLA", "00", "BHZ"}, piece.end(), 0.025, piece.samples});
    EXPECT_EQ(drum.store().sampleCount(), held);

    QSignalSpy rows(&drum, &DrumSession::rowsChanged);
    QSignalSpy dropped(&drum, &DrumSession::blocksDroppedBefore);
    drum.refresh(civil::addSeconds(now, 600));
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(drum.rows().first, civil::addSeconds(DrumRows::ending(now, 2, 10).first, 600));
    EXPECT_EQ(dropped.size(), 1);
}

TEST_F(DrumSessionTest, EarthquakesAreMarkedWithTheirPredictedFirstP) {
    SeismicOrigin quake;
    quake.originTime = civil::addSeconds(now, -3600);
    quake.latitude = 10;
    quake.longitude = 20;
    quake.depthKm = 33;
    quake.mag = 5.04;
    SeismicOrigin tooOld = quake;
    tooOld.originTime = civil::addSeconds(now, -6 * 3600);
    drum.setOrigins({quake, tooOld}, QStringLiteral("iasp91"));
    drum.start(kChannel, 3, 30, options, now);
    ASSERT_TRUE(drum.settled());
    const auto& marks = drum.marks();
    ASSERT_EQ(marks.size(), 2u); // the old one lies before the drum
    EXPECT_EQ(marks[0].label, u"M5.0");
    EXPECT_TRUE(marks[0].origin);
    EXPECT_EQ(marks[1].label, u"Pdiff"); // about 116 degrees from Albuquerque
    EXPECT_FALSE(marks[1].origin);
    EXPECT_GT(civil::secondsBetween(marks[0].when, marks[1].when), 800);
    // A depth the times cannot use: the origin, no arrival.
    quake.depthKm = 9999;
    drum.setOrigins({quake}, QStringLiteral("iasp91"));
    EXPECT_EQ(drum.marks().size(), 1u);
}

// A fill that failed outright is asked again at the next refresh, from the same filter margin
// before the first row: otherwise the drum's top would carry the filter's start-up.
TEST_F(DrumSessionTest, AFillThatFailedIsAskedAgainWithItsMargin) {
    SeismogramServer failing;
    std::atomic<bool> fail{true};
    failing.tweakAnswer = [&fail](const std::string&, int, SeismogramServer::Answer& a) {
        a.fail = fail.load();
    };
    failing.start();
    source.setServiceBase(failing.baseUrl());
    drum.start(kChannel, 2, 10, options, now);
    ASSERT_TRUE(drum.settled());
    ASSERT_FALSE(drum.store().end(kChannel));
    const std::size_t failed = windows(failing).size();
    ASSERT_GT(failed, 0u);
    fail = false;
    drum.refresh(now);
    ASSERT_TRUE(drum.settled());
    const auto asked = windows(failing);
    ASSERT_GT(asked.size(), failed);
    EXPECT_EQ(asked[failed].first, epoch(drum.rows().first) - 1200);
    ASSERT_TRUE(drum.store().end(kChannel));
}

// A hole filled later changes the filter margin of the block after it: that block is drawn
// again, and the drum then shows what it would have shown had the hole never been. At 40 minutes
// past an hour, a three-hour drum asks the hour before last second; that answer starts only ten
// minutes before its end, and the refresh asks again the part of the hole within its reach,
// which ends inside the next block's margin but short of the block itself. That block is
// neither the newest nor within the margin of the tail asked on refresh.
TEST_F(DrumSessionTest, AHoleFilledLaterRedrawsTheBlockAfterIt) {
    SeismogramServer holey;
    holey.tweakAnswer = [](const std::string&, int number, SeismogramServer::Answer& a) {
        if (number == 2)
            a.shiftSeconds = 3000;
    };
    holey.start();
    source.setServiceBase(holey.baseUrl());
    const double hour = std::floor((epoch(now) - 2400) / 3600) * 3600;
    const Time at = civil::addSeconds(Time{}, hour + 2400);
    drum.start(kChannel, 3, 10, options, at);
    ASSERT_TRUE(drum.settled());
    const auto firstFill = windows(holey);
    ASSERT_GE(firstFill.size(), 3u);
    const double nextBlock = firstFill[1].second;
    ASSERT_EQ(nextBlock, hour - 3600);

    QSignalSpy blocks(&drum, &DrumSession::blockReady);
    drum.refresh(at); // asks the recent hours' holes again
    ASSERT_TRUE(drum.settled());
    const auto refill = windows(holey);
    ASSERT_GT(refill.size(), firstFill.size());
    EXPECT_EQ(refill[firstFill.size()], std::make_pair(nextBlock - 1200, nextBlock - 600));
    using Runs = std::vector<std::shared_ptr<const Segment>>;
    std::optional<Runs> redrawn;
    for (const QList<QVariant>& b : blocks)
        if (epoch(b[0].value<Time>()) == nextBlock)
            redrawn = b[2].value<Runs>();
    ASSERT_TRUE(redrawn) << "the block after the hole was not drawn again";

    // The same drum over a record without the hole.
    DrumSession whole{source, places};
    whole.setInline(true);
    whole.setStationService(holey.baseUrl(), {});
    QSignalSpy wholeBlocks(&whole, &DrumSession::blockReady);
    whole.start(kChannel, 3, 10, options, at);
    ASSERT_TRUE(whole.settled());
    std::optional<Runs> expected;
    for (const QList<QVariant>& b : wholeBlocks)
        if (epoch(b[0].value<Time>()) == nextBlock)
            expected = b[2].value<Runs>();
    ASSERT_TRUE(expected);
    ASSERT_EQ(redrawn->size(), expected->size());
    for (std::size_t r = 0; r < expected->size(); ++r) {
        const Segment& got = *(*redrawn)[r];
        const Segment& want = *(*expected)[r];
        ASSERT_EQ(got.samples.size(), want.samples.size()) << r;
        float worst = 0, peak = 0;
        for (std::size_t i = 0; i < want.samples.size(); ++i) {
            worst = std::max(worst, std::abs(got.samples[i] - want.samples[i]));
            peak = std::max(peak, std::abs(want.samples[i]));
        }
        EXPECT_LT(worst, 1e-3f * peak) << r;
    }
}
