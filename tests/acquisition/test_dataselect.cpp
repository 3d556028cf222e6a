// FDSN dataselect as the seismogram source: the query, the miniSEED answer record by record
// (gaps, other channels, broken and truncated records, no data, a body too large), both
// transfer modes, the retrieval cycle's rows and tails, and the demo service's answer.
#include "DemoSeedLink.h"
#include "DemoService.h"
#include "LogCapture.h"
#include "QtPrinters.h"
#include "SeismogramServer.h"
#include "acquisition/DataselectFetch.h"
#include "acquisition/MiniSeed.h"
#include "acquisition/RetrievalCycle.h"
#include "acquisition/TimeSeriesSource.h"
#include "base/DateText.h"
#include "components/sac/SacObject.h"
#include "store/TraceStore.h"

#include <QSignalSpy>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <thread>

namespace {

const Time kStart = civil::dateOf(2012, 6, 15, 10, 0, 0);

ChannelRequest request(const QString& sta, const QString& loc = "00", const QString& cha = "BHZ",
                       Time from = kStart, double seconds = 60) {
    ChannelRequest r;
    r.setValue(ChannelRequest::Network, "IU");
    r.setValue(ChannelRequest::StationID, sta);
    r.setValue(ChannelRequest::LocationCode, loc);
    r.setValue(ChannelRequest::ChannelID, cha);
    r.setValue(ChannelRequest::StartTime, datetext::requestTime(from));
    r.setValue(ChannelRequest::EndTime, datetext::requestTime(civil::addSeconds(from, seconds)));
    r.setValue(ChannelRequest::SampleRate, "*");
    return r;
}

struct Answer {
    std::vector<Segment> segments;
    std::optional<AcquisitionFailure> failure;
    qint64 bytes = 0;
    bool arrived = false;
};

std::vector<Answer> ask(WaveformSource& source, std::vector<ChannelRequest> requests) {
    std::vector<Answer> out(requests.size());
    SourceReplies replies;
    QObject::connect(
        &replies, &SourceReplies::segmentsReceived,
        [&out](int i, std::vector<Segment> s, qint64 bytes) {
            out.at(static_cast<std::size_t>(i)) = {std::move(s), std::nullopt, bytes, true};
        });
    QObject::connect(&replies, &SourceReplies::channelFailed, [&out](int i, AcquisitionFailure f) {
        out.at(static_cast<std::size_t>(i)).failure = std::move(f);
        out.at(static_cast<std::size_t>(i)).arrived = true;
    });
    QSignalSpy finished(&replies, &SourceReplies::finished);
    source.ask(std::move(requests), replies);
    if (finished.isEmpty()) {
        EXPECT_TRUE(finished.wait(15000));
    }
    return out;
}

// The test server's samples, as it computes them.
float expected(Time t, double delta) {
    const double at = civil::secondsBetween(kStart, t);
    return std::round(static_cast<float>(1000.0 * std::sin(0.7 * at) + 0.01 * at / delta));
}

} // namespace

TEST(DataselectQuery, NamesTheChannelAndWindowAndRefusesWhatIsNoCode) {
    const Time now = civil::dateOf(2020, 1, 1, 0, 0, 0);
    const struct {
        QString loc, cha, url;
    } cases[] = {
        {"00", "BHZ",
         "http://h/fdsnws/dataselect/1/"
         "query?net=IU&sta=ANMO&loc=00&cha=BHZ&starttime=2012-06-15T10:"
         "00:00&endtime=2012-06-15T10:01:00"},
        {"", "LHZ",
         "http://h/fdsnws/dataselect/1/"
         "query?net=IU&sta=ANMO&loc=--&cha=LHZ&starttime=2012-06-15T10:"
         "00:00&endtime=2012-06-15T10:01:00"},
        {"--", "HHE",
         "http://h/fdsnws/dataselect/1/"
         "query?net=IU&sta=ANMO&loc=--&cha=HHE&starttime=2012-06-15T10:"
         "00:00&endtime=2012-06-15T10:01:00"},
        {"00", "BH*", ""},
        {"0?", "BHZ", ""},
        {"00", "BH Z", ""},
        {"00", "", ""},
    };
    for (const auto& c : cases) {
        const auto url = dataselectQueryUrl(u"http://h/", request("ANMO", c.loc, c.cha), now);
        if (c.url.isEmpty())
            EXPECT_FALSE(url) << c.loc.toStdString() << " " << c.cha.toStdString();
        else
            EXPECT_EQ(url.value_or("none"), c.url);
    }
    EXPECT_FALSE(dataselectQueryUrl(u"http://h", request("AN*O"), now));
    // A window given with a fraction is cut to the whole second.
    ChannelRequest r = request("ANMO");
    r.setValue(ChannelRequest::StartTime, "2012-06-15T10:00:00.7500Z");
    EXPECT_TRUE(
        dataselectQueryUrl(u"http://h", r, now)->contains("starttime=2012-06-15T10:00:00&"));
}

TEST(DataselectDecoding, CutsToTheWindowAndRefusesFarTooManySamples) {
    const ChannelId ch{"IU", "ANMO", "00", "BHZ"};
    std::vector<float> x(2400);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<float>(i % 50);
    QByteArray body;
    for (const auto& r : demo::packRecords("IU", "ANMO", "00", "BHZ", kStart, 0.05, x, 11))
        body.append(r.data(), static_cast<qsizetype>(r.size()));
    AcquisitionFailure why;
    // Ten seconds from the twentieth: the records reach before and after; the samples do not.
    const RequestedWindow window{civil::addSeconds(kStart, 20), civil::addSeconds(kStart, 30)};
    const auto cut = decodeDataselect(body, 200, ch, window, &why);
    ASSERT_TRUE(cut);
    ASSERT_EQ(cut->size(), 1u);
    EXPECT_EQ(cut->front().start, window.start);
    EXPECT_EQ(cut->front().size(), 201u);
    EXPECT_EQ(cut->front().samples.front(), 0.0f); // sample 400
    // The same samples three times over: more than twice what a window can hold.
    const auto thrice = body + body + body;
    EXPECT_TRUE(decodeDataselect(thrice, 200, ch, {kStart, civil::addSeconds(kStart, 120)}, &why))
        << "repeated records are cut to what is new";
    // Records of one channel under two intervals overlap and exceed the bound.
    QByteArray doubled = body;
    for (const auto& r : demo::packRecords("IU", "ANMO", "00", "BHZ", kStart, 0.05 * 0.999, x, 11))
        doubled.append(r.data(), static_cast<qsizetype>(r.size()));
    for (const auto& r : demo::packRecords("IU", "ANMO", "00", "BHZ", kStart, 0.05 * 0.998, x, 11))
        doubled.append(r.data(), static_cast<qsizetype>(r.size()));
    EXPECT_FALSE(
        decodeDataselect(doubled, 200, ch, {kStart, civil::addSeconds(kStart, 119.95)}, &why));
    EXPECT_EQ(why.kind, AcquisitionFailure::Kind::TooLarge);
    EXPECT_EQ(why.logLines.size(), 1);
    // Another channel's records, one of them spoiled: that one is theirs, not a broken answer.
    QByteArray others;
    for (const auto& r : demo::packRecords("IU", "ANMO", "00", "BHN", kStart, 0.05, x, 11))
        others.append(r.data(), static_cast<qsizetype>(r.size()));
    others[512 + 52] = 99; // the second record's encoding (blockette 1000): none known
    ASSERT_FALSE(miniseed::decodeRecord(others.constData() + 512, 512));
    EXPECT_FALSE(decodeDataselect(others, 200, ch, window, &why));
    EXPECT_EQ(why.kind, AcquisitionFailure::Kind::NoData) << why.detail.toStdString();
    // No data and error statuses.
    for (const auto& [status, kind] : {std::pair{204L, AcquisitionFailure::Kind::NoData},
                                       {404L, AcquisitionFailure::Kind::NoData},
                                       {500L, AcquisitionFailure::Kind::NotSeismogram},
                                       {400L, AcquisitionFailure::Kind::NotSeismogram}}) {
        EXPECT_FALSE(
            decodeDataselect(status == 204 ? QByteArray() : body, status, ch, window, &why));
        EXPECT_EQ(why.kind, kind) << status;
    }
}

class DataselectSource : public ::testing::TestWithParam<TimeSeriesSource::Mode> {
protected:
    SeismogramServer server;
    TimeSeriesSource source;
    LogCapture log;

    void SetUp() override {
        server.start();
        source.setService(TimeSeriesSource::Service::Dataselect);
        source.setServiceBase(server.baseUrl());
        source.setMode(GetParam());
        HttpOptions http;
        http.idleTimeoutSeconds = 5;
        source.setHttpOptions(http);
    }
};

TEST_P(DataselectSource, EachAnswerBecomesTheChannelsGaplessSegments) {
    const auto answers = ask(source, {request("ANMO"), request("GAPPY"), request("MIXED", ""),
                                      request("SPOIL"), request("TRUNC")});
    ASSERT_EQ(answers.size(), 5u);
    for (const Answer& a : answers)
        ASSERT_TRUE(a.arrived && !a.failure)
            << &a - answers.data() << ": " << (a.failure ? a.failure->detail.toStdString() : "");
    // The whole window, the end included, every sample on the server's grid.
    const Answer& whole = answers[0];
    ASSERT_EQ(whole.segments.size(), 1u);
    const Segment& s = whole.segments[0];
    EXPECT_EQ(s.start, kStart);
    EXPECT_DOUBLE_EQ(s.delta, 0.05);
    ASSERT_EQ(s.size(), 1201u);
    EXPECT_EQ((ChannelId{"IU", "ANMO", "00", "BHZ"}), s.channel);
    for (std::size_t i : {std::size_t{0}, std::size_t{1}, std::size_t{600}, std::size_t{1200}})
        EXPECT_EQ(s.samples[i], expected(s.timeOf(i), 0.05)) << i;
    EXPECT_GT(whole.bytes, 512);
    // A gap: two segments, oldest first, each on the grid.
    const auto& gappy = answers[1].segments;
    ASSERT_EQ(gappy.size(), 2u);
    EXPECT_EQ(gappy[0].start, kStart);
    EXPECT_LT(gappy[0].end(), gappy[1].start);
    EXPECT_EQ(gappy[1].end(), civil::addSeconds(kStart, 60.05));
    EXPECT_EQ(gappy[1].samples.front(), expected(gappy[1].start, 0.05));
    // Records of other channels between the channel's own are passed over.
    ASSERT_EQ(answers[2].segments.size(), 1u);
    EXPECT_EQ(answers[2].segments[0].size(), 1201u);
    EXPECT_EQ(answers[2].segments[0].channel.channel, "BHZ");
    // A broken record is a gap; the records after it still count.
    ASSERT_EQ(answers[3].segments.size(), 2u);
    EXPECT_EQ(answers[3].segments[0].start, kStart);
    EXPECT_EQ(answers[3].segments[1].end(), civil::addSeconds(kStart, 60.05));
    // A body that ends inside a record keeps the records before it.
    ASSERT_EQ(answers[4].segments.size(), 1u);
    EXPECT_GT(answers[4].segments[0].size(), 600u);
    EXPECT_LT(answers[4].segments[0].size(), 1201u);
    // The log says why those two have a gap the service did not leave.
    EXPECT_EQ(log.lines(),
              (QStringList{"The answer for IU.SPOIL.00.BHZ was read in part: 1 of 3 records "
                           "could not be used (the first: bytes at offset 512 are no miniSEED "
                           "record). What is missing is left as a gap.",
                           "The answer for IU.TRUNC.00.BHZ was read in part: it ends inside a "
                           "record. What is missing is left as a gap."}));
    ASSERT_EQ(server.dataselectTargets().size(), 5u);
    EXPECT_TRUE(server.seismogramTargets().empty());
}

TEST_P(DataselectSource, NoDataErrorsAndABodyOverTheCapFailTheirChannelOnly) {
    HttpOptions http;
    http.idleTimeoutSeconds = 5;
    http.maxBodyBytes = 16 * 512;
    source.setHttpOptions(http);
    const auto answers =
        ask(source, {request("NODATA"), request("FAIL404"), request("ERROR"),
                     request("ANMO", "00", "BHZ", kStart, 3600), request("ANMO"), request("AN*")});
    using K = AcquisitionFailure::Kind;
    const K kinds[] = {K::NoData, K::NoData, K::NotSeismogram, K::TooLarge};
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(answers[i].failure) << i;
        EXPECT_EQ(answers[i].failure->kind, kinds[i]) << i;
    }
    // Only a failed exchange has the two lines: what was asked, and why.
    EXPECT_TRUE(answers[0].failure->logLines.isEmpty());
    ASSERT_EQ(answers[3].failure->logLines.size(), 2);
    EXPECT_TRUE(answers[3].failure->logLines[0].startsWith(
        "Communication Failure: " + server.baseUrl() + "/fdsnws/dataselect/1/query?net=IU"));
    EXPECT_FALSE(answers[4].failure);
    EXPECT_EQ(answers[4].segments.size(), 1u);
    ASSERT_TRUE(answers[5].failure);
    EXPECT_EQ(answers[5].failure->logLines.value(1), "unsupported URL");
    EXPECT_EQ(server.dataselectTargets().size(), 5u); // the wildcard never left
}

INSTANTIATE_TEST_SUITE_P(BothModes, DataselectSource,
                         ::testing::Values(TimeSeriesSource::Mode::Inline,
                                           TimeSeriesSource::Mode::Pooled));

namespace {

class DataselectCycle : public ::testing::Test {
protected:
    SeismogramServer server;
    TimeSeriesSource source;
    TraceStore store{std::chrono::hours(1)};
    RetrievalCycle cycle{source, store};
    LogCapture log;
    Time now = civil::dateOf(2012, 6, 15, 11, 0, 0);

    DataselectCycle() {
        store.setClock([this] { return now; });
    }
    void SetUp() override {
        server.start();
        source.setService(TimeSeriesSource::Service::Dataselect);
        source.setServiceBase(server.baseUrl());
    }
    std::shared_ptr<CycleResult> run(const QStringList& stations, WindowRequest window,
                                     bool monitor) {
        CycleRequest r;
        for (const QString& s : stations) {
            r.channels.networks << "IU";
            r.channels.stations << s;
            r.channels.channels << "BHZ";
            r.channels.locations << "00";
            r.channels.labels << s;
        }
        r.window = std::move(window);
        r.monitor = monitor;
        r.incremental = monitor;
        QSignalSpy finished(&cycle, &RetrievalCycle::finished);
        cycle.start(r);
        if (!finished.wait(10000))
            return nullptr;
        return finished.at(0).at(0).value<std::shared_ptr<CycleResult>>();
    }
    std::string lastStart(const std::string& station) {
        std::string start;
        for (const std::string& t : server.dataselectTargets()) {
            const QUrlQuery q(QString::fromStdString(t.substr(t.find('?') + 1)));
            if (q.queryItemValue("sta").toStdString() == station)
                start = q.queryItemValue("starttime").toStdString();
        }
        return start;
    }
};

} // namespace

TEST_F(DataselectCycle, AGappedAnswerIsARowOfTwoPiecesAndFailuresAreLoggedAsEver) {
    const auto r =
        run({"GAPPY", "NODATA", "ANMO"},
            WindowRequest::of(WindowRequest::Mode::Typed, kStart, civil::addSeconds(kStart, 60)),
            false);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->traces.size(), 3u);
    EXPECT_EQ(r->traces[0].index, 0);
    EXPECT_EQ(r->traces[1].index, 0);
    EXPECT_EQ(r->traces[2].index, 2);
    EXPECT_LT(r->traces[0].raw->startTime(), r->traces[1].raw->startTime());
    EXPECT_EQ(r->traces[2].raw->samples().size(), 1201u);
    ASSERT_EQ(r->failures.size(), 1u);
    EXPECT_EQ(r->failures[0].index, 1);
    EXPECT_EQ(log.lines(), QStringList{connectionProblemLine(request("NODATA"))});
    EXPECT_TRUE(store.segments({"IU", "ANMO", "00", "BHZ"}, kStart, now).empty())
        << "a typed window leaves the store alone";

    // A failed exchange: the two lines, then the request.
    log.clear();
    source.setServiceBase(QStringLiteral("http://127.0.0.1:%1").arg(unusedPort()));
    const auto failed =
        run({"ANMO"},
            WindowRequest::of(WindowRequest::Mode::Typed, kStart, civil::addSeconds(kStart, 60)),
            false);
    ASSERT_TRUE(failed);
    ASSERT_EQ(log.lines().size(), 3);
    EXPECT_TRUE(log.lines()[0].startsWith("Communication Failure: http://127.0.0.1:"));
    EXPECT_EQ(log.lines()[2], connectionProblemLine(request("ANMO")));
}

TEST_F(DataselectCycle, MonitorTicksAskOnlyForTheTailAndAGapAsksForTheWholeWindowAgain) {
    server.tweakAnswer = [](const std::string& sta, int number, SeismogramServer::Answer& a) {
        if (sta == "GAP" && number == 2)
            a.shiftSeconds = 10; // the tail leaves a gap behind the stored samples
    };
    auto tick = [this](int minute, const QStringList& stations) {
        now = civil::addSeconds(civil::dateOf(2012, 6, 15, 11, 0, 0), 60.0 * minute);
        return run(
            stations,
            WindowRequest::of(WindowRequest::Mode::Monitor, civil::addSeconds(now, -600), now),
            true);
    };
    ASSERT_TRUE(tick(0, {"ANMO", "GAP"}));
    EXPECT_EQ(lastStart("ANMO"), "2012-06-15T10:50:00");
    const auto second = tick(1, {"ANMO", "GAP"});
    ASSERT_TRUE(second);
    EXPECT_EQ(second->tails, 2);
    EXPECT_EQ(lastStart("ANMO"), "2012-06-15T10:59:59");
    const ChannelId anmo{"IU", "ANMO", "00", "BHZ"};
    EXPECT_TRUE(
        store.gaps(anmo, civil::addSeconds(now, -600), civil::addSeconds(now, -0.05)).empty());
    ASSERT_EQ(second->traces.size(), 3u); // ANMO whole; GAP in two pieces
    const auto third = tick(2, {"ANMO", "GAP"});
    ASSERT_TRUE(third);
    EXPECT_EQ(third->tails, 1);
    EXPECT_EQ(third->wholeWindows, 1);
    EXPECT_EQ(lastStart("GAP"), "2012-06-15T10:52:00");
}

TEST(DemoDataselect, AnswersSteim2RecordsThatMatchItsTimeSeriesAnswer) {
    demo::DemoService service{std::chrono::system_clock::now()};
    const int port = service.server().bind_to_any_port("127.0.0.1");
    std::thread thread([&] { service.server().listen_after_bind(); });
    while (!service.server().is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const demo::Station& st = demo::stations().front();
    const Time from = std::chrono::time_point_cast<std::chrono::seconds>(
        civil::addSeconds(std::chrono::system_clock::now(), -3600));
    ChannelRequest r =
        request(QString::fromStdString(st.station), QString::fromStdString(st.location),
                QString::fromStdString(st.channels.front()), from, 300);
    r.setValue(ChannelRequest::Network, QString::fromStdString(st.network));
    TimeSeriesSource dataselect, timeSeries;
    for (TimeSeriesSource* s : {&dataselect, &timeSeries}) {
        s->setServiceBase(QStringLiteral("http://127.0.0.1:%1").arg(port));
        s->setMode(TimeSeriesSource::Mode::Inline);
    }
    dataselect.setService(TimeSeriesSource::Service::Dataselect);
    const auto records = ask(dataselect, {r, request("NOSUCH")});
    std::shared_ptr<SacObject> sac;
    SourceReplies replies;
    QObject::connect(&replies, &SourceReplies::seismogramReceived,
                     [&sac](int, std::shared_ptr<SacObject> s, qint64) { sac = std::move(s); });
    timeSeries.ask({r}, replies);
    service.server().stop();
    thread.join();
    ASSERT_TRUE(sac);
    ASSERT_FALSE(records[0].failure);
    ASSERT_EQ(records[0].segments.size(), 1u);
    const Segment& s = records[0].segments[0];
    EXPECT_EQ(s.start, sac->startTime());
    ASSERT_EQ(s.size(), sac->samples().size());
    for (std::size_t i = 0; i < s.size(); ++i)
        ASSERT_NEAR(s.samples[i], sac->samples()[i], 0.5) << i; // Steim-2 holds whole numbers
    ASSERT_TRUE(records[1].failure);
    EXPECT_EQ(records[1].failure->kind, AcquisitionFailure::Kind::NoData);
}
