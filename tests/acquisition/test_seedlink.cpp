// The SeedLink source against the demo's SeedLink server on 127.0.0.1: the handshake, records
// of each encoding, resuming without a gap or a duplicate (across the wrap of the sequence
// numbers too), refusals, records that cannot be used, a server that misbehaves, restarts,
// falls silent or keeps closing; codes that must never reach a server; and the health figures
// of a channel.
#include "SeedLinkTesting.h"

#include "LogCapture.h"
#include "acquisition/SeedLinkProtocol.h"
#include "acquisition/TraceHealth.h"
#include "store/TraceStore.h"

#include <QTest>

namespace {

using namespace std::chrono_literals;

// A source on the demo's server, reconnecting quickly, with everything it delivers collected.
class SeedLinkStream : public ::testing::Test {
protected:
    explicit SeedLinkStream(demo::SeedLinkServer::Options options = quickRecords())
        : s(std::move(options)) {}
    void SetUp() override {
        source.setBackoff(50ms, 200ms);
        ASSERT_TRUE(source.setServer(s.address()));
    }
    Server s;
    SeedLinkSource source;
    Collector got{source};
};

// Ten records a second, for tests that go round many times.
class SeedLinkFast : public SeedLinkStream {
protected:
    static demo::SeedLinkServer::Options fast() {
        auto o = quickRecords();
        o.recordSeconds = 0.1;
        return o;
    }
    SeedLinkFast() : SeedLinkStream(fast()) {}
};

std::string hex6(std::uint32_t n) {
    return QStringLiteral("%1").arg(n, 6, 16, QLatin1Char('0')).toUpper().toStdString();
}

// One demo record of IU.ANMO.00.BHZ in an encoding, to be spoiled by the caller.
std::array<char, 512> recordIn(int encoding) {
    std::vector<float> samples(100);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(i * 7 % 41);
    auto records = demo::packRecords("IU", "ANMO", "00", "BHZ", civil::dateOf(2026, 3, 1, 12, 0, 0),
                                     0.05, samples, encoding);
    EXPECT_FALSE(records.empty());
    return records.empty() ? std::array<char, 512>{} : records.front();
}

void setCount(std::array<char, 512>& r, int count) {
    r[30] = static_cast<char>(count >> 8);
    r[31] = static_cast<char>(count & 0xff);
}

} // namespace

TEST(SeedLinkProtocol, RecordsOfEachEncodingDecodeToTheSamplesPacked) {
    const Time start = civil::dateOf(2026, 3, 1, 12, 0, 0);
    std::vector<float> samples;
    for (int i = 0; i < 300; ++i)
        samples.push_back(
            static_cast<float>(std::lround(5000.0 * std::sin(i * 0.07) + (i % 7) * 13)));
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
            decoded.insert(decoded.end(), record->samples.samples.begin(),
                           record->samples.samples.end());
        }
        EXPECT_EQ(first, start);
        EXPECT_EQ(decoded, samples);
    }
    // Steim frames of either byte order; a record whose differences were damaged no longer ends
    // on its own last value and is refused rather than drawn.
    for (const int encoding : {DE_STEIM1, DE_STEIM2}) {
        for (const bool big : {true, false}) {
            SCOPED_TRACE(testing::Message() << encoding << (big ? " big" : " little"));
            auto records =
                demo::packRecords("IU", "ANMO", "00", "BHZ", start, 0.05, samples, encoding, big);
            ASSERT_FALSE(records.empty());
            auto record = records.front();
            const auto sound = seedlink::decodeRecord(record.data(), 512);
            ASSERT_TRUE(sound);
            EXPECT_TRUE(std::equal(sound->samples.samples.begin(), sound->samples.samples.end(),
                                   samples.begin()));
            record[64 + 64 + 5 * 4 + (big ? 3 : 0)] ^= 1; // a difference in the second frame
            QString why;
            EXPECT_FALSE(seedlink::decodeRecord(record.data(), 512, &why));
            EXPECT_EQ(why, u"a record whose Steim frames fail their own check (damaged data)");
        }
    }
    // Not a record: nothing, and why.
    std::array<char, 512> junk{};
    junk.fill('x');
    QString why;
    EXPECT_FALSE(seedlink::decodeRecord(junk.data(), junk.size(), &why));
    EXPECT_FALSE(why.isEmpty());
}

TEST(SeedLinkProtocol, RecordsThatCannotBeUsedAreRefusedButStillNameTheirChannel) {
    auto zero = recordIn(DE_STEIM2);
    setCount(zero, 0);
    auto sro = recordIn(DE_STEIM2);
    sro[48 + 4] = 30; // blockette 1000's encoding
    // 100 INT32 samples behind a 64-byte header leave room for 112; a count of 150 would have
    // libmseed read 88 bytes past the record.
    auto int32Past = recordIn(DE_INT32);
    setCount(int32Past, 150);
    auto int32Full = recordIn(DE_INT32);
    setCount(int32Full, 112); // exactly the room: read, the samples after 100 being zeros
    auto float64Past = recordIn(DE_FLOAT32);
    float64Past[48 + 4] = 5; // FLOAT64: 100 of them do not fit
    auto steimPast = recordIn(DE_STEIM1);
    setCount(steimPast, 7 * 15 * 7 + 1);
    auto day400 = recordIn(DE_STEIM2); // the start's day of the year, at 22
    day400[22] = static_cast<char>(400 >> 8);
    day400[23] = static_cast<char>(400 & 0xff);
    auto ages = recordIn(DE_STEIM2); // a rate of 1 / 32768², its last sample 100 000 years on
    for (const int at : {32, 34}) {
        ages[at] = static_cast<char>(0x80);
        ages[at + 1] = 0;
    }
    const auto text = demo::packText("<seedlink/>");
    ASSERT_EQ(text.size(), 1u);
    const std::pair<std::array<char, 512>, const char*> rows[] = {
        {zero, "a record without samples"},
        {sro, "a record in an encoding not read here"},
        {int32Past, "a record whose samples would not fit in it"},
        {float64Past, "a record whose samples would not fit in it"},
        {steimPast, "a record whose samples would not fit in it"},
        {day400, "a record whose start time is no date"},
        {ages, "a record from an impossible time"},
        {text[0], "a record of text, not samples"},
    };
    for (const auto& [record, reason] : rows) {
        SCOPED_TRACE(reason);
        QString why;
        EXPECT_FALSE(seedlink::decodeRecord(record.data(), record.size(), &why));
        EXPECT_EQ(why, QString::fromLatin1(reason));
    }
    for (std::size_t i = 0; i + 1 < std::size(rows); ++i) // all but the text record
        EXPECT_EQ(seedlink::recordChannel(rows[i].first.data(), 512)->seedId(), u"IU.ANMO.00.BHZ");
    const auto full = seedlink::decodeRecord(int32Full.data(), int32Full.size());
    ASSERT_TRUE(full);
    EXPECT_EQ(full->samples.size(), 112u);
    EXPECT_EQ(seedlink::recordText(text[0].data(), 512), QByteArray("<seedlink/>"));
    EXPECT_FALSE(seedlink::recordText(zero.data(), 512));
    std::array<char, 512> unprintable = zero;
    unprintable[9] = '\x1b';
    EXPECT_FALSE(seedlink::recordChannel(unprintable.data(), unprintable.size()));
}

TEST(SeedLinkProtocol, FramingTakesPacketsWholeAndSpotsGarbageEarly) {
    QByteArray buffer = "SL00002A" + QByteArray(512, '\0') + "SL00";
    seedlink::Packet packet;
    EXPECT_EQ(seedlink::takePacket(buffer, packet), seedlink::Take::Packet);
    EXPECT_EQ(packet.sequence, 0x2Au);
    EXPECT_EQ(seedlink::takePacket(buffer, packet), seedlink::Take::NeedMore);
    QByteArray html = "<html>";
    EXPECT_EQ(seedlink::takePacket(html, packet), seedlink::Take::Garbage);
    // INFO answers: "*" while more follow; the end of a window: END.
    QByteArray info = "SLINFO *" + QByteArray(512, 'a') + "SLINFO  " + QByteArray(512, 'b') + "EN";
    EXPECT_EQ(seedlink::takePacket(info, packet), seedlink::Take::Info);
    EXPECT_TRUE(packet.moreInfo);
    EXPECT_EQ(seedlink::takePacket(info, packet), seedlink::Take::Info);
    EXPECT_FALSE(packet.moreInfo);
    EXPECT_EQ(packet.record[0], 'b');
    EXPECT_EQ(seedlink::takePacket(info, packet), seedlink::Take::NeedMore);
    info += "DSL";
    EXPECT_EQ(seedlink::takePacket(info, packet), seedlink::Take::End);
    EXPECT_EQ(info, "SL");
    for (const char* bad : {"SLINFX", "SLINFO-", "ERROR\r\n", "SL00G", "S?"}) {
        QByteArray b = bad;
        EXPECT_EQ(seedlink::takePacket(b, packet), seedlink::Take::Garbage) << bad;
    }
    EXPECT_EQ(seedlink::dataCommand(0xABCDEu), "DATA 0ABCDE\r\n");
    EXPECT_EQ(seedlink::dataCommand(0x1000000u), "DATA 000000\r\n");
    EXPECT_EQ(seedlink::selectCommand(QStringLiteral("--"), QStringLiteral("BHZ")),
              "SELECT BHZ.D\r\n");
    EXPECT_EQ(seedlink::selectCommand(QStringLiteral("10"), QStringLiteral("BHZ")),
              "SELECT 10BHZ.D\r\n");
    EXPECT_EQ(seedlink::timeCommand(civil::dateOf(2026, 1, 2, 3, 4, 5)), "TIME 2026,1,2,3,4,5\r\n");
    EXPECT_EQ(seedlink::infoCommand("STREAMS"), "INFO STREAMS\r\n");
}

TEST(SeedLinkProtocol, SequenceNumbersStepAcrossTheWrap) {
    struct Row {
        std::uint32_t from, to, step;
        bool behind;
    };
    const Row rows[] = {
        {5, 6, 1, false},
        {0xFFFFFF, 0, 1, false},
        {0xFFFFFE, 3, 5, false},
        {6, 6, 0, false},
        {6, 5, 0xFFFFFF, true},
        {0, 0xFFFFFF, 0xFFFFFF, true},
        {0x10, 0x800010, 0x800000, false},
        {0x10, 0x800011, 0x800001, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << r.from << " -> " << r.to);
        EXPECT_EQ(seedlink::sequenceStep(r.from, r.to), r.step);
        EXPECT_EQ(seedlink::isBehind(seedlink::sequenceStep(r.from, r.to)), r.behind);
    }
    EXPECT_EQ(seedlink::nextSequence(0xFFFFFF), 0u);
}

TEST(SeedLinkProtocol, OnlyCodesOfLettersAndDigitsThatFitARecordMayBeSent) {
    const auto id = [](const char* n, const char* s, const char* l, const char* c) {
        return ChannelId{QString::fromLatin1(n), QString::fromLatin1(s), QString::fromLatin1(l),
                         QString::fromLatin1(c)};
    };
    for (const ChannelId& ok : {id("IU", "ANMO", "00", "BHZ"), id("TA", "SSPA", "--", "BHZ"),
                                id("TA", "SSPA", "", "BHZ"), id("G", "A1234", "1", "L")})
        EXPECT_TRUE(seedlink::isStreamable(ok)) << ok.seedId().toStdString();
    const QString huge(3000, u'A');
    for (const ChannelId& bad :
         {id("IU", "AN\rMO", "00", "BHZ"), id("IU", "ANMO", "00", "BHZ\r\nEND"),
          id("IU", "AN\x1bMO", "00", "BHZ"), id("IU", "AN MO", "00", "BHZ"),
          id("", "ANMO", "00", "BHZ"), id("IU", "", "00", "BHZ"), id("IU", "ANMO", "00", ""),
          id("IUX", "ANMO", "00", "BHZ"), id("IU", "ANMOXY", "00", "BHZ"),
          id("IU", "ANMO", "000", "BHZ"), id("IU", "ANMO", "0 ", "BHZ"),
          id("IU", "ANMO", "00", "BHZZ"), id("IU", "ANMO", "-", "BHZ"),
          ChannelId{"IU", huge, "00", "BHZ"},
          ChannelId{"IU", QStringLiteral("AN") + QChar(0) + QStringLiteral("MO"), "00", "BHZ"}})
        EXPECT_FALSE(seedlink::isStreamable(bad)) << bad.seedId().toStdString();
}

TEST_F(SeedLinkStream, SendsTheHandshakeAndStreamsEachChannel) {
    const Time from = civil::addSeconds(datetext::now(), -30);
    source.request({requestFor("IU", "ANMO", "00", "BHZ", datetext::requestTime(from)),
                    requestFor("IU", "ANMO", "00", "LHZ", datetext::requestTime(from)),
                    requestFor("TA", "SSPA", "--", "BHZ", datetext::requestTime(from))});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return got.count("IU.ANMO.00.BHZ") >= 3 && got.count("TA.SSPA.--.BHZ") >= 3; },
        10000));
    const civil::Fields f = civil::fieldsOf(from);
    const std::string time = QStringLiteral("TIME %1,%2,%3,%4,%5,%6\r\n")
                                 .arg(f.year)
                                 .arg(f.month)
                                 .arg(f.day)
                                 .arg(f.hour)
                                 .arg(f.minute)
                                 .arg(f.second)
                                 .toStdString();
    ASSERT_FALSE(s.server.received().empty());
    EXPECT_EQ(s.server.received().front(),
              "HELLO\r\nSTATION ANMO IU\r\nSELECT 00BHZ.D\r\nSELECT 00LHZ.D\r\n" + time +
                  "STATION SSPA TA\r\nSELECT BHZ.D\r\n" + time + "END\r\n");
    EXPECT_EQ(source.link(), SeedLinkSource::Link::Streaming);
    EXPECT_EQ(got.servers.front(), s.address());
    // The first sample is at or before the time asked for; the blank location is the request's.
    EXPECT_LE(got.segments["IU.ANMO.00.BHZ"].front().start, civil::addSeconds(from, 1));
    expectSeamless(got.segments["IU.ANMO.00.BHZ"]);
}

TEST_F(SeedLinkStream, ResumesACutConnectionWithoutGapOrDuplicate) {
    // The number each station had reached when the link was lost.
    std::vector<std::optional<std::uint32_t>> atLoss;
    QObject::connect(&source, &SeedLinkSource::linkChanged, &source,
                     [&](SeedLinkSource::Link link) {
                         if (link == SeedLinkSource::Link::Lost)
                             atLoss.push_back(source.lastSequence(QStringLiteral("IU.ANMO")));
                     });
    source.request({requestFor("IU", "ANMO", "00", "BHZ"), requestFor("IU", "COLA", "00", "BHZ")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.count("IU.ANMO.00.BHZ") >= 2; }, 10000));
    for (int cut = 0; cut < 2; ++cut) {
        const std::size_t before = got.count("IU.ANMO.00.BHZ");
        s.server.cutNextPacket();
        ASSERT_TRUE(QTest::qWaitFor([&] { return got.losses() > cut; }, 10000));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return got.count("IU.ANMO.00.BHZ") >= before + 3; }, 10000));
    }
    EXPECT_EQ(s.server.connections(), 3);
    // The later connections ask for each station's next packet by number.
    const auto sent = s.server.received();
    ASSERT_EQ(sent.size(), 3u);
    ASSERT_EQ(atLoss.size(), 2u);
    for (std::size_t c = 0; c < 2; ++c) {
        ASSERT_TRUE(atLoss[c]);
        EXPECT_NE(sent[c + 1].find("STATION ANMO IU\r\nSELECT 00BHZ.D\r\nDATA " +
                                   hex6(seedlink::nextSequence(*atLoss[c])) + "\r\n"),
                  std::string::npos)
            << sent[c + 1];
    }
    expectSeamless(got.segments["IU.ANMO.00.BHZ"]);
    expectSeamless(got.segments["IU.COLA.00.BHZ"]);
}

class SeedLinkWrap : public SeedLinkStream {
protected:
    static demo::SeedLinkServer::Options nearTheWrap() {
        auto o = quickRecords();
        o.firstSequence = 0xFFFFF4;
        o.backlog = std::chrono::seconds(2); // a handful of packets before the wrap
        return o;
    }
    SeedLinkWrap() : SeedLinkStream(nearTheWrap()) {}
};

TEST_F(SeedLinkWrap, SequenceNumbersWrapWithoutAResetAndResumeAcrossIt) {
    source.request({requestFor("IU", "ANMO", "00", "BHZ",
                               datetext::requestTime(civil::addSeconds(datetext::now(), -2)))});
    // Past the wrap: the numbers start again at 0.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto last = source.lastSequence(QStringLiteral("IU.ANMO"));
            return last && *last < 0x100 && *last >= 4;
        },
        20000));
    EXPECT_EQ(got.losses(), 0);
    const std::size_t before = got.count("IU.ANMO.00.BHZ");
    s.server.cutNextPacket();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return got.losses() == 1 && got.count("IU.ANMO.00.BHZ") >= before + 3; }, 10000));
    EXPECT_EQ(got.losses(), 1);
    EXPECT_NE(s.server.received().back().find("DATA 0000"), std::string::npos)
        << s.server.received().back();
    expectSeamless(got.segments["IU.ANMO.00.BHZ"]);
}

TEST_F(SeedLinkFast, ARepeatedPacketIsDeliveredOnce) {
    source.request({requestFor("IU", "ANMO", "00", "BHZ")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.count("IU.ANMO.00.BHZ") >= 2; }, 10000));
    for (int i = 0; i < 3; ++i) {
        const std::size_t before = got.count("IU.ANMO.00.BHZ");
        s.server.repeatNextPacket();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return got.count("IU.ANMO.00.BHZ") >= before + 3; }, 10000));
    }
    EXPECT_EQ(got.losses(), 0);
    expectSeamless(got.segments["IU.ANMO.00.BHZ"]);
}

TEST_F(SeedLinkStream, ARefusedStationFailsOnceWhileTheOthersStream) {
    s.server.refuseStation("IU", "COLA");
    source.request({requestFor("IU", "COLA", "00", "BHZ"), requestFor("IU", "COLA", "00", "LHZ"),
                    requestFor("IU", "ANMO", "00", "BHZ")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.count("IU.ANMO.00.BHZ") >= 2; }, 10000));
    // A reconnect does not ask for the refused station again, nor report it again.
    s.server.cutNextPacket();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return s.server.connections() == 2 && got.count("IU.ANMO.00.BHZ") >= 5; }, 10000));
    ASSERT_EQ(got.failures.size(), 2u);
    for (const auto& [index, failure] : got.failures) {
        EXPECT_LT(index, 2);
        EXPECT_EQ(failure.kind, AcquisitionFailure::Kind::Refused);
        EXPECT_EQ(failure.detail, QStringLiteral("the server ") + s.address() +
                                      QStringLiteral(" refused station IU.COLA"));
    }
    EXPECT_EQ(s.server.received()[1].find("COLA"), std::string::npos);
    EXPECT_EQ(got.count("IU.COLA.00.BHZ"), 0u);
}

TEST_F(SeedLinkStream, ARefusedChannelLeavesTheRestOfItsStationStreaming) {
    s.server.refuseSelect("IU", "ANMO", "00LHZ.D");
    source.request({requestFor("IU", "ANMO", "00", "LHZ"), requestFor("IU", "ANMO", "00", "BHZ")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.count("IU.ANMO.00.BHZ") >= 2; }, 10000));
    s.server.cutNextPacket();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return s.server.connections() == 2 && got.count("IU.ANMO.00.BHZ") >= 5; }, 10000));
    ASSERT_EQ(got.failures.size(), 1u);
    EXPECT_EQ(got.failures[0].first, 0);
    EXPECT_EQ(got.failures[0].second.detail, QStringLiteral("the server ") + s.address() +
                                                 QStringLiteral(" refused channel IU.ANMO.00.LHZ"));
    const std::string again = s.server.received()[1];
    EXPECT_NE(again.find("STATION ANMO IU\r\nSELECT 00BHZ.D\r\nDATA "), std::string::npos) << again;
    EXPECT_EQ(again.find("LHZ"), std::string::npos);
    EXPECT_EQ(source.link(), SeedLinkSource::Link::Streaming);
}

TEST_F(SeedLinkStream, EveryStationRefusedSaysSoAndStopsAsking) {
    s.server.refuseStation("IU", "ANMO");
    s.server.refuseSelect("IU", "COLA", "00BHZ.D");
    source.request({requestFor("IU", "ANMO", "00", "BHZ"), requestFor("IU", "COLA", "00", "BHZ")});
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return source.link() == SeedLinkSource::Link::Refused; }, 10000));
    ASSERT_EQ(got.links.size(), 1u);
    EXPECT_EQ(got.links[0].second, u"the server offers none of these stations");
    EXPECT_EQ(got.failures.size(), 2u);
    QTest::qWait(400); // several backoffs: no attempt follows
    EXPECT_EQ(s.server.connections(), 1);
    EXPECT_EQ(source.attempts(), 1);
    EXPECT_EQ(s.server.received()[0].find("END"), std::string::npos);
}

TEST_F(SeedLinkStream, CodesNoServerTakesAreReportedAndNeverSent) {
    const QString huge(3000, u'A');
    source.request(
        {requestFor("IU", "AN\rMO", "00", "BHZ"), requestFor("IU", "ANMO", "00", "BHZ\r\nEND"),
         requestFor("IU", "AN\x1bMO", "00", "BHZ"), requestFor("IU", huge, "00", "BHZ"),
         requestFor("IU", QStringLiteral("AN") + QChar(0) + QStringLiteral("MO"), "00", "BHZ"),
         requestFor("IU", "ANMO", "0 ", "BHZ"), requestFor("IU", "ANMO", "00", "BHZ")});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return got.count("IU.ANMO.00.BHZ") >= 2 && got.failures.size() >= 6; }, 10000));
    ASSERT_EQ(got.failures.size(), 6u);
    for (const auto& [index, failure] : got.failures) {
        EXPECT_LT(index, 6);
        EXPECT_EQ(failure.kind, AcquisitionFailure::Kind::Refused);
        EXPECT_TRUE(failure.detail.contains(u"not ones a SeedLink server takes"))
            << failure.detail.toStdString();
        EXPECT_LT(failure.detail.size(), 200);
    }
    EXPECT_EQ(s.server.received().front(),
              std::string("HELLO\r\nSTATION ANMO IU\r\nSELECT 00BHZ.D\r\nDATA\r\nEND\r\n"));
}

TEST_F(SeedLinkStream, MisbehaviourResetsTheConnectionAndStreamingGoesOn) {
    source.request({requestFor("IU", "ANMO", "00", "BHZ")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.count("IU.ANMO.00.BHZ") >= 2; }, 10000));
    const std::vector<std::pair<const char*, void (demo::SeedLinkServer::*)()>> faults = {
        {"garbage", &demo::SeedLinkServer::garbleNextPacket},
        {"sequence step back", &demo::SeedLinkServer::stepBackNextPacket},
        {"HTML after END", &demo::SeedLinkServer::htmlAfterNextEnd}};
    int expected = 0;
    for (const auto& [name, fault] : faults) {
        SCOPED_TRACE(name);
        const std::size_t before = got.count("IU.ANMO.00.BHZ");
        const int connections = s.server.connections();
        const bool html = std::string(name) == "HTML after END";
        (s.server.*fault)();
        if (html)
            s.server.cutNextPacket(); // the next handshake's END is followed by HTML
        ++expected;
        ASSERT_TRUE(QTest::qWaitFor([&] { return got.losses() >= expected; }, 10000));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return source.link() == SeedLinkSource::Link::Streaming; }, 10000));
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return got.count("IU.ANMO.00.BHZ") >= before + 2; }, 10000));
        EXPECT_EQ(source.link(), SeedLinkSource::Link::Streaming);
        // The HTML costs a connection of its own (the link, already lost, is not lost again).
        EXPECT_EQ(s.server.connections(), connections + (html ? 2 : 1));
    }
    EXPECT_EQ(got.losses(), 3);
    EXPECT_TRUE(std::any_of(got.links.begin(), got.links.end(), [](const auto& l) {
        return l.second == u"bytes that are not a SeedLink packet";
    }));
    expectSeamless(got.segments["IU.ANMO.00.BHZ"]);
}

TEST_F(SeedLinkFast, TheResetPathHoldsWhenRunManyTimesInOneProcess) {
    // Each round releases the socket from inside its own handler; whatever is touched after
    // that must still live (valgrind watches this in the engine's test pass).
    source.setBackoff(1ms, 1ms);
    source.request({requestFor("IU", "ANMO", "00", "BHZ")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.count("IU.ANMO.00.BHZ") >= 1; }, 10000));
    for (int round = 1; round <= 20; ++round) {
        SCOPED_TRACE(round);
        const int lost = got.losses();
        if (round % 2)
            s.server.garbleNextPacket();
        else
            s.server.stepBackNextPacket();
        ASSERT_TRUE(QTest::qWaitFor([&] { return got.losses() > lost; }, 20000));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return source.link() == SeedLinkSource::Link::Streaming; }, 20000));
    }
    // A receiver that cancels from inside a delivery ends it there.
    int after = 0;
    QObject::connect(&source, &WaveformSource::segmentReceived, &source, [&](quint64 request, int) {
        ++after;
        source.cancel(request);
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return after >= 1; }, 10000));
    QTest::qWait(100);
    EXPECT_EQ(after, 1);
    EXPECT_EQ(source.link(), SeedLinkSource::Link::Idle);
}

TEST_F(SeedLinkStream, RecordsThatCannotBeUsedAreSkippedWithOneLineAndNeverAskedForAgain) {
    LogCapture log;
    source.request({requestFor("IU", "ANMO", "00", "BHZ")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.count("IU.ANMO.00.BHZ") >= 2; }, 10000));
    for (const auto fault :
         {&demo::SeedLinkServer::zeroSamplesInNextRecord,
          &demo::SeedLinkServer::undecodableNextRecord, &demo::SeedLinkServer::lieInNextRecord}) {
        const auto before = source.lastSequence(QStringLiteral("IU.ANMO"));
        const std::size_t count = got.count("IU.ANMO.00.BHZ");
        (s.server.*fault)();
        // The sequence moves on over the record skipped.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return *source.lastSequence(QStringLiteral("IU.ANMO")) >= *before + 3 &&
                       got.count("IU.ANMO.00.BHZ") >= count + 2;
            },
            10000));
    }
    EXPECT_EQ(got.losses(), 0);
    EXPECT_EQ(s.server.connections(), 1);
    ASSERT_EQ(log.count("SeedLink: skipped a record of IU.ANMO.00.BHZ from " + s.address() +
                        " (a record without samples)"),
              1)
        << log.lines().join(u'\n').toStdString();
    EXPECT_EQ(log.lines().size(), 1);
    // A new connection asks for a packet after the ones skipped.
    const std::uint32_t skipped = *source.lastSequence(QStringLiteral("IU.ANMO"));
    s.server.cutNextPacket();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return s.server.connections() == 2 && source.link() == SeedLinkSource::Link::Streaming;
        },
        10000));
    const std::string again = s.server.received()[1];
    const auto data = again.find("DATA ");
    ASSERT_NE(data, std::string::npos) << again;
    EXPECT_GT(std::stoul(again.substr(data + 5, 6), nullptr, 16), skipped);
}

TEST_F(SeedLinkStream, ARestartedServerIsAskedByTimeOnceAndNothingIsLostOrRepeated) {
    LogCapture log;
    source.request({requestFor("IU", "ANMO", "00", "BHZ"), requestFor("IU", "ANMO", "00", "LHZ")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.count("IU.ANMO.00.LHZ") >= 2; }, 10000));
    s.server.restartNumbering();
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.server.connections() >= 3; }, 10000));
    const std::size_t after = got.count("IU.ANMO.00.BHZ");
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.count("IU.ANMO.00.BHZ") >= after + 8; }, 10000));
    // Lost once (said once for the close and for the new numbers), asked by time once.
    EXPECT_EQ(got.losses(), 1);
    EXPECT_EQ(s.server.connections(), 3);
    EXPECT_EQ(log.count("SeedLink: the server " + s.address() +
                        " numbers its packets anew; IU.ANMO "
                        "resumes from its newest sample."),
              1);
    const auto sent = s.server.received();
    EXPECT_NE(sent[1].find("DATA "), std::string::npos);
    EXPECT_NE(sent[2].find("SELECT 00LHZ.D\r\nTIME "), std::string::npos) << sent[2];
    expectSeamless(got.segments["IU.ANMO.00.BHZ"]);
    expectSeamless(got.segments["IU.ANMO.00.LHZ"]);
}

class SeedLinkLocations : public SeedLinkStream {
protected:
    static demo::SeedLinkServer::Options mixed() {
        auto o = quickRecords();
        o.otherLocations = true;
        return o;
    }
    SeedLinkLocations() : SeedLinkStream(mixed()) {}
};

TEST_F(SeedLinkLocations, OnlyTheLocationAskedForIsDeliveredABlankOneMeaningBlank) {
    const QString from = datetext::requestTime(civil::addSeconds(datetext::now(), -20));
    source.request({requestFor("IU", "ANMO", "00", "BHZ", from),
                    requestFor("TA", "SSPA", "--", "BHZ", from),
                    requestFor("IU", "COLA", "10", "LHZ", from)});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return got.count("IU.ANMO.00.BHZ") >= 20 && got.count("TA.SSPA.--.BHZ") >= 20 &&
                   got.count("IU.COLA.10.LHZ") >= 10;
        },
        10000));
    // Each row is one sensor: one rate, one seamless run.
    for (const auto& [id, delta] :
         {std::pair{"IU.ANMO.00.BHZ", 0.05}, {"TA.SSPA.--.BHZ", 0.05}, {"IU.COLA.10.LHZ", 0.5}}) {
        SCOPED_TRACE(id);
        for (const Segment& seg : got.segments[QString::fromLatin1(id)])
            EXPECT_DOUBLE_EQ(seg.delta, delta);
        expectSeamless(got.segments[QString::fromLatin1(id)]);
    }
}

TEST_F(SeedLinkStream, ASilentServerIsDroppedAfterTheIdleLimit) {
    source.setIdleLimit(1500ms); // records come every half second
    source.request({requestFor("IU", "ANMO", "00", "BHZ")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.count("IU.ANMO.00.BHZ") >= 1; }, 10000));
    s.server.setSilent(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.losses() >= 1; }, 8000));
    EXPECT_EQ(got.losses(), 1);
    EXPECT_TRUE(got.links.back().second.contains(u"silent"))
        << got.links.back().second.toStdString();
    s.server.setSilent(false);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return source.link() == SeedLinkSource::Link::Streaming; }, 5000));
    EXPECT_GE(s.server.connections(), 2);
}

TEST_F(SeedLinkFast, TrafficKeepsTheLinkPastTheIdleLimit) {
    source.setIdleLimit(1000ms); // records come ten times a second
    source.request({requestFor("IU", "ANMO", "00", "BHZ")});
    // Three idle limits' worth of records on one connection.
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.count("IU.ANMO.00.BHZ") >= 30; }, 20000));
    EXPECT_EQ(got.losses(), 0);
    EXPECT_EQ(s.server.connections(), 1);
}

TEST_F(SeedLinkStream, ReconnectsBackOffToTheCapWithOneConnectEach) {
    s.server.setResetOnAccept(true);
    source.setBackoff(20ms, 160ms);
    source.request({requestFor("IU", "ANMO", "00", "BHZ")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return source.attempts() >= 7; }, 10000));
    // 20, 40, 80, 160, 160, ...
    ASSERT_TRUE(QTest::qWaitFor([&] { return source.retryDelay() > 0ms; }, 1000));
    EXPECT_EQ(source.retryDelay(), 160ms);
    const int attempts = source.attempts();
    EXPECT_GE(s.server.connections(), attempts - 1);
    EXPECT_LE(s.server.connections(), attempts);
    EXPECT_EQ(got.losses(), 1); // said once, not per attempt
}

TEST_F(SeedLinkStream, AServerThatSendsOneRecordAndClosesIsAskedEverMoreRarely) {
    s.server.setPacketsPerConnection(1);
    source.setBackoff(100ms, 400ms);
    source.request({requestFor("IU", "ANMO", "00", "BHZ")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return source.attempts() >= 4 && source.retryDelay() > 0ms; },
                                10000));
    // A single packet is no healthy minute: the pauses keep growing.
    EXPECT_EQ(source.retryDelay(), 400ms);
    EXPECT_GE(got.count("IU.ANMO.00.BHZ"), 3u);
}

TEST_F(SeedLinkStream, AHealthyStreamStartsThePausesAfresh) {
    source.setBackoff(300ms, 2400ms);
    source.setHealthyAfter(2000ms);
    source.request({requestFor("IU", "ANMO", "00", "BHZ")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return got.count("IU.ANMO.00.BHZ") >= 1; }, 10000));
    for (int cut = 1; cut <= 2; ++cut) {
        s.server.cutNextPacket();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return got.losses() == cut && source.retryDelay() > 0ms; }, 10000));
        EXPECT_EQ(source.retryDelay(), cut == 1 ? 300ms : 600ms);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return source.link() == SeedLinkSource::Link::Streaming; }, 10000));
    }
    // Streaming past the healthy time: the next pause is the first again.
    QTest::qWait(2600);
    s.server.cutNextPacket();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return got.losses() == 3 && source.retryDelay() > 0ms; }, 10000));
    EXPECT_EQ(source.retryDelay(), 300ms);
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
