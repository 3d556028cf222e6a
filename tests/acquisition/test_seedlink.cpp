// The SeedLink source against the demo's SeedLink server on 127.0.0.1: the handshake, records
// of each encoding, resuming without a gap or a duplicate, refusals, a server that misbehaves or
// falls silent; and the health figures of a channel.
#include "acquisition/SeedLinkProtocol.h"
#include "acquisition/SeedLinkSource.h"
#include "acquisition/TraceHealth.h"
#include "base/DateText.h"
#include "store/TraceStore.h"

#include "DemoSeedLink.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <libmseed.h>

#include <map>

namespace {

using namespace std::chrono_literals;

ChannelRequest requestFor(const QString& net, const QString& sta, const QString& loc,
                          const QString& cha, const QString& start = {}) {
    ChannelRequest r;
    r.setValue(ChannelRequest::Network, net);
    r.setValue(ChannelRequest::StationID, sta);
    r.setValue(ChannelRequest::LocationCode, loc);
    r.setValue(ChannelRequest::ChannelID, cha);
    r.setValue(ChannelRequest::StartTime, start);
    return r;
}

struct Server {
    explicit Server(demo::SeedLinkServer::Options options = {0.5, std::chrono::seconds(120), DE_STEIM2, {}})
        : server(std::chrono::system_clock::now(), {}, options) {
        EXPECT_TRUE(server.start(0));
    }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(server.port()); }
    demo::SeedLinkServer server;
};

// Every segment a source delivers, by channel, in arrival order.
struct Collector {
    explicit Collector(SeedLinkSource& source) {
        QObject::connect(&source, &WaveformSource::segmentReceived, &source,
                         [this](quint64, int, const Segment& s) { segments[s.channel.seedId()].push_back(s); });
        QObject::connect(&source, &WaveformSource::channelFailed, &source,
                         [this](quint64, int index, const AcquisitionFailure& f) {
                             failures.push_back({index, f});
                         });
        QObject::connect(&source, &SeedLinkSource::linkChanged, &source,
                         [this](SeedLinkSource::Link link, const QString& why) {
                             links.push_back({link, why});
                         });
    }
    std::size_t count(const QString& id) const {
        const auto it = segments.find(id);
        return it == segments.end() ? 0 : it->second.size();
    }
    int losses() const {
        return static_cast<int>(std::count_if(links.begin(), links.end(), [](const auto& l) {
            return l.first == SeedLinkSource::Link::Lost;
        }));
    }
    std::map<QString, std::vector<Segment>> segments;
    std::vector<std::pair<int, AcquisitionFailure>> failures;
    std::vector<std::pair<SeedLinkSource::Link, QString>> links;
};

// Consecutive segments of a channel join exactly: no gap, no sample twice.
void expectSeamless(const std::vector<Segment>& segments) {
    ASSERT_GE(segments.size(), 2u);
    for (std::size_t i = 1; i < segments.size(); ++i) {
        const double step = civil::secondsBetween(segments[i - 1].end(), segments[i].start);
        EXPECT_NEAR(step, 0.0, 1e-3) << "segment " << i;
    }
}

// A source on the demo's server, reconnecting quickly, with everything it delivers collected.
class SeedLinkStream : public ::testing::Test {
protected:
    void SetUp() override {
        source.setBackoff(50ms, 200ms);
        ASSERT_TRUE(source.setServer(s.address()));
    }
    Server s;
    SeedLinkSource source;
    Collector got{source};
};

} // namespace

TEST(SeedLinkProtocol, RecordsOfEachEncodingDecodeToTheSamplesPacked) {
    const Time start = civil::dateOf(2026, 3, 1, 12, 0, 0);
    std::vector<float> samples;
    for (int i = 0; i < 300; ++i)
        samples.push_back(static_cast<float>(std::lround(5000.0 * std::sin(i * 0.07) + (i % 7) * 13)));
    for (const int encoding : {DE_STEIM1, DE_STEIM2, DE_INT32, DE_FLOAT32}) {
        SCOPED_TRACE(encoding);
        const auto records =
            demo::packRecords("IU", "ANMO", "00", "BHZ", start, 0.05, samples, encoding);
        ASSERT_FALSE(records.empty());
        std::vector<float> decoded;
        Time first{};
        for (std::size_t r = 0; r < records.size(); ++r) {
            QString why;
            const auto record = seedlink::decodeRecord(records[r].data(), 512, &why);
            ASSERT_TRUE(record) << why.toStdString();
            EXPECT_EQ(record->channel.seedId(), u"IU.ANMO.00.BHZ");
            EXPECT_DOUBLE_EQ(record->samples.delta, 0.05);
            if (r == 0)
                first = record->samples.start;
            decoded.insert(decoded.end(), record->samples.samples.begin(), record->samples.samples.end());
        }
        EXPECT_EQ(first, start);
        EXPECT_EQ(decoded, samples);
    }
    // Not a record: nothing, and why.
    std::array<char, 512> junk{};
    junk.fill('x');
    QString why;
    EXPECT_FALSE(seedlink::decodeRecord(junk.data(), junk.size(), &why));
    EXPECT_FALSE(why.isEmpty());
}

TEST(SeedLinkProtocol, FramingTakesPacketsWholeAndSpotsGarbageEarly) {
    QByteArray buffer = "SL00002A" + QByteArray(512, '\0') + "SL00";
    seedlink::Packet packet;
    EXPECT_EQ(seedlink::takePacket(buffer, packet), seedlink::Take::Packet);
    EXPECT_EQ(packet.sequence, 0x2Au);
    EXPECT_EQ(seedlink::takePacket(buffer, packet), seedlink::Take::NeedMore);
    QByteArray html = "<html>";
    EXPECT_EQ(seedlink::takePacket(html, packet), seedlink::Take::Garbage);
    EXPECT_EQ(seedlink::dataCommand(0xABCDEu), "DATA 0ABCDE\r\n");
    EXPECT_EQ(seedlink::selectCommand(QStringLiteral("--"), QStringLiteral("BHZ")), "SELECT BHZ.D\r\n");
    EXPECT_EQ(seedlink::timeCommand(civil::dateOf(2026, 1, 2, 3, 4, 5)), "TIME 2026,1,2,3,4,5\r\n");
}

TEST_F(SeedLinkStream, SendsTheHandshakeAndStreamsEachChannel) {
    const Time from = civil::addSeconds(datetext::now(), -30);
    source.request({requestFor("IU", "ANMO", "00", "BHZ", datetext::requestTime(from)),
                    requestFor("IU", "ANMO", "00", "LHZ", datetext::requestTime(from)),
                    requestFor("TA", "SSPA", "--", "BHZ", datetext::requestTime(from))});
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return got.count("IU.ANMO.00.BHZ") >= 3 && got.count("TA.SSPA.--.BHZ") >= 3;
    }, 10000));
    const civil::Fields f = civil::fieldsOf(from);
    const std::string time = QStringLiteral("TIME %1,%2,%3,%4,%5,%6\r\n")
                                 .arg(f.year).arg(f.month).arg(f.day).arg(f.hour).arg(f.minute).arg(f.second)
                                 .toStdString();
    ASSERT_FALSE(s.server.received().empty());
    EXPECT_EQ(s.server.received().front(),
              "HELLO\r\nSTATION ANMO IU\r\nSELECT 00BHZ.D\r\nSELECT 00LHZ.D\r\n" + time +
                  "STATION SSPA TA\r\nSELECT BHZ.D\r\n" + time + "END\r\n");
    EXPECT_EQ(source.link(), SeedLinkSource::Link::Streaming);
    // The first sample is at or before the time asked for; the blank location is the request's.
    EXPECT_LE(got.segments["IU.ANMO.00.BHZ"].front().start, civil::addSeconds(from, 1));
    expectSeamless(got.segments["IU.ANMO.00.BHZ"]);
}

TEST_F(SeedLinkStream, ResumesACutConnectionWithoutGapOrDuplicate) {
    source.request({requestFor("IU", "ANMO", "00", "BHZ"), requestFor("IU", "COLA", "00", "BHZ")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.count("IU.ANMO.00.BHZ") >= 2; }, 10000));
    for (int cut = 0; cut < 2; ++cut) {
        const std::size_t before = got.count("IU.ANMO.00.BHZ");
        s.server.cutNextPacket();
        ASSERT_TRUE(QTest::qWaitFor([&] { return got.losses() > cut; }, 10000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return got.count("IU.ANMO.00.BHZ") >= before + 3; }, 10000));
    }
    EXPECT_EQ(s.server.connections(), 3);
    // The later connections ask for each station's next packet by number.
    const auto sent = s.server.received();
    ASSERT_EQ(sent.size(), 3u);
    const auto anmo = source.lastSequence(QStringLiteral("IU.ANMO"));
    ASSERT_TRUE(anmo);
    EXPECT_NE(sent[1].find("STATION ANMO IU\r\nSELECT 00BHZ.D\r\nDATA "), std::string::npos);
    expectSeamless(got.segments["IU.ANMO.00.BHZ"]);
    expectSeamless(got.segments["IU.COLA.00.BHZ"]);
}

TEST_F(SeedLinkStream, ARefusedStationFailsOnceWhileTheOthersStream) {
    s.server.refuseStation("IU", "COLA");
    source.request({requestFor("IU", "COLA", "00", "BHZ"), requestFor("IU", "COLA", "00", "LHZ"),
                    requestFor("IU", "ANMO", "00", "BHZ")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.count("IU.ANMO.00.BHZ") >= 2; }, 10000));
    // A reconnect does not ask for the refused station again, nor report it again.
    s.server.cutNextPacket();
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.server.connections() == 2 && got.count("IU.ANMO.00.BHZ") >= 5; }, 10000));
    ASSERT_EQ(got.failures.size(), 2u);
    for (const auto& [index, failure] : got.failures) {
        EXPECT_LT(index, 2);
        EXPECT_EQ(failure.kind, AcquisitionFailure::Kind::Refused);
        EXPECT_EQ(failure.detail, u"the SeedLink server refused station IU.COLA");
    }
    EXPECT_EQ(s.server.received()[1].find("COLA"), std::string::npos);
    EXPECT_EQ(got.count("IU.COLA.00.BHZ"), 0u);
}

TEST_F(SeedLinkStream, MisbehaviourResetsTheConnectionAndStreamingGoesOn) {
    source.request({requestFor("IU", "ANMO", "00", "BHZ")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.count("IU.ANMO.00.BHZ") >= 2; }, 10000));
    const std::vector<std::pair<const char*, void (demo::SeedLinkServer::*)()>> faults = {
        {"garbage", &demo::SeedLinkServer::garbleNextPacket},
        {"record length", &demo::SeedLinkServer::lieInNextRecord},
        {"sequence step back", &demo::SeedLinkServer::stepBackNextPacket}};
    int expected = 0;
    for (const auto& [name, fault] : faults) {
        SCOPED_TRACE(name);
        const std::size_t before = got.count("IU.ANMO.00.BHZ");
        (s.server.*fault)();
        ++expected;
        ASSERT_TRUE(QTest::qWaitFor([&] { return got.losses() >= expected; }, 10000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return got.count("IU.ANMO.00.BHZ") >= before + 2; }, 10000));
        EXPECT_EQ(source.link(), SeedLinkSource::Link::Streaming);
    }
    EXPECT_EQ(got.losses(), 3);
    expectSeamless(got.segments["IU.ANMO.00.BHZ"]);
}

TEST_F(SeedLinkStream, ASilentServerIsDroppedAfterTheIdleLimit) {
    source.setIdleLimit(1500ms); // records come every half second
    source.request({requestFor("IU", "ANMO", "00", "BHZ")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.count("IU.ANMO.00.BHZ") >= 1; }, 10000));
    s.server.setSilent(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.losses() >= 1; }, 8000));
    EXPECT_EQ(got.losses(), 1);
    EXPECT_TRUE(got.links.back().second.contains(u"silent")) << got.links.back().second.toStdString();
    s.server.setSilent(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return source.link() == SeedLinkSource::Link::Streaming; }, 5000));
    EXPECT_GE(s.server.connections(), 2);
}

TEST(TraceHealth, LatencyAndMissingShareOfAKnownGap) {
    TraceStore store(std::chrono::hours(2));
    const ChannelId ch{QStringLiteral("IU"), QStringLiteral("ANMO"), QStringLiteral("00"),
                       QStringLiteral("BHZ")};
    const Time now = civil::dateOf(2026, 3, 1, 12, 0, 0);
    store.setClock([now] { return now; });
    // 600 s window: samples from -600 to -400 and from -300 to -30 (a 100 s gap, 30 s late).
    store.feed({ch, civil::addSeconds(now, -600), 1.0, std::vector<float>(200, 1.0f)});
    store.feed({ch, civil::addSeconds(now, -300), 1.0, std::vector<float>(270, 1.0f)});
    const auto h = traceHealth(store, ch, now, 600, 300);
    ASSERT_TRUE(h);
    EXPECT_NEAR(h->latencySeconds, 30, 1e-6);
    EXPECT_NEAR(h->missingShare, 100.0 / 600.0, 1e-3);
    EXPECT_FALSE(h->silent);
    EXPECT_EQ(h->text(), u"latency 30 s, 17% missing");
    const auto later = traceHealth(store, ch, civil::addSeconds(now, 600), 600, 300);
    ASSERT_TRUE(later);
    EXPECT_TRUE(later->silent);
    EXPECT_EQ(later->text(), u"latency 11 min, 0% missing");
    EXPECT_FALSE(traceHealth(store, {}, now, 600, 300));
}
