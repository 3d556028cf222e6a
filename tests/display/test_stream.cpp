// Stream mode end to end: the backfill from the time-series service, the SeedLink stream from
// where it ends, refused stations polled instead, failed rows kept, and a period tick that asks
// the service only for what the stream does not bring.
#include "AppHarness.h"
#include "SeismogramServer.h"
#include "acquisition/SeedLinkSource.h"
#include "base/DateText.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/sac/SacObject.h"
#include "store/TraceStore.h"

#include "DemoSeedLink.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

TEST(StreamMode, BackfillsStreamsPollsWhatIsRefusedAndKeepsFailedRows) {
    SeismogramServer http;
    http.eventBody = eventText({});
    http.start();
    demo::SeedLinkServer seedLink(std::chrono::system_clock::now(), {},
                                  {0.5, std::chrono::seconds(300), 11, {}});
    seedLink.refuseStation("IU", "COLA");
    ASSERT_TRUE(seedLink.start(0));
    AppHarness app;
    groundswayController& c = app.controller();
    app.useServices(http.baseUrl());
    c.awakeFromNib();
    app.setChannelList("IU;ANMO;BHZ;00;A\nIU;COLA;BHZ;00;B\nIU;FAIL404;BHZ;00;C\n");
    app.o().monitorRequestDurationTField->setText("10");
    app.o().seedLinkServerTField->setText(QStringLiteral("127.0.0.1:%1").arg(seedLink.port()));
    app.actions().dataSourcePopUp->setCurrentIndex(1);
    c.setDataSource(app.actions().dataSourcePopUp);
    EXPECT_EQ(c.userDefaults().stringForKey("dataSource"), u"seedLink");
    app.log().clear();

    c.toggleAutoUpdate(nullptr);
    ASSERT_EQ(http.seismogramTargets().size(), 3u); // the backfill
    const ChannelId anmo{"IU", "ANMO", "00", "BHZ"};
    // Streamed samples carry the channel on from where the backfill ended.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return c.seedLinkSource()->link() == SeedLinkSource::Link::Streaming; }, 10000));
    const auto backfilled = c.traceStore().end(anmo);
    ASSERT_TRUE(backfilled);
    ASSERT_TRUE(QTest::qWaitFor([&] { return *c.traceStore().end(anmo) > *backfilled; }, 10000));
    EXPECT_EQ(c.traceStore().segmentCount(anmo), 1u);
    // Refusals and the link name the server.
    const QString server = QStringLiteral("127.0.0.1:%1").arg(seedLink.port());
    // A station code of seven letters cannot be in a miniSEED record: never asked for.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return app.log().count("SeedLink: the server " + server + " refused station") == 1 &&
                   app.log().count(
                       "SeedLink: the codes of IU.FAIL404.00.BHZ are not ones a SeedLink "
                       "server takes") == 1;
        },
        5000));
    EXPECT_EQ(seedLink.received().front().find("FAIL404"), std::string::npos);
    EXPECT_EQ(app.log().count("SeedLink: streaming from " + server + "."), 1);
    EXPECT_EQ(app.log().count("SeedLink: the server " + server +
                              " refused station IU.COLA; its channels are polled from the "
                              "time-series service instead."),
              1);
    EXPECT_EQ(app.o().monitorIndicatorTField->text(), u"● Streaming");

    // A frame has drawn the streamed samples; the failed row keeps its place and says why.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto& w = *c.theWaveforms();
            return w.size() == 3 && w[0] &&
                   civil::secondsBetween(
                       civil::addSeconds(w[0]->startTime(),
                                         static_cast<double>(w[0]->samples().size()) *
                                             w[0]->delta()),
                       datetext::now()) < 5;
        },
        10000));
    const auto& rows = *c.theWaveforms();
    EXPECT_FALSE(rows[1]->samples().empty());
    EXPECT_TRUE(rows[2]->samples().empty());
    const auto& notes = app.o().seisView->traceAnnotations();
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_TRUE(notes[2].status.startsWith(u"No data: ")) << notes[2].status.toStdString();
    EXPECT_TRUE(notes[2].dimmed);
    EXPECT_TRUE(notes[0].note.contains(u"latency ")) << notes[0].note.toStdString();
    EXPECT_FALSE(notes[0].dimmed);

    // A period tick asks the service only for the refused stations.
    const std::size_t before = http.seismogramTargets().size();
    QMetaObject::invokeMethod(c.theSeismgrmUpdateTimer(), "timeout", Qt::DirectConnection);
    const auto targets = http.seismogramTargets();
    ASSERT_EQ(targets.size(), before + 2);
    EXPECT_NE(targets[before].find("sta=COLA"), std::string::npos);
    EXPECT_NE(targets[before + 1].find("sta=FAIL404"), std::string::npos);

    // A new list while streaming: the stream starts afresh with it.
    const int connections = seedLink.connections();
    app.setChannelList("IU;ANMO;BHZ;00;A\nIU;HRV;BHZ;00;D\n");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return seedLink.connections() > connections &&
                   c.seedLinkSource()->link() == SeedLinkSource::Link::Streaming;
        },
        10000));
    EXPECT_NE(seedLink.received().back().find("STATION HRV IU"), std::string::npos);

    c.toggleAutoUpdate(nullptr);
    EXPECT_FALSE(c.streaming());
    EXPECT_EQ(c.seedLinkSource()->link(), SeedLinkSource::Link::Idle);
}

TEST(StreamMode, WithEveryStationRefusedTheIndicatorSaysSoAndEveryRowIsPolled) {
    SeismogramServer http;
    http.eventBody = eventText({});
    http.start();
    demo::SeedLinkServer seedLink(std::chrono::system_clock::now(), {},
                                  {0.5, std::chrono::seconds(300), 11, {}});
    seedLink.refuseStation("IU", "ANMO");
    seedLink.refuseStation("IU", "COLA");
    ASSERT_TRUE(seedLink.start(0));
    AppHarness app;
    groundswayController& c = app.controller();
    app.useServices(http.baseUrl());
    c.awakeFromNib();
    app.setChannelList("IU;ANMO;BHZ;00;A\nIU;COLA;BHZ;00;B\n");
    app.o().monitorRequestDurationTField->setText("10");
    app.o().seedLinkServerTField->setText(QStringLiteral("127.0.0.1:%1").arg(seedLink.port()));
    app.actions().dataSourcePopUp->setCurrentIndex(1);
    c.setDataSource(app.actions().dataSourcePopUp);
    c.toggleAutoUpdate(nullptr);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return app.o().monitorIndicatorTField->text() ==
                   u"SeedLink: the server offers none of these stations";
        },
        10000))
        << app.o().monitorIndicatorTField->text().toStdString();
    EXPECT_EQ(app.log().count("SeedLink: the server offers none of these stations."), 1);
    // No second attempt, and the period tick asks the service for every row.
    const std::size_t before = http.seismogramTargets().size();
    QMetaObject::invokeMethod(c.theSeismgrmUpdateTimer(), "timeout", Qt::DirectConnection);
    EXPECT_EQ(http.seismogramTargets().size(), before + 2);
    EXPECT_EQ(seedLink.connections(), 1);
    c.toggleAutoUpdate(nullptr);
}

TEST(StreamMode, StreamsFromTwoServersEachCarryingHalfTheList) {
    SeismogramServer http;
    http.eventBody = eventText({});
    http.start();
    demo::SeedLinkServer::Options first{0.5, std::chrono::seconds(300), 11, {}};
    first.only = {"IU.ANMO", "IU.COLA"};
    demo::SeedLinkServer::Options second = first;
    second.only = {"IU.HRV", "TA.SSPA"};
    demo::SeedLinkServer a(std::chrono::system_clock::now(), {}, first);
    demo::SeedLinkServer b(std::chrono::system_clock::now(), {}, second);
    ASSERT_TRUE(a.start(0));
    ASSERT_TRUE(b.start(0));
    const QString addressA = QStringLiteral("127.0.0.1:%1").arg(a.port());
    const QString addressB = QStringLiteral("127.0.0.1:%1").arg(b.port());
    AppHarness app;
    groundswayController& c = app.controller();
    app.useServices(http.baseUrl());
    c.awakeFromNib();
    app.setChannelList("IU;ANMO;BHZ;00;A\nIU;HRV;BHZ;00;B\nIU;COLA;BHZ;00;C\nTA;SSPA;BHZ;--;D\n");
    app.o().monitorRequestDurationTField->setText("10");
    app.o().seedLinkServerTField->setText(addressA + QStringLiteral(", ") + addressB);
    app.actions().dataSourcePopUp->setCurrentIndex(1);
    c.setDataSource(app.actions().dataSourcePopUp);
    app.log().clear();
    c.toggleAutoUpdate(nullptr);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return c.seedLinkSource()->link() == SeedLinkSource::Link::Streaming; }, 15000));
    EXPECT_EQ(c.seedLinkSource()->routes(), (QStringList{addressA, addressB, addressA, addressB}));
    EXPECT_EQ(app.log().count("SeedLink: streaming from " + addressA + "."), 1);
    EXPECT_EQ(app.log().count("SeedLink: streaming from " + addressB + "."), 1);
    // Every row carries streamed samples on past its backfill.
    const std::vector<ChannelId> rows = {{"IU", "ANMO", "00", "BHZ"},
                                         {"IU", "HRV", "00", "BHZ"},
                                         {"IU", "COLA", "00", "BHZ"},
                                         {"TA", "SSPA", "--", "BHZ"}};
    std::vector<Time> backfilled;
    for (const ChannelId& id : rows)
        backfilled.push_back(c.traceStore().end(id).value_or(Time{}));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (std::size_t i = 0; i < rows.size(); ++i)
                if (!(c.traceStore().end(rows[i]).value_or(Time{}) > backfilled[i]))
                    return false;
            return true;
        },
        10000));
    // Nothing is refused, so a tick asks the service for nothing.
    const std::size_t before = http.seismogramTargets().size();
    QMetaObject::invokeMethod(c.theSeismgrmUpdateTimer(), "timeout", Qt::DirectConnection);
    EXPECT_EQ(http.seismogramTargets().size(), before);
    EXPECT_EQ(a.received().back().find("HRV"), std::string::npos);
    EXPECT_EQ(b.received().back().find("ANMO"), std::string::npos);
    c.toggleAutoUpdate(nullptr);
}
