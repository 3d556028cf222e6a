// Downloading one seismogram: the file name, the exchange and the decoding of what came back.
#include "AppHarness.h"
#include "base/Time.h"
#include "QtPrinters.h"
#include "components/sac/SacObject.h"
#include "SeismogramServer.h"

#include <QPlainTextEdit>

#include <gtest/gtest.h>

namespace {

ChannelRequest request(const QString& sta, const QString& cha = "BHZ", const QString& loc = "00") {
    ChannelRequest r;
    r.setValue(ChannelRequest::Network, "XX");
    r.setValue(ChannelRequest::StationID, sta);
    r.setValue(ChannelRequest::LocationCode, loc);
    r.setValue(ChannelRequest::ChannelID, cha);
    r.setValue(ChannelRequest::StartTime, "2012-06-15T10:00:00.0000Z");
    r.setValue(ChannelRequest::EndTime, "2012-06-15T10:01:00.0000Z");
    r.setValue(ChannelRequest::SampleRate, "*");
    return r;
}

class Download : public ::testing::Test {
protected:
    SeismogramServer server;
    AppHarness app;
    void SetUp() override {
        server.start();
        app.useServices(server.baseUrl());
        app.log().clear();
    }
};

} // namespace

TEST(DownloadFileName, IsStationNetworkChannelLocationWithColonsReplaced) {
    AppHarness app;
    EXPECT_EQ(app.controller().buildFileNameFromDictionary(request("ABCD")), u"ABCD.XX.BHZ.00.sac");
    EXPECT_EQ(app.controller().buildFileNameFromDictionary(request("ABCD", "BHZ", "--")),
              u"ABCD.XX.BHZ.--.sac");
    EXPECT_EQ(app.controller().buildFileNameFromDictionary(request("AB:C", "B:H:Z", ":")),
              u"AB-C.XX.B-H-Z.-.sac");
    EXPECT_EQ(app.controller().buildFileNameFromDictionary(request("a b.c")),
              u"a b.c.XX.BHZ.00.sac");
}

TEST_F(Download, AValidBodyBecomesASeismogramWithItsExtrema) {
    auto s = app.controller().downloadSeismogramWithURL(request("ANMO"));
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->isSacFile());
    EXPECT_EQ(s->name(), "ANMO.XX.BHZ.00.sac");
    EXPECT_EQ(s->kcmpnm(), "BHZ");
    EXPECT_EQ(s->samples().size(), 1201u);
    EXPECT_EQ(s->startTime(), civil::dateOf(2012, 6, 15, 10, 0, 0));
    const float lo = *std::min_element(s->samples().begin(), s->samples().end());
    EXPECT_FLOAT_EQ(s->GetSacHeader()->getFloat(sac::word::DEPMIN), lo);
    EXPECT_TRUE(app.log().lines().isEmpty());
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].header("User-Agent"), "Groundsway (Mac; Mac OS; June 2012)");
}

TEST_F(Download, ErrorPagesEmptyAndTruncatedBodiesGiveNothingAndNoTransportLine) {
    for (const char* sta : {"FAIL404", "EMPTY", "TRUNC"}) {
        EXPECT_FALSE(app.controller().downloadSeismogramWithURL(request(sta))) << sta;
        EXPECT_TRUE(app.log().lines().isEmpty()) << sta;
    }
}

TEST_F(Download, NoUrlIsACommunicationFailureWithoutAnAddress) {
    EXPECT_FALSE(app.controller().downloadSeismogramWithURL(request("AB CD")));
    EXPECT_EQ(app.log().lines(),
              (QStringList{"Communication Failure: no address could be made for this request (a "
                           "code or the window cannot stand in a URL)",
                           "unsupported URL"}));
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(Download, AnUnreachableServiceLogsTheAddressAndTheReason) {
    const QString dead = QStringLiteral("http://127.0.0.1:%1").arg(unusedPort());
    app.useServices(dead);
    EXPECT_FALSE(app.controller().downloadSeismogramWithURL(request("ANMO")));
    ASSERT_EQ(app.log().lines().size(), 2);
    EXPECT_EQ(app.log().lines()[0],
              "Communication Failure: " + dead +
                  "/irisws/timeseries/1/query?net=XX&sta=ANMO&loc=00&cha=BHZ"
                  "&start=2012-06-15T10:00:00&end=2012-06-15T10:01:00&scale=AUTO&output=sacbl");
    EXPECT_FALSE(app.log().lines()[1].isEmpty());
    EXPECT_TRUE(app.o().connectionLogTView->toPlainText().isEmpty());
}

TEST_F(Download, AStalledTransferFailsAfterTheIdleTimeout) {
    app.controller().setHttpIdleTimeoutSeconds(1);
    EXPECT_FALSE(app.controller().downloadSeismogramWithURL(request("STALL")));
    ASSERT_EQ(app.log().lines().size(), 2);
    EXPECT_TRUE(app.log().lines()[0].startsWith("Communication Failure: http://"));
    EXPECT_EQ(app.log().lines()[1], "The request timed out: no data for 1 seconds.");
}
