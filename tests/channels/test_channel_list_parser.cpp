// The channel list format: lines, skipped whitespace, fields, trimming and the title line.
#include "AppHarness.h"
#include "channels/ChannelListParser.h"
#include "QtPrinters.h"

#include <QLineEdit>

#include <gtest/gtest.h>

namespace {

QStringList row(const ParsedChannelList& p, qsizetype i) {
    return {p.networks.value(i), p.stations.value(i), p.channels.value(i), p.locations.value(i),
            p.labels.value(i)};
}

} // namespace

TEST(ChannelListParser, FiveFieldsMakeAChannelInLineOrder) {
    const auto p = parseChannelListText(
        u"IU; ANMO; BHZ; 00; Albuquerque, New Mexico\nII;PFO;LHZ;--;Pinon Flat");
    ASSERT_EQ(p.stations.size(), 2);
    EXPECT_EQ(row(p, 0), (QStringList{"IU", "ANMO", "BHZ", "00", "Albuquerque, New Mexico"}));
    EXPECT_EQ(row(p, 1), (QStringList{"II", "PFO", "LHZ", "--", "Pinon Flat"}));
    EXPECT_FALSE(p.title.has_value());
}

TEST(ChannelListParser, EmptyTextGivesNoChannelAndNoTitle) {
    for (const char16_t* text : {u"", u"\n\n", u"   \t\r\n  ", u"\u2028\u2029\u0085\v\f"}) {
        const auto p = parseChannelListText(text);
        EXPECT_TRUE(p.networks.isEmpty() && p.stations.isEmpty() && p.channels.isEmpty() &&
                    p.locations.isEmpty() && p.labels.isEmpty());
        EXPECT_FALSE(p.title.has_value());
    }
}

TEST(ChannelListParser, BlankAndIndentedLinesAndAMissingLastLineFeedChangeNothing) {
    const auto plain = parseChannelListText(u"IU;ANMO;BHZ;00;A\nIU;COLA;BHZ;00;B\n");
    for (const char16_t* variant :
         {u"\n\n  IU;ANMO;BHZ;00;A\n\n\t\tIU;COLA;BHZ;00;B",
          u"\r\n\u00a0\u2003IU;ANMO;BHZ;00;A\n\u3000\u0085IU;COLA;BHZ;00;B\n\n"}) {
        const auto p = parseChannelListText(variant);
        EXPECT_EQ(p.networks, plain.networks);
        EXPECT_EQ(p.stations, plain.stations);
        EXPECT_EQ(p.labels, plain.labels);
    }
}

TEST(ChannelListParser, BlanksAroundSemicolonsGoBlanksInsideStay) {
    const auto spaced =
        parseChannelListText(u"  IU \t;  ANMO ;\u00a0BHZ\u2002; 00 ;  Albuquerque   New Mexico  ");
    EXPECT_EQ(row(spaced, 0), (QStringList{"IU", "ANMO", "BHZ", "00", "Albuquerque   New Mexico"}));
}

TEST(ChannelListParser, OnlyExactlyFourSemicolonsMakeAChannel) {
    const auto p =
        parseChannelListText(u"IU;ANMO;BHZ;00\nIU;ANMO;BHZ;00;A;extra\nA heading\n;;;;\n");
    ASSERT_EQ(p.stations.size(), 1);
    EXPECT_EQ(row(p, 0), (QStringList{"", "", "", "", ""}));
}

TEST(ChannelListParser, TitleLines) {
    EXPECT_EQ(parseChannelListText(u"Title;Global stations").title, u"Global stations");
    EXPECT_EQ(parseChannelListText(u"Title; Global stations ;more").title, u" Global stations ");
    EXPECT_EQ(parseChannelListText(u"   Title;Indented").title, u"Indented");
    EXPECT_EQ(parseChannelListText(u"Title;").title, u"");
    EXPECT_FALSE(parseChannelListText(u"title;lower case").title.has_value());
    EXPECT_FALSE(parseChannelListText(u"Title ;blank before").title.has_value());
    EXPECT_FALSE(parseChannelListText(u"Title").title.has_value());
    EXPECT_FALSE(parseChannelListText(u"Titles;x").title.has_value());
    EXPECT_EQ(parseChannelListText(u"Title;first\nTitle;second").title, u"second");
}

TEST(ChannelListParser, AFiveFieldTitleLineIsAlsoAChannel) {
    const auto p = parseChannelListText(u"Title;My plot;a;b;c");
    EXPECT_EQ(p.title, u"My plot");
    ASSERT_EQ(p.networks.size(), 1);
    EXPECT_EQ(row(p, 0), (QStringList{"Title", "My plot", "a", "b", "c"}));
}

TEST(ChannelListParser, CarriageReturnsStayInLabelsAndTitlesButNotInCodes) {
    const auto p = parseChannelListText(u"Title;T\r\nIU;ANMO;BHZ;00;A\r\nIU;COLA;BHZ;00;B\r\n");
    EXPECT_EQ(p.title, u"T\r");
    ASSERT_EQ(p.stations.size(), 2);
    EXPECT_EQ(row(p, 0), (QStringList{"IU", "ANMO", "BHZ", "00", "A\r"}));
    // Lines ended by carriage returns alone are one line.
    EXPECT_TRUE(parseChannelListText(u"IU;ANMO;BHZ;00;A\rIU;COLA;BHZ;00;B\r").stations.isEmpty());
}

TEST(ChannelListParser, DuplicatesStayAndUnicodeAndCaseAreKept) {
    const auto p = parseChannelListText(u"iu;anmo;bhz;00;Zürich\niu;anmo;bhz;00;Zürich\n");
    ASSERT_EQ(p.stations.size(), 2);
    EXPECT_EQ(row(p, 1), (QStringList{"iu", "anmo", "bhz", "00", "Zürich"}));
}

// What the table takes in, it bounds: each channel once (its first line keeps its place and
// label; a code differing in case or location is another channel), at most so many channels,
// each said in one log line; a list of a million equal lines is one channel.
TEST(ChannelListBounds, EachChannelOnceAndNoMoreThanTheMost) {
    ParsedChannelList p = parseChannelListText(
        u"IU;ANMO;BHZ;00;first\nIU;ANMO;BHZ;10;x\nIU;ANMO;BHZ;00;second\niu;ANMO;BHZ;00;y\n"
        u"IU;ANMO;BHZ;00;third\nIU;COLA;BHZ;00;z\n");
    ChannelListBounds b = boundChannelList(p, 3);
    EXPECT_EQ(b.repeats, 2);
    EXPECT_EQ(b.firstRepeat, u"IU.ANMO.00.BHZ");
    EXPECT_EQ(b.cut, 1); // IU.COLA, the fourth channel
    EXPECT_EQ(b.logLines(),
              (QStringList{"The channel list names a channel again on 2 line(s) (first "
                           "\"IU.ANMO.00.BHZ\"); each channel is asked for once.",
                           "The channel list holds 4 channels; the first 3 are used."}));
    EXPECT_EQ(p.labels, (QStringList{"first", "x", "y"}));
    EXPECT_EQ(p.locations, (QStringList{"00", "10", "00"}));
    // Exactly the most is kept whole.
    p = parseChannelListText(u"A;B;C;D;1\nA;B;C;E;2\n");
    b = boundChannelList(p, 2);
    EXPECT_EQ(b.cut, 0);
    EXPECT_TRUE(b.logLines().isEmpty());
    EXPECT_EQ(p.stations.size(), 2);
    // A field holding the separator a dotted name would use does not merge two channels.
    p = parseChannelListText(u"A.B;C;D;E;1\nA;B.C;D;E;2\n");
    EXPECT_EQ(boundChannelList(p).repeats, 0);

    AppHarness app;
    app.setChannelList(QString(QStringLiteral("IU;ANMO;BHZ;00;A\n")).repeated(1000000));
    EXPECT_EQ(app.controller().theStations()->size(), 1);
    EXPECT_EQ(app.log().count("The channel list names a channel again on 999999 line(s) (first "
                              "\"IU.ANMO.00.BHZ\"); each channel is asked for once."),
              1);
    QString many;
    for (int i = 0; i < 2500; ++i)
        many += QStringLiteral("IU;S%1;BHZ;00;x\n").arg(i);
    app.setChannelList(many);
    EXPECT_EQ(app.controller().theStations()->size(), kMaxChannels);
    EXPECT_EQ(app.controller().theStations()->back(), u"S1999");
    EXPECT_EQ(app.log().count("The channel list holds 2500 channels; the first 2000 are used."), 1);
}

TEST(ChannelListParser, SetupChannelsRebuildsTheTableInPlaceFromTheView) {
    AppHarness app;
    auto& c = app.controller();
    const auto stations = c.theStations();
    app.o().plotTitleTField->setText(QStringLiteral("Earlier"));
    app.setChannelList(QStringLiteral("IU;ANMO;BHZ;00;A\nII;PFO;LHZ;10;B\n"));
    app.setChannelList(QStringLiteral("IU;ANMO;BHZ;00;A\nII;PFO;LHZ;10;B\n")); // twice: not doubled
    EXPECT_EQ(c.theStations(), stations);
    EXPECT_EQ(*c.theNetworks(), (QStringList{"IU", "II"}));
    EXPECT_EQ(*c.theStations(), (QStringList{"ANMO", "PFO"}));
    EXPECT_EQ(*c.theChannels(), (QStringList{"BHZ", "LHZ"}));
    EXPECT_EQ(*c.theChannelCodes(), (QStringList{"00", "10"})); // the location codes
    EXPECT_EQ(*c.theLabels(), (QStringList{"A", "B"}));
    EXPECT_EQ(app.o().plotTitleTField->text(), u"Earlier"); // no title line, no change
    app.setChannelList(QString());
    EXPECT_TRUE(c.theStations()->isEmpty());
    EXPECT_TRUE(app.log().lines().isEmpty() ||
                app.log().lines() == QStringList{"Initializing Controller."});
}

TEST(ChannelListParser, ThePresetListHasChannelsAndATitle) {
    AppHarness app;
    app.controller().setupChannels(nullptr);
    EXPECT_GE(app.controller().theStations()->size(), 4);
    EXPECT_TRUE(app.controller().theChannels()->contains(QStringLiteral("BHZ")));
    EXPECT_TRUE(app.controller().theChannels()->contains(QStringLiteral("LHZ")));
    EXPECT_FALSE(app.o().plotTitleTField->text().isEmpty());
}
