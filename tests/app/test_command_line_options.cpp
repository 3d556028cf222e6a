// groundsway's command line, read before any window opens.
#include "QtPrinters.h"

#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace {

std::optional<CommandLineOptions> ok(const QStringList& args) {
    const auto r = parseCommandLine(args);
    if (const auto* o = std::get_if<CommandLineOptions>(&r))
        return *o;
    ADD_FAILURE() << args.join(' ').toStdString() << ": " << std::get<QString>(r).toStdString();
    return std::nullopt;
}

QString why(const QStringList& args) {
    const auto r = parseCommandLine(args);
    return std::holds_alternative<QString>(r) ? std::get<QString>(r) : QString();
}

} // namespace

TEST(CommandLineOptions, ReadsItsOwnOptionsInBothFormsAndLetsQtsThrough) {
    const auto a = ok({"--snapshot", "a.JPEG", "--size=800x600", "--list", "Long period",
                       "--helicorder=IU.ANMO.00.BHZ", "--verbose", "-platform", "offscreen",
                       "--style=fusion", "-reverse", "-qwindowgeometry", "100x100+0+0"});
    ASSERT_TRUE(a);
    EXPECT_EQ(a->snapshot, u"a.JPEG");
    EXPECT_EQ(a->size, QSize(800, 600));
    EXPECT_EQ(a->list, u"Long period");
    ASSERT_TRUE(a->helicorder);
    EXPECT_EQ(a->helicorder->seedId(), u"IU.ANMO.00.BHZ");
    EXPECT_TRUE(a->verbose);
    const auto plain = ok({});
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->snapshot);
    EXPECT_EQ(plain->size, QSize(1600, 1000));
    EXPECT_FALSE(plain->verbose);
    // Help and the version win over anything beside them.
    EXPECT_TRUE(ok({"--bogus", "--help"})->help);
    EXPECT_TRUE(ok({"extra", "-v"})->version);
}

TEST(CommandLineOptions, EveryArgumentThatIsNoOptionIsAFileAndAfterTwoDashesAllAre) {
    const auto a = ok({"a.sac", "--snapshot", "o.png", "b.mseed", "--", "-odd.sac", "--size"});
    ASSERT_TRUE(a);
    EXPECT_EQ(a->snapshot, u"o.png");
    EXPECT_EQ(a->files, (QStringList{"a.sac", "b.mseed", "-odd.sac", "--size"}));
    EXPECT_EQ(a->size, QSize(1600, 1000));
    EXPECT_TRUE(ok({})->files.isEmpty());
    EXPECT_EQ(ok({"--", "x"})->files, QStringList{"x"});
}

TEST(CommandLineOptions, EachMistakeIsToldQuotingWhatWasTyped) {
    const std::pair<QStringList, const char*> cases[] = {
        {{"-"}, "Unexpected argument '-'."},
        {{"a.sac", ""}, "An empty argument names no file."},
        {{"--snapshot", "a.png", "--list", "x", "b.sac"}, "not files"},
        {{"--snapshot", "a.png", "--helicorder", "IU.ANMO.00.BHZ", "b.sac"}, "not files"},
        {{"--bogus"}, "Unknown option '--bogus'."},
        {{"--bogus=1"}, "Unknown option '--bogus'."},
        {{"-snapshot", "a.png"}, "Unknown option '-snapshot'."},
        {{"--snapshot"}, "Missing value after '--snapshot'."},
        {{"-platform"}, "Missing value after '-platform'."},
        {{"--verbose=yes", "--snapshot", "a.png"}, "'--verbose' takes no value."},
        {{"--snapshot", "x.gif"}, "not 'x.gif'"},
        {{"--snapshot", "png"}, "not 'png'"},
        {{"--snapshot", "a.png", "--size", "15x100"}, "not '15x100'"},
        {{"--snapshot", "a.png", "--size", "100x16385"}, "not '100x16385'"},
        {{"--snapshot", "a.png", "--size", "100x"}, "not '100x'"},
        {{"--snapshot", "a.png", "--helicorder", "ANMO"}, "not 'ANMO'"},
        {{"--size", "100x100"}, "go with --snapshot"},
        {{"--list", "x"}, "go with --snapshot"},
        {{"--verbose"}, "go with --snapshot"},
    };
    for (const auto& [args, message] : cases)
        EXPECT_TRUE(why(args).contains(QString::fromUtf8(message)))
            << args.join(' ').toStdString() << " -> " << why(args).toStdString();
    // The edges of what is allowed pass.
    EXPECT_TRUE(ok({"--snapshot", "a.svg", "--size", "16x16384"}));
}

TEST(CommandLineOptions, TheHelpNamesEveryOptionTheParserTakes) {
    const QString help = commandLineHelp();
    EXPECT_TRUE(help.startsWith(u"Usage: groundsway [options] [FILE...]\n"));
    for (const char* option : {"--help", "--version", "--snapshot FILE", "--size WIDTHxHEIGHT",
                               "--list NAME", "--helicorder NET.STA.LOC.CHA", "--verbose", ".jpg"})
        EXPECT_TRUE(help.contains(QLatin1StringView(option))) << option;
    EXPECT_FALSE(help.contains(u"inline-acquisition")); // for tests only
}
