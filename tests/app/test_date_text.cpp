// The fixed date texts: written and read in UTC whatever TZ says (these tests run with a zone
// that is not UTC), truncated, and parsed strictly.
#include "AppHarness.h"
#include "QtPrinters.h"
#include "SeismogramServer.h"
#include "base/DateText.h"
#include "base/Time.h"

#include <QDateTime>

#include <gtest/gtest.h>

using namespace datetext;

TEST(DateText, RequestTimeHasFourTruncatedFractionDigits) {
    EXPECT_EQ(requestTime(civil::dateOf(2012, 6, 1, 8, 5, 9, 250'000'000)),
              u"2012-06-01T08:05:09.2500Z");
    EXPECT_EQ(requestTime(civil::dateOf(2012, 6, 1, 8, 5, 9, 999'999'999)),
              u"2012-06-01T08:05:09.9999Z");
    EXPECT_EQ(requestTime(civil::dateOf(1999, 12, 31, 23, 59, 59)), u"1999-12-31T23:59:59.0000Z");
    EXPECT_EQ(requestTime(civil::dateOf(1969, 12, 31, 23, 59, 59, 500'000'000)),
              u"1969-12-31T23:59:59.5000Z");
}

TEST(DateText, RequestTimeParsesOnlyTheExactPattern) {
    EXPECT_EQ(parseRequestTime(u"2012-06-15T10:00:00.0000Z"), civil::dateOf(2012, 6, 15, 10, 0, 0));
    EXPECT_EQ(parseRequestTime(u"2012-06-01T08:05:09.2500Z"),
              civil::dateOf(2012, 6, 1, 8, 5, 9, 250'000'000));
    EXPECT_EQ(parseRequestTime(u"2024-02-29T00:00:00.0001Z"),
              civil::dateOf(2024, 2, 29, 0, 0, 0, 100'000));
    for (const char16_t* bad :
         {u"2012-06-15T10:00:00Z", u"2012-06-15T10:00:00.0000", u"2012-06-15 10:00:00.0000Z",
          u"2012-06-15T10:00:00.000Z", u"2012-06-15T10:00:00.00000Z", u"2012-13-15T10:00:00.0000Z",
          u"2023-02-29T10:00:00.0000Z", u"2012-06-15T24:00:00.0000Z", u"2012-06-15T10:60:00.0000Z",
          u"2012-06-15T10:00:60.0000Z", u"2012-06-00T10:00:00.0000Z", u"", u"now",
          u" 2012-06-15T10:00:00.0000Z", u"2012-06-15T10:00:00.0000Z ",
          u"2012-06-15T10:00:00.00a0Z", u"２012-06-15T10:00:00.0000Z"})
        EXPECT_FALSE(parseRequestTime(bad).has_value()) << QString::fromUtf16(bad).toStdString();
}

TEST(DateText, UrlTimeCarriesWholeSecondsOnly) {
    EXPECT_EQ(urlTime(civil::dateOf(2012, 6, 15, 10, 0, 0, 750'000'000)), u"2012-06-15T10:00:00");
    EXPECT_EQ(urlTime(*parseRequestTime(u"2012-06-15T10:00:00.9999Z")), u"2012-06-15T10:00:00");
}

TEST(DateText, DescriptionIsTheStandardUtcForm) {
    EXPECT_EQ(description(civil::dateOf(2012, 6, 15, 10, 0, 0, 900'000'000)),
              u"2012-06-15 10:00:00 +0000");
}

TEST(DateText, CatalogueTimesTakeAnyFractionAndAnOptionalZ) {
    EXPECT_EQ(parseCatalogTime(u"2013-02-01T22:18:33"), civil::dateOf(2013, 2, 1, 22, 18, 33));
    EXPECT_EQ(parseCatalogTime(u"2013-02-01T22:18:33.120"),
              civil::dateOf(2013, 2, 1, 22, 18, 33, 120'000'000));
    EXPECT_EQ(parseCatalogTime(u"2013-02-01T22:18:33.5Z"),
              civil::dateOf(2013, 2, 1, 22, 18, 33, 500'000'000));
    EXPECT_EQ(parseCatalogTime(u"2013-02-01T22:18:33.123456789123"),
              civil::dateOf(2013, 2, 1, 22, 18, 33, 123'456'789));
    EXPECT_FALSE(parseCatalogTime(u"2013-02-01T22:18:33.").has_value());
    EXPECT_FALSE(parseCatalogTime(u"2013-02-01").has_value());
    EXPECT_FALSE(parseCatalogTime(u"2013-02-01T22:18:33+01:00").has_value());
}

TEST(DateText, NowIsUtcWhateverTheZone) {
    ASSERT_STRNE(std::getenv("TZ"), "UTC"); // the suite runs in a zone that is not UTC
    const auto t = now();
    const auto expected =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-ddTHH:mm"));
    EXPECT_TRUE(urlTime(t).startsWith(expected) ||
                urlTime(civil::addSeconds(t, -60)).startsWith(expected));
}

// The first and the last year read, to the last fraction of their last second; the moments just
// beyond do not, in both the request-time and the catalogue forms.
TEST(DateText, TheFirstAndLastYearsReadAndNoMomentBeyond) {
    struct Row {
        const char16_t* text;
        std::optional<Date> expected;
    };
    const Row rows[] = {
        {u"1700-01-01T00:00:00.0000Z", civil::dateOf(1700, 1, 1, 0, 0, 0)},
        {u"2250-12-31T23:59:59.9999Z", civil::dateOf(2250, 12, 31, 23, 59, 59, 999'900'000)},
        {u"1699-12-31T23:59:59.9999Z", std::nullopt},
        {u"2251-01-01T00:00:00.0000Z", std::nullopt},
    };
    for (const Row& r : rows) {
        const QString text = QString::fromUtf16(r.text);
        EXPECT_EQ(parseRequestTime(text), r.expected) << text.toStdString();
        const auto catalogue = parseCatalogTime(text.left(19));
        EXPECT_EQ(catalogue.has_value(), r.expected.has_value()) << text.toStdString();
        if (r.expected) {
            EXPECT_EQ(requestTime(*r.expected), text);
        }
    }
}

// Typed into the window's fields, a window at either end of the years goes out as typed and
// nothing is said; a moment beyond is said to be unreadable.
TEST(DateText, TypedBoundaryYearsReachTheQueryAsTyped) {
    SeismogramServer server;
    server.start();
    AppHarness app;
    app.useServices(server.baseUrl());
    app.controller().awakeFromNib();
    app.setChannelList(QStringLiteral("IU;ANMO;LHZ;00;a\n"));
    app.log().clear();
    const std::pair<const char*, const char*> windows[] = {
        {"1700-01-01T00:00:00.0000Z", "1700-01-01T00:02:00.0000Z"},
        {"2250-12-31T23:58:00.0000Z", "2250-12-31T23:59:59.9999Z"}};
    for (const auto& [from, to] : windows) {
        app.typeWindow(QString::fromLatin1(from), QString::fromLatin1(to));
        app.controller().retrieveSeismograms(nullptr);
        const std::string window =
            "&start=" + std::string(from, 19) + "&end=" + std::string(to, 19) + "&";
        EXPECT_NE(server.seismogramTargets().back().find(window), std::string::npos)
            << server.seismogramTargets().back();
    }
    EXPECT_EQ(server.seismogramTargets().size(), 2u);
    EXPECT_EQ(app.log().count(QStringLiteral("The window ")), 0);
    app.typeWindow(QStringLiteral("1699-12-31T23:59:59.9999Z"),
                   QStringLiteral("2251-01-01T00:00:00.0000Z"));
    app.controller().retrieveSeismograms(nullptr);
    EXPECT_EQ(app.log().count(QStringLiteral("The window start \"1699-12-31T23:59:59.9999Z\" "
                                             "cannot be read")),
              1);
    EXPECT_EQ(app.log().count(QStringLiteral("The window end \"2251-01-01T00:00:00.0000Z\" "
                                             "cannot be read")),
              1);
}
