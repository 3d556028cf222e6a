// Several SeedLink servers as one source: each server's stream list (INFO STREAMS) read and
// parsed, each channel routed to the first server that carries it, one connection per server;
// and the server list as the setting writes it.
#include "SeedLinkTesting.h"

#include "TestServer.h"
#include "acquisition/SeedLinkStreamList.h"

#include <QTest>

namespace {

using namespace std::chrono_literals;

// What a public server's answer to INFO STREAMS looks like (written after the protocol's
// documentation): blank locations written empty or as two blanks, log and timing streams
// beside the data, a description with an entity, a station whose code no record can hold.
const char kStreams[] = R"(<?xml version="1.0" encoding="utf-8"?>
<seedlink software="SeedLink v3.1 (2020.075 RingServer) :: SLPROTO:3.1 CAP EXTREPLY NSWILDCARD BATCH WS:13"
          organization="Example Data Centre" started="2024-03-01 09:12:44">
  <station name="APE" network="GE" description="GEOFON Station Apirathos, Naxos"
           begin_seq="7A2B10" end_seq="7C01FF" stream_check="enabled">
    <stream location="" seedname="BHZ" type="D" begin_time="2024-03-12 08:00:01" end_time="2024-03-12 09:59:58"/>
    <stream location="" seedname="LOG" type="L" begin_time="2024-03-12 08:03:11" end_time="2024-03-12 09:41:02"/>
    <stream location="00" seedname="HHZ" type="D" begin_time="2024-03-12 08:00:01" end_time="2024-03-12 09:59:59"/>
    <stream location="10" seedname="HHZ" type="D" begin_time="2024-03-12 08:00:01" end_time="2024-03-12 09:59:59"/>
    <stream location="" seedname="ACE" type="T" begin_time="2024-03-12 08:00:00" end_time="2024-03-12 09:00:00"/>
  </station>
  <station name="ICEZ" network="2H" description="2H Station &amp; Co" begin_seq="CCCB96" end_seq="723568" stream_check="enabled">
    <stream location="  " seedname="BH1" type="D" begin_time="2017-10-16 17:46:10" end_time="2017-10-16 23:04:12"/>
  </station>
  <station name="TOOLONG" network="XX" description="seven letters" begin_seq="000001" end_seq="000002">
    <stream location="" seedname="BHZ" type="D" begin_time="2024-03-12 08:00:01" end_time="2024-03-12 09:59:58"/>
  </station>
</seedlink>
)";

ChannelId id(const char* seed) {
    return *ChannelId::fromSeedId(QString::fromLatin1(seed));
}

std::vector<seedlink::StreamEntry> entries(std::initializer_list<const char*> seeds) {
    std::vector<seedlink::StreamEntry> out;
    for (const char* s : seeds) {
        ChannelId c = id(s);
        c.location = seedlink::plainLocation(c.location);
        out.push_back({c, QString()});
    }
    return out;
}

demo::SeedLinkServer::Options carrying(std::vector<std::string> stations) {
    auto o = quickRecords();
    o.only = std::move(stations);
    return o;
}

} // namespace

TEST(SeedLinkStreamList, ReadsTheDataStreamsOfAPublicServersAnswer) {
    QString why;
    const auto streams = seedlink::parseStreamList(kStreams, &why);
    ASSERT_TRUE(streams) << why.toStdString();
    QStringList got;
    for (const auto& e : *streams)
        got << e.channel.seedId() + u'|' + e.description;
    EXPECT_EQ(got, (QStringList{"GE.APE..BHZ|GEOFON Station Apirathos, Naxos",
                                "GE.APE.00.HHZ|GEOFON Station Apirathos, Naxos",
                                "GE.APE.10.HHZ|GEOFON Station Apirathos, Naxos",
                                "2H.ICEZ..BH1|2H Station & Co"}));
    const std::pair<const char*, const char*> bad[] = {
        {"<html><body>Service Unavailable</body></html>", "not a SeedLink stream list"},
        {"<seedlink><station name=\"A\" network=\"B\">", "a stream list that is not XML"},
        {"", "an empty stream list"},
        {"<?xml version=\"1.0\"?>", "an empty stream list"},
    };
    for (const auto& [text, reason] : bad) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(seedlink::parseStreamList(text, &why));
        EXPECT_TRUE(why.startsWith(QLatin1StringView(reason))) << why.toStdString();
    }
    // An empty list is a list.
    const auto none = seedlink::parseStreamList("<seedlink software=\"x\"/>");
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
}

TEST(SeedLinkStreamList, EachChannelGoesToTheFirstServerCarryingIt) {
    const seedlink::StreamLists lists = {
        entries({"IU.ANMO.00.BHZ", "IU.COLA.00.BHZ"}),
        entries({"IU.HRV.00.BHZ", "IU.ANMO.00.BHZ", "TA.SSPA.--.BHZ"}),
        std::nullopt, // this server's list could not be had
        entries({"TA.SSPA.00.BHZ"}),
    };
    struct Row {
        const char* channel;
        int server;
    };
    const Row rows[] = {
        {"IU.ANMO.00.BHZ", 0}, {"IU.COLA.00.BHZ", 0},
        {"IU.HRV.00.BHZ", 1},  {"TA.SSPA.--.BHZ", 1}, // "--" is the blank location
        {"TA.SSPA..BHZ", 1},   {"TA.SSPA.00.BHZ", 3}, // a known list beats an unknown one
        {"IU.ANMO.10.BHZ", 2}, // no list holds it: the server that may hold anything
        {"IU.KONO.00.BHZ", 2},
    };
    std::vector<ChannelId> channels;
    for (const Row& r : rows)
        channels.push_back(id(r.channel));
    const auto route = seedlink::routeChannels(channels, lists);
    ASSERT_EQ(route.size(), std::size(rows));
    for (std::size_t i = 0; i < route.size(); ++i)
        EXPECT_EQ(route[i], rows[i].server) << rows[i].channel;
    // Every list known: what none holds goes nowhere.
    const seedlink::StreamLists known = {lists[0], lists[1]};
    EXPECT_EQ(seedlink::routeChannels({id("IU.KONO.00.BHZ"), id("IU.HRV.00.BHZ")}, known),
              (std::vector<int>{-1, 1}));
    EXPECT_EQ(seedlink::routeChannels({id("IU.KONO.00.BHZ")}, {}), (std::vector<int>{-1}));
}

TEST(SeedLinkServerList, TheSettingTakesOneServerOrACommaSeparatedList) {
    using List = std::vector<std::pair<QString, quint16>>;
    EXPECT_EQ(SeedLinkSource::parseServers("rtserve.iris.washington.edu:18000"),
              (List{{"rtserve.iris.washington.edu", 18000}}));
    EXPECT_EQ(SeedLinkSource::parseServers(" a.example:18000 , 127.0.0.1:18001,a.example:18000"),
              (List{{"a.example", 18000}, {"127.0.0.1", 18001}}));
    for (const char* bad :
         {"", "a.example", "a.example:0", "a.example:70000", "a.example:18000,", ",a.example:18000",
          "a b:18000", "a.example:18000;b:1", "a\r\nEND:18000"})
        EXPECT_FALSE(SeedLinkSource::parseServers(bad)) << bad;
    QString many;
    for (int i = 0; i <= SeedLinkSource::kMaxServers; ++i)
        many += QStringLiteral("h%1:18000,").arg(i);
    many.chop(1);
    EXPECT_FALSE(SeedLinkSource::parseServers(many));
    SeedLinkSource source;
    ASSERT_TRUE(source.setServer("a.example:1, b.example:2"));
    EXPECT_EQ(source.server(), u"a.example:1, b.example:2");
    EXPECT_FALSE(source.setServer("nonsense"));
    EXPECT_EQ(source.server(), u"a.example:1, b.example:2");
}

TEST(SeedLinkStreamList, AskedOfTheDemoServerItListsEveryStreamItCarries) {
    Server s(carrying({"IU.ANMO", "TA.SSPA"}));
    const auto answer =
        seedlink::fetchStreamList("127.0.0.1", static_cast<quint16>(s.server.port()), nullptr, 10s);
    ASSERT_TRUE(answer.streams) << answer.why.toStdString();
    QStringList got;
    for (const auto& e : *answer.streams)
        got << e.channel.seedId();
    EXPECT_EQ(got,
              (QStringList{"IU.ANMO.00.BHZ", "IU.ANMO.00.BHN", "IU.ANMO.00.BHE", "IU.ANMO.00.LHZ",
                           "TA.SSPA..BHZ", "TA.SSPA..BHN", "TA.SSPA..BHE", "TA.SSPA..LHZ"}));
    EXPECT_EQ(answer.streams->front().description, u"Albuquerque, New Mexico, USA");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return s.server.received().front() == "HELLO\r\nINFO STREAMS\r\nBYE\r\n"; }, 2000))
        << s.server.received().front();
    // One that resets every connection, one that is not there, and a cancelled question.
    s.server.setResetOnAccept(true);
    const auto reset =
        seedlink::fetchStreamList("127.0.0.1", static_cast<quint16>(s.server.port()), nullptr, 10s);
    EXPECT_FALSE(reset.streams);
    EXPECT_FALSE(reset.why.isEmpty());
    EXPECT_EQ(s.server.connections(), 2); // one connect, not a burst
    const auto absent =
        seedlink::fetchStreamList("127.0.0.1", static_cast<quint16>(unusedPort()), nullptr, 10s);
    EXPECT_FALSE(absent.streams);
    const std::atomic<bool> cancelled{true};
    s.server.setResetOnAccept(false);
    const auto cancel = seedlink::fetchStreamList(
        "127.0.0.1", static_cast<quint16>(s.server.port()), &cancelled, 10s);
    EXPECT_FALSE(cancel.streams);
    EXPECT_EQ(cancel.why, u"cancelled");
}

TEST(SeedLinkServers, EachChannelStreamsFromTheFirstServerThatCarriesIt) {
    Server a(carrying({"IU.ANMO", "IU.COLA"}));
    Server b(carrying({"IU.HRV", "TA.SSPA", "IU.ANMO"}));
    SeedLinkSource source;
    source.setBackoff(50ms, 200ms);
    Collector got(source);
    ASSERT_TRUE(source.setServer(a.address() + u',' + b.address()));
    source.request({requestFor("IU", "ANMO", "00", "BHZ"), requestFor("IU", "HRV", "00", "BHZ"),
                    requestFor("IU", "COLA", "00", "LHZ"), requestFor("TA", "SSPA", "--", "BHZ"),
                    requestFor("IU", "KONO", "00", "BHZ")});
    EXPECT_EQ(source.link(), SeedLinkSource::Link::Connecting);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return got.count("IU.ANMO.00.BHZ") >= 2 && got.count("IU.HRV.00.BHZ") >= 2 &&
                   got.count("IU.COLA.00.LHZ") >= 2 && got.count("TA.SSPA.--.BHZ") >= 2;
        },
        15000));
    EXPECT_EQ(source.routes(),
              (QStringList{a.address(), b.address(), a.address(), b.address(), QString()}));
    ASSERT_EQ(got.failures.size(), 1u);
    EXPECT_EQ(got.failures[0].first, 4);
    EXPECT_EQ(got.failures[0].second.detail,
              u"none of the SeedLink servers carries IU.KONO.00.BHZ");
    EXPECT_EQ(source.link(), SeedLinkSource::Link::Streaming);
    // One stream-list question and one data connection per server, each with its own stations.
    const auto fromA = a.server.received(), fromB = b.server.received();
    ASSERT_EQ(fromA.size(), 2u);
    ASSERT_EQ(fromB.size(), 2u);
    EXPECT_EQ(fromA[0], "HELLO\r\nINFO STREAMS\r\nBYE\r\n");
    EXPECT_EQ(fromA[1],
              "HELLO\r\nSTATION ANMO IU\r\nSELECT 00BHZ.D\r\nDATA\r\nSTATION COLA IU\r\nSELECT "
              "00LHZ.D\r\nDATA\r\nEND\r\n");
    EXPECT_EQ(fromB[1],
              "HELLO\r\nSTATION HRV IU\r\nSELECT 00BHZ.D\r\nDATA\r\nSTATION SSPA TA\r\nSELECT "
              "BHZ.D\r\nDATA\r\nEND\r\n");
    // The link lines name their server; each server's link goes on its own.
    EXPECT_NE(std::find(got.servers.begin(), got.servers.end(), a.address()), got.servers.end());
    EXPECT_NE(std::find(got.servers.begin(), got.servers.end(), b.address()), got.servers.end());
    const std::size_t before = got.count("IU.ANMO.00.BHZ");
    b.server.cutNextPacket();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return got.losses() == 1 && got.count("IU.ANMO.00.BHZ") > before; }, 10000));
    EXPECT_EQ(got.servers[std::size_t(std::find_if(got.links.begin(), got.links.end(),
                                                   [](const auto& l) {
                                                       return l.first == SeedLinkSource::Link::Lost;
                                                   }) -
                                      got.links.begin())],
              b.address());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return source.link() == SeedLinkSource::Link::Streaming; }, 10000));
    EXPECT_EQ(a.server.connections(), 2);
    EXPECT_EQ(b.server.connections(), 3);
    for (const char* ch : {"IU.ANMO.00.BHZ", "IU.HRV.00.BHZ", "TA.SSPA.--.BHZ"})
        expectSeamless(got.segments[QString::fromLatin1(ch)]);
}

TEST(SeedLinkServers, AServerWithoutAListTakesWhatNoListHolds) {
    Server a(carrying({"IU.ANMO"}));
    const QString absent = QStringLiteral("127.0.0.1:%1").arg(unusedPort());
    SeedLinkSource source;
    source.setBackoff(50ms, 200ms);
    Collector got(source);
    ASSERT_TRUE(source.setServer(absent + u',' + a.address()));
    source.request({requestFor("IU", "ANMO", "00", "BHZ"), requestFor("IU", "HRV", "00", "BHZ")});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return got.count("IU.ANMO.00.BHZ") >= 2 && got.losses() >= 1; }, 15000));
    EXPECT_EQ(source.routes(), (QStringList{a.address(), absent}));
    EXPECT_TRUE(got.failures.empty());
    EXPECT_EQ(source.link(), SeedLinkSource::Link::Lost);
    EXPECT_EQ(got.servers[std::size_t(std::find_if(got.links.begin(), got.links.end(),
                                                   [](const auto& l) {
                                                       return l.first == SeedLinkSource::Link::Lost;
                                                   }) -
                                      got.links.begin())],
              absent);
}

TEST(SeedLinkServers, NoServerCarryingAnyChannelSaysSoOnce) {
    Server a(carrying({"IU.ANMO"})), b(carrying({"IU.COLA"}));
    SeedLinkSource source;
    Collector got(source);
    ASSERT_TRUE(source.setServer(a.address() + u',' + b.address()));
    source.request({requestFor("IU", "HRV", "00", "BHZ"), requestFor("IU", "KONO", "00", "BHZ")});
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return source.link() == SeedLinkSource::Link::Refused; }, 15000));
    EXPECT_EQ(got.failures.size(), 2u);
    ASSERT_EQ(got.links.size(), 1u);
    EXPECT_EQ(got.links[0].second, u"the server offers none of these stations");
    EXPECT_EQ(got.servers[0], a.address() + QStringLiteral(", ") + b.address());
    // Only the stream lists were asked for.
    EXPECT_EQ(a.server.connections() + b.server.connections(), 2);
}
