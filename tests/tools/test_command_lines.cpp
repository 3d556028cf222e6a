// One convention for every program: --help prints "Usage: PROGRAM ..." on standard output and
// exits 0, --version prints the version and exits 0, a mistake is told on standard error as
// "PROGRAM: ..." with the option quoted as typed and "Try 'PROGRAM --help'.", exit 2, with or
// without a display; and the manual page names the same options as --help.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

struct Outcome {
    int exitCode;
    QString out, err;
};

Outcome run(const QString& program, const QStringList& args, bool display = true) {
    QProcess p;
    if (!display) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QString::fromLatin1(name));
        p.setProcessEnvironment(env);
    }
    p.start(QStringLiteral(GS_BINARY_DIR "/") + program, args);
    p.waitForFinished(30000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

class CommandLine : public ::testing::TestWithParam<const char*> {};

// The long options a text names: "--snapshot", "--seedlink-port". A manual page writes "\-\-".
QSet<QString> longOptions(QString text) {
    text.replace(QStringLiteral("\\-"), QStringLiteral("-"));
    QSet<QString> found;
    const QRegularExpression option(QStringLiteral("(?<![\\w-])--[a-z][a-z-]*[a-z]"));
    for (auto it = option.globalMatch(text); it.hasNext();)
        found.insert(it.next().captured());
    return found;
}

} // namespace

TEST_P(CommandLine, HelpVersionAndABadOptionFollowTheConvention) {
    const QString program = QString::fromLatin1(GetParam());
    for (const char* help : {"--help", "-h"}) {
        const Outcome r = run(program, {help});
        EXPECT_EQ(r.exitCode, 0) << help;
        EXPECT_TRUE(r.out.startsWith(QStringLiteral("Usage: ") + program)) << r.out.toStdString();
        EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    }
    const Outcome v = run(program, {"--version"});
    EXPECT_EQ(v.exitCode, 0);
    EXPECT_TRUE(
        QRegularExpression("^" + program + " \\d+\\.\\d+\\.\\d+\\n$").match(v.out).hasMatch())
        << v.out.toStdString();
    // groundsway-geo and groundsway-sac take their first argument as a command or a file.
    const QStringList before = program == u"groundsway-geo"   ? QStringList{"arrivals"}
                               : program == u"groundsway-sac" ? QStringList{"in.sac"}
                                                              : QStringList{};
    for (const bool display : {true, false}) {
        for (const char* mistake : {"--no-such-option", "-Z"}) {
            const Outcome bad = run(program, before + QStringList{mistake}, display);
            EXPECT_EQ(bad.exitCode, 2) << mistake << " display " << display;
            EXPECT_TRUE(bad.out.isEmpty()) << bad.out.toStdString();
            EXPECT_TRUE(bad.err.startsWith(program + ": ")) << bad.err.toStdString();
            EXPECT_TRUE(bad.err.contains("'" + QString::fromLatin1(mistake) + "'"))
                << bad.err.toStdString();
            EXPECT_TRUE(bad.err.endsWith("Try '" + program + " --help'.\n"))
                << bad.err.toStdString();
        }
    }
}

TEST_P(CommandLine, TheManualPageNamesTheOptionsTheHelpDoes) {
    const QString program = QString::fromLatin1(GetParam());
    QFile page(QStringLiteral(GS_SOURCE_DIR "/packaging/man/") + program + QStringLiteral(".1"));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly)) << page.fileName().toStdString();
    const QSet<QString> inPage = longOptions(QString::fromUtf8(page.readAll()));
    const QSet<QString> inHelp = longOptions(run(program, {"--help"}).out);
    EXPECT_FALSE(inHelp.isEmpty());
    for (const QString& o : inHelp)
        EXPECT_TRUE(inPage.contains(o))
            << o.toStdString() << " is in --help, not in the manual page";
    for (const QString& o : inPage)
        EXPECT_TRUE(inHelp.contains(o))
            << o.toStdString() << " is in the manual page, not in --help";
}

INSTANTIATE_TEST_SUITE_P(EveryProgram, CommandLine,
                         ::testing::Values("groundsway", "groundsway-sac",
                                           "groundsway-demo-service", "groundsway-geo"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(GeoTool, AnswersOneLinePerFactAndRefusesWhatItCannotAnswer) {
    const Outcome arrivals = run(
        "groundsway-geo", {"arrivals", "--depth", "55", "--distance", "67", "--phases", "P,SKS"});
    EXPECT_EQ(arrivals.exitCode, 0);
    EXPECT_EQ(arrivals.out, u"P 647.042 s\nSKS 1239.094 s\n");
    EXPECT_TRUE(arrivals.err.isEmpty());
    // A phase asked for that does not come at that distance is said, not dropped in silence.
    const Outcome missing = run(
        "groundsway-geo", {"arrivals", "--depth", "55", "--distance", "67", "--phases", "P,PKIKP"});
    EXPECT_EQ(missing.exitCode, 0);
    EXPECT_EQ(missing.out, u"P 647.042 s\n");
    EXPECT_EQ(missing.err, u"groundsway-geo: PKIKP does not arrive at 67 degrees from a source 55 "
                           u"km deep (iasp91)\n");
    EXPECT_EQ(run("groundsway-geo",
                  {"arrivals", "--depth", "55", "--distance", "67", "--phases", "PKIKP"})
                  .exitCode,
              1);
    const Outcome region = run("groundsway-geo", {"region", "-21.2", "-175.2"});
    EXPECT_EQ(region.out, u"173 Tonga Islands\n");
    const Outcome distance = run("groundsway-geo", {"distance", "0", "179.5", "0", "-179.5"});
    EXPECT_EQ(distance.out, u"1.0000 deg 111.319 km azimuth 90.000 back-azimuth 270.000\n");
    for (const QStringList& bad :
         {QStringList{"arrivals", "--depth", "800", "--distance", "10"},
          QStringList{"region", "95", "0"},
          QStringList{"arrivals", "--depth", "10", "--distance", "10", "--model", "prem"},
          QStringList{"distance", "1", "2", "3"}}) {
        const Outcome r = run("groundsway-geo", bad);
        EXPECT_EQ(r.exitCode, 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(r.err.startsWith(u"groundsway-geo: ")) << r.err.toStdString();
    }
}
