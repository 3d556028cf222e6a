// The streamed monitor's rows as they are drawn: a SeedLink server on 127.0.0.1 streams a sine
// of known frequency, record by record, and the session's frames are read as the view would
// read them. Causal rows keep the sine's amplitude up to the newest sample, start again after a
// gap, and follow each arrival with one frame; the whole-window choice draws what it always did.
#include "LogCapture.h"
#include "acquisition/LiveRows.h"
#include "acquisition/MonitorSession.h"
#include "base/DateText.h"
#include "components/sac/SacObject.h"
#include "store/TraceStore.h"

#include "DemoSeedLink.h"

#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <numbers>

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kHz = 0.5;   // well inside the band below
constexpr double kRate = 20;  // samples per second
constexpr double kCounts = 1000;

ChannelTable anmo() {
    ChannelTable t;
    t.networks << QStringLiteral("IU");
    t.stations << QStringLiteral("ANMO");
    t.channels << QStringLiteral("BHZ");
    t.locations << QStringLiteral("00");
    t.labels << QStringLiteral("ANMO");
    return t;
}

ProcessingOptions band() {
    ProcessingOptions o;
    o.broadband.filter = true;
    o.broadband.lowPassCorner = 4;
    o.broadband.highPassCorner = 0.05f;
    return o;
}

demo::SeedLinkServer::Options sine(double recordSeconds) {
    demo::SeedLinkServer::Options o;
    o.recordSeconds = recordSeconds;
    o.backlog = std::chrono::seconds(120);
    o.encoding = 4; // 32-bit floats: the sine as it is
    o.channels = {"BHZ"};
    o.only = {"IU.ANMO"};
    o.rate = kRate;
    o.signal = [](demo::Date d) {
        const double t = std::fmod(
            std::chrono::duration<double>(d.time_since_epoch()).count(), 1000.0);
        return static_cast<float>(kCounts * std::sin(2 * std::numbers::pi * kHz * t));
    };
    return o;
}

// The amplitude of the sine through sample k and the one before it.
double amplitudeAt(std::span<const float> x, std::size_t k, double delta) {
    const double w = 2 * std::numbers::pi * kHz * delta;
    const double a = x[k], b = x[k - 1];
    return std::sqrt((a * a + b * b - 2 * a * b * std::cos(w)) / (std::sin(w) * std::sin(w)));
}

struct Stream {
    explicit Stream(MonitorSession::LiveProcessing live, double recordSeconds = 1.0,
                    std::optional<double> dropAfter = {})
        : server(std::chrono::system_clock::now(), {}, [&] {
              auto o = sine(recordSeconds);
              o.dropAfter = dropAfter;
              return o;
          }()) {
        EXPECT_TRUE(server.start(0));
        // A service that answers nothing: the stream brings the whole window, from its start.
        s.timeSeries().setServiceBase(QStringLiteral("http://127.0.0.1:1"));
        s.setChannels(anmo(), QStringLiteral("Live"));
        s.setOptions(band(), true);
        s.setLiveProcessing(live);
        s.setSource(MonitorSession::Source::SeedLink,
                    QStringLiteral("127.0.0.1:%1").arg(server.port()));
        QObject::connect(&s, &MonitorSession::frameReady,
                         [this](std::shared_ptr<const SessionFrame> f) {
                             frames.push_back({Clock::now(), streamed, f});
                         });
        QObject::connect(&s, &MonitorSession::segmentStreamed, [this](const Segment&) {
            ++streamed;
            arrivals.push_back(Clock::now());
        });
        s.startMonitoring(1);
        s.retrieve(s.monitorWindow(datetext::now()), QStringLiteral("Live"));
    }
    ~Stream() { s.stopMonitoring(); }

    // The row's pieces in the newest frame that brought any.
    std::vector<const SacObject*> pieces() const {
        for (auto f = frames.rbegin(); f != frames.rend(); ++f)
            if (f->frame->result && !f->frame->result->traces.empty()) {
                std::vector<const SacObject*> out;
                for (const CycleTrace& t : f->frame->result->traces)
                    out.push_back(t.seismogram.get());
                return out;
            }
        return {};
    }
    // Seconds the newest drawn sample lies behind the newest stored one.
    double lagBehindStore() {
        const auto p = pieces();
        const auto end = s.store().end({"IU", "ANMO", "00", "BHZ"});
        if (p.empty() || !end)
            return 1e9;
        const SacObject& last = *p.back();
        const Time drawnEnd = civil::addSeconds(
            last.startTime(), static_cast<double>(last.samples().size() - 1) * last.delta());
        return civil::secondsBetween(drawnEnd, *end);
    }
    bool drawnSeconds(double seconds) const {
        const auto p = pieces();
        return !p.empty() &&
               static_cast<double>(p.back()->samples().size()) * p.back()->delta() >= seconds;
    }

    struct Seen {
        Clock::time_point at;
        int streamedBefore = 0;
        std::shared_ptr<const SessionFrame> frame;
    };
    demo::SeedLinkServer server;
    LogCapture log;
    MonitorSession s;
    std::vector<Seen> frames;
    std::vector<Clock::time_point> arrivals;
    int streamed = 0;
};

// The newest sample against one half a minute earlier: the same sine, the same amplitude, when
// each record goes through the causal chain; the window chain's taper takes the newest away.
TEST(LiveSession, TheNewestSampleKeepsItsAmplitudeOnlyWhenCausal) {
    for (const auto live :
         {MonitorSession::LiveProcessing::Causal, MonitorSession::LiveProcessing::Window}) {
        const bool causal = live == MonitorSession::LiveProcessing::Causal;
        SCOPED_TRACE(causal ? "causal" : "window");
        Stream stream(live);
        // The window chain draws up to the whole second before its frame.
        const double lag = causal ? 0.2 : 1.2;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return stream.drawnSeconds(50) && stream.lagBehindStore() < lag; }, 20000));
        const auto pieces = stream.pieces();
        ASSERT_EQ(pieces.size(), 1u);
        const SacObject& row = *pieces.back();
        const auto x = row.samples();
        const std::size_t n = x.size();
        const auto back = static_cast<std::size_t>(30 * kRate);
        const double earlier = amplitudeAt(x, n - 1 - back, row.delta());
        ASSERT_GT(earlier, 0.5);
        for (const std::size_t k : {n - 1, n - 2, n - 10}) {
            const double ratio = amplitudeAt(x, k, row.delta()) / earlier;
            if (causal)
                EXPECT_NEAR(ratio, 1.0, 0.01) << k;
            else
                EXPECT_LT(ratio, 0.5) << k;
        }
    }
}

// A record the server never sent: the row shows the hole, and the chain begins again after it
// (a new piece, its first sample near zero as a fresh start makes it).
TEST(LiveSession, AGapStartsANewPieceAndStaysAGap) {
    Stream stream(MonitorSession::LiveProcessing::Causal, 1.0, 2.0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto p = stream.pieces();
            return p.size() == 2 &&
                   static_cast<double>(p.back()->samples().size()) * p.back()->delta() >= 3;
        },
        20000));
    const auto pieces = stream.pieces();
    const SacObject& before = *pieces[0];
    const SacObject& after = *pieces[1];
    const Time beforeEnd = civil::addSeconds(
        before.startTime(), static_cast<double>(before.samples().size()) * before.delta());
    const double hole = civil::secondsBetween(beforeEnd, after.startTime());
    EXPECT_NEAR(hole, 1.0, 0.06); // one record of one second
    const auto y = after.samples();
    const float peak = *std::max_element(y.begin(), y.end(), [](float a, float b) {
        return std::abs(a) < std::abs(b);
    });
    EXPECT_LT(std::abs(y[0]), 0.05 * std::abs(peak));
}

// Records that arrive together make one frame; a record alone makes its own, soon, without
// waiting for another.
TEST(LiveSession, FramesFollowArrivalsAndGatherABurstIntoOne) {
    // Records of 0.7 s: out of step with the window's once-a-second scrolling.
    Stream stream(MonitorSession::LiveProcessing::Causal, 0.7);
    // The backlog of a minute arrives at once: one frame draws all of it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return stream.drawnSeconds(50); }, 20000));
    int dataFrames = 0;
    for (const auto& f : stream.frames)
        if (f.frame->result && !f.frame->result->traces.empty())
            ++dataFrames;
    EXPECT_LE(dataFrames, 2);
    // Then one record at a time: each is drawn before the next arrives, by a frame of its own.
    const int from = stream.streamed;
    ASSERT_TRUE(QTest::qWaitFor([&] { return stream.streamed >= from + 5; }, 10000));
    QTest::qWait(400);
    for (std::size_t a = stream.arrivals.size() - 5; a < stream.arrivals.size(); ++a) {
        const auto arrived = stream.arrivals[a];
        const auto drawn = std::find_if(stream.frames.begin(), stream.frames.end(),
                                        [&](const Stream::Seen& f) {
                                            return f.at >= arrived && f.frame->result &&
                                                   !f.frame->result->traces.empty();
                                        });
        ASSERT_NE(drawn, stream.frames.end()) << a;
        EXPECT_LT(drawn->at - arrived, std::chrono::milliseconds(300)) << a;
        EXPECT_EQ(drawn->streamedBefore, static_cast<int>(a) + 1) << a;
    }
}

// The rows themselves, fed by hand: what the chains make of the store's samples.
class Rows : public ::testing::Test {
public:
    const ChannelId ch{"IU", "ANMO", "00", "BHZ"};
    const Time t0 = civil::addSeconds(datetext::now(), -1520);
    TraceStore store{std::chrono::hours(2)};
    LiveRows rows{store};

    Rows() { rows.reset(anmo(), band()); }
    // Samples [from, to) of the sine at 20 samples/s, `scale` times its amplitude.
    Segment piece(std::size_t from, std::size_t to, float scale = 1) const {
        Segment s{ch, civil::addSeconds(t0, static_cast<double>(from) / kRate), 1 / kRate, {}};
        for (std::size_t i = from; i < to; ++i)
            s.samples.push_back(scale * static_cast<float>(kCounts * std::sin(
                                            2 * std::numbers::pi * kHz * static_cast<double>(i) /
                                            kRate)));
        return s;
    }
    // What the session does with a streamed piece.
    void stream(const Segment& s) {
        const auto before = store.revision(ch);
        if (store.feed(s))
            rows.push(0, s, before);
    }
    std::shared_ptr<CycleResult> frame(double fromSeconds = 0) {
        return rows.frame(civil::addSeconds(t0, fromSeconds), datetext::now());
    }
};

// A hole filled after the chain went past it: the row runs again from the store, one piece
// without a gap, as if it had come in order.
TEST_F(Rows, AHoleFilledBehindTheNewestSampleIsDrawnAsIfItCameInOrder) {
    stream(piece(0, 400));
    frame();
    stream(piece(420, 800));
    auto gapped = frame();
    EXPECT_EQ(gapped->traces.size(), 2u);
    stream(piece(400, 420));
    auto whole = frame();
    ASSERT_EQ(whole->traces.size(), 1u);

    LiveRows fresh{store};
    fresh.reset(anmo(), band());
    auto once = fresh.frame(t0, datetext::now());
    ASSERT_EQ(once->traces.size(), 1u);
    const auto a = whole->traces[0].seismogram->samples();
    const auto b = once->traces[0].seismogram->samples();
    ASSERT_EQ(a.size(), 800u);
    EXPECT_TRUE(std::equal(a.begin(), a.end(), b.begin(), b.end()));
}

// A frame carries only the rows that changed; the rest are kept as the view holds them.
TEST_F(Rows, OnlyChangedRowsAreMadeAgain) {
    stream(piece(0, 400));
    auto first = frame();
    EXPECT_EQ(first->traces.size(), 1u);
    EXPECT_TRUE(first->kept.empty());
    auto idle = frame();
    EXPECT_TRUE(idle->traces.empty());
    EXPECT_EQ(idle->kept, std::vector<int>{0});
    stream(piece(400, 420));
    auto next = frame();
    ASSERT_EQ(next->traces.size(), 1u);
    EXPECT_EQ(next->traces[0].seismogram->samples().size(), 420u);
}

// The window's left edge lets old output go, and the scale is that of what is left: a loud
// stretch that has left the window no longer shrinks the rest.
TEST_F(Rows, WhatLeavesTheWindowLeavesTheRowAndItsScale) {
    stream(piece(0, 6000, 10));
    stream(piece(6000, 30000));
    frame();
    stream(piece(30000, 30020));
    auto late = frame(350); // the loud first 300 s and a settling margin are gone
    ASSERT_EQ(late->traces.size(), 1u);
    const SacObject& row = *late->traces[0].seismogram;
    EXPECT_LE(std::abs(civil::secondsBetween(civil::addSeconds(t0, 350), row.startTime())),
              1 / kRate);
    const auto x = row.samples();
    double sum = 0;
    for (const float v : x)
        sum += double(v) * v;
    EXPECT_NEAR(std::sqrt(sum / static_cast<double>(x.size())), 1.0, 1e-3);
    EXPECT_NEAR(amplitudeAt(x, x.size() - 1, row.delta()), std::sqrt(2.0), 0.02);
}

} // namespace

// The log tells a server that was never reached from one whose stream broke off.
TEST(LiveSession, AServerNeverReachedIsNotALostConnection) {
    int port = 0;
    {
        demo::SeedLinkServer gone(std::chrono::system_clock::now(), {}, sine(1.0));
        ASSERT_TRUE(gone.start(0));
        port = gone.port();
    } // nothing listens there now
    const QString address = QStringLiteral("127.0.0.1:%1").arg(port);
    LogCapture log;
    MonitorSession s;
    s.seedLink().setBackoff(std::chrono::milliseconds(50), std::chrono::milliseconds(200));
    s.timeSeries().setServiceBase(QStringLiteral("http://127.0.0.1:1"));
    s.setChannels(anmo(), QStringLiteral("Live"));
    s.setSource(MonitorSession::Source::SeedLink, address);
    s.startMonitoring(1);
    s.retrieve(s.monitorWindow(datetext::now()), QStringLiteral("Live"));
    const QString unreached = "SeedLink: could not reach " + address + " (";
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.count(unreached) == 1; }, 10000));
    {
        demo::SeedLinkServer server(std::chrono::system_clock::now(), {}, sine(1.0));
        ASSERT_TRUE(server.start(port));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return log.count("SeedLink: streaming from " + address + ".") == 1; }, 10000));
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return log.count("SeedLink: lost the connection to " + address + " (") == 1; },
        10000));
    // The attempts that follow, every 50 to 200 ms, add nothing until the link changes.
    QTest::qWait(600);
    EXPECT_EQ(log.count(unreached), 1);
    EXPECT_EQ(log.count("SeedLink: lost the connection"), 1);
    s.stopMonitoring();
}
