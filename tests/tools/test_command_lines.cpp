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
                                           "groundsway-demo-service"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });
