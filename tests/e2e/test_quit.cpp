// Quitting the real binary while a transfer stalls: the process ends within a second, whether
// acquisition runs off the GUI thread or inline, and whether the catalogue or a seismogram
// stalls.
#include "SeismogramServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace {

struct Case {
    bool inlineAcquisition;
    bool catalogueStalls;
};

void writeFile(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
}

class Quitting : public ::testing::TestWithParam<Case> {};

} // namespace

TEST_P(Quitting, DuringAStalledTransferEndsWithinASecond) {
    const Case c = GetParam();
    SeismogramServer server;
    server.eventBody = eventText({});
    server.eventDelayMs = c.catalogueStalls ? 60000 : 0;
    server.answerDelay = [](const std::string&) { return 60000; };
    server.start();

    QTemporaryDir home;
    const QString support = home.path() + "/.local/share/Groundsway";
    writeFile(home.path() + "/.config/Groundsway/Groundsway.conf",
              ("[General]\ntimeSeriesServiceURL=" + server.baseUrl() + "\neventServiceURL=" +
               server.baseUrl() + "\nupdateIntervalSeconds=10\n")
                  .toUtf8());
    writeFile(support + "/ChannelLists/l.txt", "IU;ANMO;BHZ;00;A\nIU;COLA;BHZ;00;B\nIU;KONO;BHZ;00;C\n");
    writeFile(support + "/defaultChannelListName.txt", "l.txt");
    writeFile(support + "/autoUpdate.txt", "");

    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
    env.insert("XDG_DATA_HOME", home.path() + "/.local/share");
    env.insert("XDG_RUNTIME_DIR", home.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    app.setProcessEnvironment(env);
    app.start(QStringLiteral(GS_BINARY_DIR "/groundsway"),
              c.inlineAcquisition ? QStringList{"--inline-acquisition"} : QStringList{});
    ASSERT_TRUE(app.waitForStarted(10000));
    // Wait until the stalling request has reached the server.
    const std::string stalled = c.catalogueStalls ? "/fdsnws/event" : "/irisws/timeseries";
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (const std::string& t : server.targets())
                if (t.rfind(stalled, 0) == 0)
                    return true;
            return false;
        },
        15000));
    QTest::qWait(200);
    QElapsedTimer clock;
    clock.start();
    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    ASSERT_TRUE(app.waitForFinished(10000));
    const qint64 took = clock.elapsed();
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_LT(took, 1000) << "ms from the signal to the exit";
    // No tick starts after the signal: nothing more reached the server.
    const std::size_t requestsAtExit = server.targets().size();
    QTest::qWait(300);
    EXPECT_EQ(server.targets().size(), requestsAtExit);
}

INSTANTIATE_TEST_SUITE_P(Modes, Quitting,
                         ::testing::Values(Case{false, false}, Case{false, true}, Case{true, false},
                                           Case{true, true}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.inlineAcquisition ? "Inline" : "Pooled") +
                                    (info.param.catalogueStalls ? "Catalogue" : "Seismogram");
                         });
