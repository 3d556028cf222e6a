// The time-series query URL of one channel request.
#include "AppHarness.h"
#include "base/Time.h"
#include "base/DateText.h"
#include "base/UrlText.h"
#include "QtPrinters.h"

#include <QDateTime>
#include <QLineEdit>

#include <gtest/gtest.h>

namespace {

const QString kPath = QStringLiteral("https://service.iris.edu/irisws/timeseries/1/query?");

ChannelRequest request(const QString& cha = "BHZ",
                       const QString& start = "2012-06-15T10:00:00.0000Z",
                       const QString& end = "2012-06-15T11:00:00.0000Z",
                       const QString& rate = "*") {
    ChannelRequest r;
    r.setValue(ChannelRequest::Network, "XX");
    r.setValue(ChannelRequest::StationID, "ABCD");
    r.setValue(ChannelRequest::LocationCode, "00");
    r.setValue(ChannelRequest::ChannelID, cha);
    r.setValue(ChannelRequest::StartTime, start);
    r.setValue(ChannelRequest::EndTime, end);
    r.setValue(ChannelRequest::SampleRate, rate);
    return r;
}

QString window(const QString& start, const QString& end) {
    return QStringLiteral("&start=%1&end=%2").arg(start, end);
}

class QueryUrl : public ::testing::Test {
protected:
    AppHarness app;
    QString url(const ChannelRequest& r) {
        return app.controller().buildURLForChannel(r).value_or("<no URL>");
    }
};

} // namespace

TEST_F(QueryUrl, AnOrdinaryRequest) {
    EXPECT_EQ(url(request()), kPath + "net=XX&sta=ABCD&loc=00&cha=BHZ&start=2012-06-15T10:00:00"
                                      "&end=2012-06-15T11:00:00&scale=AUTO&output=sacbl");
}

TEST_F(QueryUrl, ANumericSampleRateAddsADecimationPiece) {
    EXPECT_EQ(url(request("BHZ", "2012-06-15T10:00:00.0000Z", "2012-06-15T11:00:00.0000Z", "5")),
              kPath + "net=XX&sta=ABCD&loc=00&cha=BHZ&start=2012-06-15T10:00:00"
                      "&end=2012-06-15T11:00:00&scale=AUTO&deci=5.0&output=sacbl");
    EXPECT_TRUE(
        url(request("BHZ", "2012-06-15T10:00:00.0000Z", "2012-06-15T11:00:00.0000Z", "0.25"))
            .contains("&scale=AUTO&deci=0.2&output=sacbl"))
        << url(request("BHZ", "2012-06-15T10:00:00.0000Z", "2012-06-15T11:00:00.0000Z", "0.25"))
               .toStdString();
}

TEST_F(QueryUrl, FractionsOfASecondAreDropped) {
    EXPECT_TRUE(url(request("BHZ", "2012-06-15T10:00:00.9999Z", "2012-06-15T11:00:00.5000Z"))
                    .contains(window("2012-06-15T10:00:00", "2012-06-15T11:00:00")));
}

TEST_F(QueryUrl, LocationCodesGoAsTheyAre) {
    ChannelRequest r = request();
    r.setValue(ChannelRequest::LocationCode, "--");
    EXPECT_TRUE(url(r).contains("&loc=--&cha=BHZ"));
    r.setValue(ChannelRequest::LocationCode, "");
    EXPECT_TRUE(url(r).contains("&loc=&cha=BHZ"));
}

TEST_F(QueryUrl, AnEmptyWindowIsSentUnchanged) {
    EXPECT_TRUE(url(request("BHZ", "2012-06-15T10:00:00.0000Z", "2012-06-15T10:00:00.0000Z"))
                    .contains(window("2012-06-15T10:00:00", "2012-06-15T10:00:00")));
}

TEST_F(QueryUrl, AReversedWindowReachesBackSixtyTimesItsSpan) {
    // BHZ, 10 s reversed: 600 s before T0.
    EXPECT_TRUE(url(request("BHZ", "2012-06-15T10:00:00.0000Z", "2012-06-15T09:59:50.0000Z"))
                    .contains(window("2012-06-15T09:50:00", "2012-06-15T10:00:00")));
    // LHZ, 30 minutes reversed: 30 hours, 108000 samples at 1 s, within the limit.
    EXPECT_TRUE(url(request("LHZ", "2012-06-15T10:00:00.0000Z", "2012-06-15T09:30:00.0000Z"))
                    .contains(window("2012-06-14T04:00:00", "2012-06-15T10:00:00")));
    // BHZ, 10 minutes reversed: 720000 samples at 0.05 s, cut to 345600 samples = 4 h 48 min.
    EXPECT_TRUE(url(request("BHZ", "2012-06-15T10:00:00.0000Z", "2012-06-15T09:50:00.0000Z"))
                    .contains(window("2012-06-15T05:12:00", "2012-06-15T10:00:00")));
    // U (10 s) and S (0.025 s) bands.
    EXPECT_TRUE(url(request("UHZ", "2012-06-15T10:00:00.0000Z", "2012-06-15T09:00:00.0000Z"))
                    .contains(window("2012-06-12T22:00:00", "2012-06-15T10:00:00")));
    EXPECT_TRUE(url(request("SHZ", "2012-06-15T10:00:00.0000Z", "2012-06-15T09:50:00.0000Z"))
                    .contains(window("2012-06-15T07:36:00", "2012-06-15T10:00:00")));
}

TEST_F(QueryUrl, OtherBandLettersAndEmptyCodesCountAsOneSecond) {
    // 2 days reversed = 172800 s * 60 = 10368000 s, cut to 345600 samples of 1 s = 4 days.
    for (const char* cha : {"HHZ", "", "bhz", "EHZ"})
        EXPECT_TRUE(url(request(cha, "2012-06-15T10:00:00.0000Z", "2012-06-13T10:00:00.0000Z"))
                        .contains(window("2012-06-11T10:00:00", "2012-06-15T10:00:00")))
            << cha;
}

TEST_F(QueryUrl, ANumericRateDividesTheLimitAndABadOneFallsBackToTheBand) {
    // Rate 0.1 as the divisor: 36000 s / 0.1 exceeds the limit, S = 345600 * 0.1 s = 9 h 36 min.
    EXPECT_TRUE(url(request("BHZ", "2012-06-15T10:00:00.0000Z", "2012-06-15T09:50:00.0000Z", "0.1"))
                    .contains(window("2012-06-15T00:24:00", "2012-06-15T10:00:00")));
    // Rate 0.5: 72000 samples, within the limit; the window is the full 36000 s.
    EXPECT_TRUE(url(request("BHZ", "2012-06-15T10:00:00.0000Z", "2012-06-15T09:50:00.0000Z", "0.5"))
                    .contains(window("2012-06-15T00:00:00", "2012-06-15T10:00:00")));
    // Zero, negative or no number: no division by zero; the band's 0.05 s is used instead.
    for (const char* rate : {"0", "-2", "abc"})
        EXPECT_TRUE(
            url(request("BHZ", "2012-06-15T10:00:00.0000Z", "2012-06-15T09:50:00.0000Z", rate))
                .contains(window("2012-06-15T05:12:00", "2012-06-15T10:00:00")))
            << rate;
}

TEST_F(QueryUrl, ATimeThatDoesNotParseIsSentAsThePresentMoment) {
    for (const char* bad : {"2012-06-15T10:00:00Z", "2012-06-15T10:00:00.0000", "yesterday"}) {
        const auto before = datetext::now();
        const QString u = url(request("BHZ", bad, "2012-06-15T11:00:00.0000Z"));
        const auto after = datetext::now();
        const QString sent = u.section("&start=", 1).section('&', 0, 0);
        EXPECT_TRUE(sent == datetext::urlTime(before) || sent == datetext::urlTime(after)) << bad;
        EXPECT_TRUE(u.contains("&end=2012-06-15T11:00:00&")) << bad;
    }
    const QString u = url(request("BHZ", "2012-06-15T10:00:00.0000Z", ""));
    EXPECT_TRUE(u.contains("&start=2012-06-15T10:00:00&end=" +
                           datetext::urlTime(datetext::now()).left(13)));
}

TEST_F(QueryUrl, CharactersThatMayNotStandInAUrlGiveNoUrl) {
    for (const char* station : {"AB CD", "AB\"CD", "ABÄ", "AB<CD", "AB%ZZ", "AB{}", "AB\\CD"}) {
        ChannelRequest r = request();
        r.setValue(ChannelRequest::StationID, QString::fromUtf8(station));
        EXPECT_FALSE(app.controller().buildURLForChannel(r).has_value()) << station;
    }
    app.o().timeSeriesServiceURLTField->setText("not a service");
    EXPECT_FALSE(app.controller().buildURLForChannel(request()).has_value());
}

TEST_F(QueryUrl, TheBaseAddressComesFromItsSetting) {
    app.o().timeSeriesServiceURLTField->setText("http://127.0.0.1:8080/");
    EXPECT_TRUE(
        url(request()).startsWith("http://127.0.0.1:8080/irisws/timeseries/1/query?net=XX&"));
}

TEST_F(QueryUrl, FormatDateAsStringWritesUtcWholeSeconds) {
    EXPECT_EQ(
        app.controller().formatDateAsString(civil::dateOf(2012, 6, 15, 10, 0, 0, 750'000'000)),
        u"2012-06-15T10:00:00");
    const QString now = app.controller().formatDateAsString(std::nullopt);
    EXPECT_EQ(now.left(13), QDateTime::currentDateTimeUtc().toString("yyyy-MM-ddTHH"));
}

TEST(UrlText, BracketsStandOnlyAroundAnAddressInTheHost) {
    EXPECT_TRUE(isValidUrlText(u"http://[::1]:8080/irisws/timeseries/1/query?net=IU"));
    EXPECT_FALSE(isValidUrlText(u"http://127.0.0.1/irisws/timeseries/1/query?sta=AB[1]"));
    EXPECT_FALSE(isValidUrlText(u"http://127.0.0.1/a]b"));
    EXPECT_FALSE(isValidUrlText(u"http://h/x#[1]"));
}
