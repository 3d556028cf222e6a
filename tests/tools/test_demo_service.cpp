// The demo service, run in-process on loopback and asked what the application asks.
#include "base/Time.h"
#include "DemoService.h"
#include "net/HttpClient.h"
#include "components/NEIC_QueryController.h"
#include "QtPrinters.h"
#include "components/sac/SacObject.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <thread>

namespace {

class DemoServiceTest : public ::testing::Test {
protected:
    const demo::Date started = std::chrono::system_clock::now();
    demo::DemoService service{started};
    std::thread thread;
    int port = 0;

    void SetUp() override {
        port = service.server().bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { service.server().listen_after_bind(); });
        while (!service.server().is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    void TearDown() override {
        service.server().stop();
        thread.join();
    }
    HttpResponse get(const std::string& target) {
        HttpOptions o;
        o.userAgent = "test";
        const auto r = httpGet(QStringLiteral("http://127.0.0.1:%1").arg(port) +
                                   QString::fromStdString(target),
                               o, nullptr);
        EXPECT_TRUE(r);
        return r.value_or(HttpResponse{});
    }
    static std::string urlTime(demo::Date t) {
        const civil::Fields f = civil::fieldsOf(t);
        char b[32];
        std::snprintf(b, sizeof b, "%04lld-%02d-%02dT%02d:%02d:%02d",
                      static_cast<long long>(f.year), f.month, f.day, f.hour, f.minute, f.second);
        return b;
    }
    SacObject seismogram(const std::string& channel, demo::Date start, demo::Date end,
                         const std::string& sta = "ANMO", const std::string& net = "IU",
                         const std::string& loc = "00") {
        const HttpResponse r = get("/irisws/timeseries/1/query?net=" + net + "&sta=" + sta +
                                   "&loc=" + loc + "&cha=" + channel + "&start=" + urlTime(start) +
                                   "&end=" + urlTime(end) + "&scale=AUTO&output=sacbl");
        SacObject s;
        EXPECT_EQ(r.status, 200);
        EXPECT_TRUE(s.initWithNSData(
            std::as_bytes(std::span(r.body.constData(), static_cast<std::size_t>(r.body.size()))),
            "x"));
        return s;
    }
    demo::Date wholeSeconds(double secondsAgo) {
        const auto t = civil::addSeconds(started, -secondsAgo);
        return std::chrono::time_point_cast<std::chrono::seconds>(t);
    }
};

} // namespace

TEST_F(DemoServiceTest, SendsSacWithACorrectHeader) {
    const auto start = wholeSeconds(3600), end = wholeSeconds(600);
    for (const auto& [channel, delta] : {std::pair{"BHZ", 0.05}, std::pair{"LHZ", 1.0}}) {
        SacObject s = seismogram(channel, start, end);
        ASSERT_TRUE(s.isSacFile());
        const sac::SacHeader& h = *s.GetSacHeader();
        EXPECT_EQ(h.getText(sac::text::KSTNM), "ANMO");
        EXPECT_EQ(h.getText(sac::text::KNETWK), "IU");
        EXPECT_EQ(h.getText(sac::text::KHOLE), "00");
        EXPECT_EQ(s.kcmpnm(), channel);
        EXPECT_FLOAT_EQ(h.getFloat(sac::word::DELTA), static_cast<float>(delta));
        EXPECT_EQ(s.referenceTime(), start);
        EXPECT_EQ(h.getFloat(sac::word::B), 0.0f);
        const auto n = static_cast<std::size_t>(3000 / delta) + 1;
        EXPECT_EQ(s.samples().size(), n);
        EXPECT_NEAR(h.getFloat(sac::word::E), static_cast<double>(n - 1) * delta, 1e-3);
        EXPECT_EQ(h.getInt(sac::word::NVHDR), 6);
        EXPECT_EQ(h.byteOrder(), std::endian::little);
    }
}

TEST_F(DemoServiceTest, OverlappingWindowsAgreeSampleForSample) {
    SacObject a = seismogram("BHZ", wholeSeconds(1200), wholeSeconds(600));
    SacObject b = seismogram("BHZ", wholeSeconds(900), wholeSeconds(300));
    const std::size_t offset = 300 * 20; // b starts 300 s after a
    ASSERT_GT(a.samples().size(), offset + 1000);
    for (std::size_t i = 0; i < 1000; ++i)
        ASSERT_EQ(a.samples()[offset + i], b.samples()[i]) << i;
    // Different channels are different noise.
    SacObject other = seismogram("BHZ", wholeSeconds(1200), wholeSeconds(600), "COLA");
    EXPECT_NE(other.samples()[100], a.samples()[100]);
}

TEST_F(DemoServiceTest, AnEarthquakeArrivesAfterItsTravelTime) {
    // The newest quake, in the Gulf of Alaska; COLA is about 8 degrees away.
    const demo::Quake& q = service.quakes().front();
    const double deg = demo::distanceDegrees(q.latitude, q.longitude, 64.8736, -147.8616);
    const double p = demo::pTravelTime(deg);
    const auto origin = std::chrono::time_point_cast<std::chrono::seconds>(q.origin);
    SacObject s = seismogram("BHZ", civil::addSeconds(origin, -120),
                             civil::addSeconds(origin, p + 60), "COLA");
    const auto x = s.samples();
    auto rms = [&](std::size_t from, std::size_t to) {
        double sum = 0;
        for (std::size_t i = from; i < to; ++i)
            sum += static_cast<double>(x[i]) * x[i];
        return std::sqrt(sum / static_cast<double>(to - from));
    };
    const auto at = [&](double secondsAfterStart) {
        return static_cast<std::size_t>(secondsAfterStart * 20);
    };
    EXPECT_GT(rms(at(120 + p + 2), at(120 + p + 30)), 3 * rms(at(0), at(110)));
    EXPECT_GT(p, 60);
    EXPECT_LT(demo::pTravelTime(30), demo::sTravelTime(30));
}

TEST_F(DemoServiceTest, TheCatalogueHonoursTheMinimumMagnitudeNewestFirst) {
    const HttpResponse all =
        get("/fdsnws/event/1/query?format=text&orderby=time&minmagnitude=4.5&starttime=" +
            urlTime(civil::addSeconds(started, -30 * 86400)));
    const auto quakes = NEIC_QueryController::parseEventText(all.body);
    ASSERT_TRUE(quakes);
    ASSERT_EQ(quakes->size(), 9u);
    EXPECT_LT(civil::secondsBetween((*quakes)[0].originTime, started), 600);
    for (std::size_t i = 1; i < quakes->size(); ++i)
        EXPECT_LT((*quakes)[i].originTime, (*quakes)[i - 1].originTime);
    const auto big = NEIC_QueryController::parseEventText(
        get("/fdsnws/event/1/query?format=text&minmagnitude=6.0").body);
    ASSERT_TRUE(big);
    for (const auto& q : *big)
        EXPECT_GE(q.mag, 6.0);
    EXPECT_EQ(big->size(), 4u);
    const auto none = NEIC_QueryController::parseEventText(
        get("/fdsnws/event/1/query?format=text&minmagnitude=9").body);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
}

TEST_F(DemoServiceTest, TheInventoryHonoursThePatterns) {
    const HttpResponse r =
        get("/fdsnws/station/1/query?net=I%3F&sta=A*,KDAK&loc=*&cha=L*&level=channel&format=text");
    EXPECT_EQ(r.status, 200);
    const QStringList lines = QString::fromUtf8(r.body).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[1].startsWith("IU|ANMO|00|LHZ|"));
    EXPECT_TRUE(lines[2].startsWith("II|KDAK|00|LHZ|"));
    const HttpResponse virtualNet =
        get("/fdsnws/station/1/query?net=_US-TA&sta=SSPA&level=station&format=text");
    EXPECT_TRUE(QString::fromUtf8(virtualNet.body).contains("TA|SSPA|"));
    EXPECT_EQ(get("/fdsnws/station/1/query?net=XX&sta=*&level=channel&format=text").status, 204);
}

TEST_F(DemoServiceTest, AnswersErrorsLikeThePublicService) {
    const auto start = urlTime(wholeSeconds(600)), end = urlTime(wholeSeconds(0));
    EXPECT_EQ(get("/irisws/timeseries/1/query?net=IU&sta=TUC&loc=00&cha=BHZ&start=" + start +
                  "&end=" + end + "&scale=AUTO&output=sacbl")
                  .status,
              204);
    for (const std::string& bad :
         {"/irisws/timeseries/1/query?net=IU&sta=ANMO&loc=00&cha=BHZ&start=yesterday&end=" + end +
              "&output=sacbl",
          "/irisws/timeseries/1/query?net=IU&sta=ANMO&loc=00&cha=BHZ&start=" + end +
              "&end=" + start + "&output=sacbl",
          "/irisws/timeseries/1/query?net=IU&sta=ANMO&loc=00&cha=BHZ&start=" + start +
              "&end=" + end + "&output=miniseed",
          "/irisws/timeseries/1/query?net=IU&sta=ANMO&cha=BHZ&start=" + start + "&end=" + end +
              "&output=sacbl"}) {
        const HttpResponse r = get(bad);
        EXPECT_EQ(r.status, 400) << bad;
        EXPECT_TRUE(r.body.startsWith("Error 400: Bad Request")) << bad;
    }
}
