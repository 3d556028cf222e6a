// The seismogram window's session, without windows: every transition between the monitor, an
// earthquake's window and a typed one, with the web service and with the SeedLink stream, checked
// by what is asked of real servers and what frame comes back (window, title, zoom).
#include "LogCapture.h"
#include "QtPrinters.h"
#include "SeismogramServer.h"
#include "acquisition/MonitorSession.h"
#include "acquisition/SeedLinkSource.h"
#include "base/DateText.h"
#include "store/TraceStore.h"

#include "DemoSeedLink.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <functional>

namespace {

const QString kListTitle = QStringLiteral("Global list");

ChannelTable table(const QStringList& stations) {
    ChannelTable t;
    for (const QString& s : stations) {
        t.networks << QStringLiteral("IU");
        t.stations << s;
        t.channels << QStringLiteral("BHZ");
        t.locations << QStringLiteral("00");
        t.labels << s;
    }
    return t;
}

SeismicOrigin tonga() {
    SeismicOrigin o;
    o.eventId = QStringLiteral("ev1");
    static const Time when = civil::addSeconds(datetext::now(), -3 * 3600.0);
    o.originTime = when;
    o.latitude = -21.2;
    o.longitude = -175.2;
    o.mag = 7.0;
    o.feRegion = QStringLiteral("Tonga Islands");
    return o;
}

// The seconds each time-series request asked for, in order.
std::vector<double> spans(const std::vector<std::string>& targets) {
    std::vector<double> out;
    for (const std::string& t : targets) {
        const QUrlQuery q(QUrl(QString::fromStdString(t)).query());
        const QDateTime s = QDateTime::fromString(q.queryItemValue("start"), Qt::ISODateWithMs);
        const QDateTime e = QDateTime::fromString(q.queryItemValue("end"), Qt::ISODateWithMs);
        out.push_back(s.isValid() && e.isValid() ? s.msecsTo(e) / 1000.0 : -1);
    }
    return out;
}

class Session : public ::testing::Test {
public:
    SeismogramServer http;
    MonitorSession s;
    LogCapture log;
    std::vector<std::shared_ptr<const SessionFrame>> frames;

    Session() {
        http.start();
        s.timeSeries().setServiceBase(http.baseUrl());
        s.setInline(true);
        s.setChannels(table({"ANMO", "COLA"}), kListTitle);
        QObject::connect(&s, &MonitorSession::frameReady,
                         [this](std::shared_ptr<const SessionFrame> f) { frames.push_back(f); });
    }
    // What a tick or the Start button does: the monitor's window up to now, retrieved.
    void tick() { s.retrieve(s.monitorWindow(datetext::now()), QStringLiteral("typed title")); }
    void showEarthquake() {
        const SeismicOrigin o = tonga();
        s.stopMonitoring();
        s.retrieve(s.earthquakeWindow(o, 20), MonitorSession::earthquakeTitle(o));
    }
    void showTyped(const char* start, const char* end) {
        s.retrieve(s.windowOf(start, end, datetext::now(), false), QStringLiteral("My window"));
    }
    // The frame of the last retrieval that brought traces.
    const SessionFrame& last() {
        for (auto f = frames.rbegin(); f != frames.rend(); ++f)
            if ((*f)->result)
                return **f;
        static const SessionFrame none;
        ADD_FAILURE() << "no frame with traces";
        return none;
    }
};

// Each row: a state reached, one command, then what was asked of the service (one request per
// channel of so many seconds) and the frame that came back.
TEST_F(Session, EveryTransitionAsksForItsWholeWindowAndTitlesAndZoomsAsItsMode) {
    struct Row {
        const char* what;
        std::function<void(Session&)> before, command;
        double seconds; // of every request the command made; 0: it asked for a tail only
        WindowRequest::Mode mode;
        QString title;
        bool resetZoom;
    };
    const QString quake = MonitorSession::earthquakeTitle(tonga());
    const Row rows[] = {
        {"start", [](Session&) {},
         [](Session& t) {
             t.s.startMonitoring(10);
             t.tick();
         },
         600, WindowRequest::Mode::Monitor, kListTitle, true},
        {"a later tick asks only for the tail",
         [](Session& t) {
             t.s.startMonitoring(10);
             t.tick();
         },
         [](Session& t) { t.tick(); }, 0, WindowRequest::Mode::Monitor, kListTitle, false},
        {"a longer monitor window is asked for whole at once",
         [](Session& t) {
             t.s.startMonitoring(10);
             t.tick();
         },
         [](Session& t) {
             t.s.setMinutes(30);
             t.tick();
         },
         1800, WindowRequest::Mode::Monitor, kListTitle, true},
        {"a shorter one too, and it is the window drawn",
         [](Session& t) {
             t.s.startMonitoring(30);
             t.tick();
         },
         [](Session& t) {
             t.s.setMinutes(10);
             t.tick();
         },
         0, WindowRequest::Mode::Monitor, kListTitle, true},
        {"earthquake, then Start: the whole monitor window, the list's title, unzoomed",
         [](Session& t) {
             t.s.startMonitoring(10);
             t.tick();
             t.showEarthquake();
         },
         [](Session& t) {
             t.s.startMonitoring(10);
             t.tick();
         },
         600, WindowRequest::Mode::Monitor, kListTitle, true},
        {"monitor, then an earthquake",
         [](Session& t) {
             t.s.startMonitoring(10);
             t.tick();
         },
         [](Session& t) { t.showEarthquake(); }, 1200, WindowRequest::Mode::Earthquake, quake,
         true},
        {"the same earthquake again keeps the zoom", [](Session& t) { t.showEarthquake(); },
         [](Session& t) { t.showEarthquake(); }, 1200, WindowRequest::Mode::Earthquake, quake,
         false},
        {"a typed window after an earthquake", [](Session& t) { t.showEarthquake(); },
         [](Session& t) { t.showTyped("2012-06-15T10:00:00.0000Z", "2012-06-15T10:02:00.0000Z"); },
         120, WindowRequest::Mode::Typed, QStringLiteral("My window"), true},
        {"typed, then Start",
         [](Session& t) { t.showTyped("2012-06-15T10:00:00.0000Z", "2012-06-15T10:02:00.0000Z"); },
         [](Session& t) {
             t.s.startMonitoring(5);
             t.tick();
         },
         300, WindowRequest::Mode::Monitor, kListTitle, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Session& t = *this;
        t.s.stopMonitoring();
        t.s.setChannels(table({"ANMO", "COLA"}), kListTitle); // afresh: the next window whole
        for (const QString& sta : {QStringLiteral("ANMO"), QStringLiteral("COLA")})
            t.s.store().forget({"IU", sta, "00", "BHZ"});
        row.before(t);
        const std::size_t asked = http.seismogramTargets().size();
        frames.clear();
        row.command(t);
        const std::vector<double> made = spans(http.seismogramTargets());
        ASSERT_EQ(made.size(), asked + 2);
        for (std::size_t i = asked; i < made.size(); ++i) {
            if (row.seconds > 0)
                EXPECT_NEAR(made[i], row.seconds, 1.0);
            else
                EXPECT_LT(made[i], 60.0); // the tail since the last tick
        }
        const SessionFrame& f = last();
        EXPECT_EQ(f.window.mode, row.mode);
        EXPECT_EQ(f.title, row.title);
        EXPECT_EQ(f.resetZoom, row.resetZoom);
        EXPECT_EQ(f.monitoring, row.mode == WindowRequest::Mode::Monitor);
        if (row.mode == WindowRequest::Mode::Monitor) {
            EXPECT_NEAR(f.window.seconds(), 60.0 * s.minutes(), 1e-6);
            // Every row holds its whole window: nothing missing beyond a sample or two.
            ASSERT_EQ(f.rows.size(), 2u);
            for (const RowState& r : f.rows)
                EXPECT_TRUE(r.health.endsWith(u", 0% missing")) << r.health.toStdString();
        }
    }
}

// Lengths beyond the bounds are the bounds, and a length that does not change keeps the zoom.
TEST_F(Session, TheLengthStaysWithinOneMinuteAndThirtyDays) {
    for (const auto& [asked, used] :
         {std::pair{0, 1}, std::pair{-5, 1}, std::pair{43201, 43200}, std::pair{7, 7}}) {
        s.setMinutes(asked);
        EXPECT_EQ(s.minutes(), used) << asked;
        const WindowRequest w = s.monitorWindow(datetext::now());
        EXPECT_NEAR(w.seconds(), 60.0 * used, 1e-6);
    }
}

// The window the fields show is recognised as the one made (its exact times), a window typed
// by hand is read from the text, and the refresh timer decides how it is drawn.
TEST_F(Session, TheFieldsAreReadOnceAndTheTimerDecidesTheArrangement) {
    const WindowRequest made = s.earthquakeWindow(tonga(), 20);
    const WindowRequest same = s.windowOf(made.startText, made.endText, datetext::now(), false);
    EXPECT_EQ(same.mode, WindowRequest::Mode::Earthquake);
    EXPECT_EQ(same.start, made.start);
    EXPECT_EQ(s.windowOf(made.startText, made.endText, datetext::now(), true).mode,
              WindowRequest::Mode::Monitor);
    const WindowRequest typed =
        s.windowOf("2012-06-15T10:00:00.0000Z", "not a time", datetext::now(), false);
    EXPECT_EQ(typed.mode, WindowRequest::Mode::Typed);
    EXPECT_TRUE(typed.startRead);
    EXPECT_FALSE(typed.endRead);
    const WindowRequest monitor = s.monitorWindow(datetext::now());
    EXPECT_EQ(s.windowOf(monitor.startText, monitor.endText, datetext::now(), false).mode,
              WindowRequest::Mode::Typed);
}

// The stream: an earthquake's window, then Start, fills the whole monitor window from the
// service before the stream carries it on; the first frame is full, titled with the list's
// title and unzoomed; a second source change fills whole again.
TEST(SessionStream, EarthquakeThenStartFillsTheWholeWindowBeforeStreaming) {
    SeismogramServer http;
    http.start();
    demo::SeedLinkServer seedLink(std::chrono::system_clock::now(), {},
                                  {0.5, std::chrono::seconds(300), 11, {}});
    ASSERT_TRUE(seedLink.start(0));
    LogCapture log;
    MonitorSession s;
    s.timeSeries().setServiceBase(http.baseUrl());
    s.setChannels(table({"ANMO", "COLA"}), kListTitle);
    s.setSource(MonitorSession::Source::SeedLink,
                QStringLiteral("127.0.0.1:%1").arg(seedLink.port()));
    std::vector<std::shared_ptr<const SessionFrame>> frames;
    QObject::connect(&s, &MonitorSession::frameReady,
                     [&](std::shared_ptr<const SessionFrame> f) { frames.push_back(f); });
    auto filled = [&] {
        return std::any_of(frames.begin(), frames.end(),
                           [](const auto& f) { return f->result != nullptr; });
    };

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        // An earthquake's window first.
        frames.clear();
        const SeismicOrigin o = tonga();
        s.retrieve(s.earthquakeWindow(o, 20), MonitorSession::earthquakeTitle(o));
        ASSERT_TRUE(QTest::qWaitFor(filled, 10000));
        EXPECT_EQ(frames.back()->title, MonitorSession::earthquakeTitle(o));
        EXPECT_FALSE(s.streaming());
        // Start.
        frames.clear();
        const std::size_t asked = http.seismogramTargets().size();
        s.startMonitoring(10);
        s.retrieve(s.monitorWindow(datetext::now()), QStringLiteral("ignored"));
        ASSERT_TRUE(QTest::qWaitFor(filled, 10000));
        const std::vector<double> made = spans(http.seismogramTargets());
        ASSERT_EQ(made.size(), asked + 2);
        for (std::size_t i = asked; i < made.size(); ++i)
            EXPECT_NEAR(made[i], 600.0, 1.0);
        const SessionFrame& f = *frames.back();
        EXPECT_TRUE(f.monitoring);
        EXPECT_EQ(f.title, kListTitle);
        EXPECT_TRUE(
            std::any_of(frames.begin(), frames.end(), [](const auto& g) { return g->resetZoom; }));
        ASSERT_EQ(f.rows.size(), 2u);
        for (const RowState& r : f.rows)
            EXPECT_TRUE(r.health.endsWith(u", 0% missing")) << r.health.toStdString();
        EXPECT_TRUE(s.streaming());
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return s.link() == SeedLinkSource::Link::Streaming; }, 10000));
        s.stopMonitoring();
        EXPECT_FALSE(s.streaming());
    }
}

TEST(SessionStream, AFillFromDataselectIsStoredBeforeTheStreamTakesOver) {
    SeismogramServer http;
    http.start();
    demo::SeedLinkServer seedLink(std::chrono::system_clock::now(), {},
                                  {0.5, std::chrono::seconds(300), 11, {}});
    ASSERT_TRUE(seedLink.start(0));
    LogCapture log;
    MonitorSession s;
    s.timeSeries().setServiceBase(http.baseUrl());
    s.timeSeries().setService(TimeSeriesSource::Service::Dataselect);
    s.setChannels(table({"ANMO"}), kListTitle);
    s.setSource(MonitorSession::Source::SeedLink,
                QStringLiteral("127.0.0.1:%1").arg(seedLink.port()));
    bool filled = false;
    QObject::connect(&s, &MonitorSession::frameReady,
                     [&](std::shared_ptr<const SessionFrame> f) { filled = filled || f->result; });
    s.startMonitoring(10);
    const WindowRequest window = s.monitorWindow(datetext::now());
    s.retrieve(window, kListTitle);
    ASSERT_TRUE(QTest::qWaitFor([&] { return filled; }, 10000));
    EXPECT_EQ(http.dataselectTargets().size(), 1u);
    EXPECT_TRUE(http.seismogramTargets().empty());
    // The fill's samples are in the store from the window's start, under the table's codes.
    const auto held = s.store().segments({"IU", "ANMO", "00", "BHZ"}, window.start, window.end);
    ASSERT_FALSE(held.empty());
    EXPECT_LT(std::abs(civil::secondsBetween(window.start, held.front().start)), 1.0);
    EXPECT_TRUE(s.streaming());
    s.stopMonitoring();
}

} // namespace

// A row whose newest sample lies minutes back says how late it is and falls silent; its
// neighbour, current, does neither. What was held before stays counted: the hole before it.
TEST_F(Session, ARowWhoseDataStoppedMinutesAgoSaysHowLateAndFallsSilent) {
    s.setChannels(table({"ANMO", "FAIL404"}), kListTitle);
    const Time now = datetext::now();
    // 100 s of samples ending 400 s ago; the service refuses the channel from now on.
    ASSERT_TRUE(s.store().feed(Segment{{"IU", "FAIL404", "00", "BHZ"},
                                       civil::addSeconds(now, -500),
                                       1.0,
                                       std::vector<float>(100, 1.0f)}));
    s.startMonitoring(10);
    tick();
    const SessionFrame& f = last();
    ASSERT_EQ(f.rows.size(), 2u);
    EXPECT_FALSE(f.rows[0].silent);
    EXPECT_TRUE(f.rows[0].health.endsWith(u", 0% missing")) << f.rows[0].health.toStdString();
    EXPECT_TRUE(f.rows[1].silent);
    EXPECT_FALSE(f.rows[1].health.startsWith(u"latency 0 s")) << f.rows[1].health.toStdString();
    EXPECT_TRUE(f.rows[1].health.contains(u"17% missing")) << f.rows[1].health.toStdString();
}
