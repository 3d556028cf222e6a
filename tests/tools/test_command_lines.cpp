// One convention for every program: --help prints the usage on standard output and exits 0,
// --version prints the version and exits 0, a bad option is told on standard error, exit 2.
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

struct Outcome {
    int exitCode;
    QString out, err;
};

Outcome run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(GS_BINARY_DIR "/") + program, args);
    p.waitForFinished(30000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

class CommandLine : public ::testing::TestWithParam<const char*> {};

} // namespace

TEST_P(CommandLine, HelpVersionAndABadOptionFollowTheConvention) {
    const QString program = QString::fromLatin1(GetParam());
    for (const char* help : {"--help", "-h"}) {
        const Outcome r = run(program, {help});
        EXPECT_EQ(r.exitCode, 0) << help;
        EXPECT_TRUE(r.out.contains(QStringLiteral("sage: ") + program)) << r.out.toStdString();
        EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    }
    const Outcome v = run(program, {"--version"});
    EXPECT_EQ(v.exitCode, 0);
    EXPECT_TRUE(QRegularExpression("^" + program + " \\d+\\.\\d+\\.\\d+\\n$").match(v.out).hasMatch())
        << v.out.toStdString();
    const Outcome bad = run(program, {"--no-such-option"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(bad.out.isEmpty()) << bad.out.toStdString();
    EXPECT_TRUE(bad.err.contains(u"no-such-option")) << bad.err.toStdString();
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
    const Outcome arrivals =
        run("groundsway-geo", {"arrivals", "--depth", "55", "--distance", "67", "--phases", "P,SKS"});
    EXPECT_EQ(arrivals.exitCode, 0);
    EXPECT_EQ(arrivals.out, u"P 647.042\nSKS 1239.094\n");
    const Outcome region = run("groundsway-geo", {"region", "-21.2", "-175.2"});
    EXPECT_EQ(region.out, u"173 Tonga Islands\n");
    const Outcome distance = run("groundsway-geo", {"distance", "0", "179.5", "0", "-179.5"});
    EXPECT_EQ(distance.out, u"1.0000 deg 111.319 km azimuth 90.000 back-azimuth 270.000\n");
    for (const QStringList& bad : {QStringList{"arrivals", "--depth", "800", "--distance", "10"},
                                   QStringList{"region", "95", "0"},
                                   QStringList{"arrivals", "--depth", "10", "--distance", "10",
                                               "--model", "prem"},
                                   QStringList{"distance", "1", "2", "3"}}) {
        const Outcome r = run("groundsway-geo", bad);
        EXPECT_EQ(r.exitCode, 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(r.err.startsWith(u"groundsway-geo: ")) << r.err.toStdString();
    }
}
