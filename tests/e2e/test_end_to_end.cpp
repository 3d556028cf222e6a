// The real groundsway binary, offscreen, in a throwaway home, against the real demo service
// binary: start-up, the first monitor refresh, and a clean exit on SIGTERM.
#include "QtPrinters.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <map>

namespace {

const QString kAgent = QStringLiteral("\"Groundsway (Mac; Mac OS; June 2012)\"");

class EndToEnd : public ::testing::Test {
protected:
    QTemporaryDir home;
    QProcess service, app;
    QString base;
    QString supportDir() const { return home.path() + "/.local/share/Groundsway"; }

    void SetUp() override {
        service.start(QStringLiteral(GS_BINARY_DIR "/groundsway-demo-service"),
                      {"--port", "0", "--seedlink-port", "0"});
        ASSERT_TRUE(service.waitForReadyRead(10000));
        const QString banner = QString::fromUtf8(service.readLine()).trimmed();
        while (!service.canReadLine() && service.waitForReadyRead(10000)) {
        }
        EXPECT_TRUE(QString::fromUtf8(service.readLine()).startsWith(u"SeedLink on 127.0.0.1:"));
        const auto m =
            QRegularExpression("listening on (http://127\\.0\\.0\\.1:\\d+)$").match(banner);
        ASSERT_TRUE(m.hasMatch()) << banner.toStdString();
        base = m.captured(1);
        writeFile(home.path() + "/.config/Groundsway/Groundsway.conf",
                  ("[General]\ntimeSeriesServiceURL=" + base + "\neventServiceURL=" + base +
                   "\nstationServiceURL=" + base +
                   "\nmonitorDurationMinutes=10\nminMagnitude=4.5\n")
                      .toUtf8());
    }
    void TearDown() override {
        for (QProcess* p : {&app, &service}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
    }
    static void writeFile(const QString& path, const QByteArray& content) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    void startApp(const QStringList& arguments = {QStringLiteral("--inline-acquisition")}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.path() + "/.config");
        env.insert("XDG_DATA_HOME", home.path() + "/.local/share");
        env.insert("XDG_RUNTIME_DIR", home.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TZ", "America/Los_Angeles");
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(GS_BINARY_DIR "/groundsway"), arguments);
        ASSERT_TRUE(app.waitForStarted(10000));
    }
    // Waits (up to a minute) until the system log holds the line.
    void waitForLog(const QString& line) {
        for (int i = 0; i < 600 && !appLog.contains(line); ++i) {
            app.waitForReadyRead(100);
            appLog += QString::fromUtf8(app.readAllStandardError());
        }
    }
    // The service's request lines in the order the requests arrived, without their numbers.
    std::vector<QString> serviceLines() {
        service.waitForReadyRead(200);
        serviceLog += QString::fromUtf8(service.readAllStandardOutput());
        std::map<int, QString> byArrival;
        static const QRegularExpression numbered("^#(\\d+) (.*)$");
        for (const QString& l : serviceLog.split('\n', Qt::SkipEmptyParts)) {
            if (l.startsWith(u"SeedLink "))
                continue;
            const auto m = numbered.match(l);
            EXPECT_TRUE(m.hasMatch()) << l.toStdString();
            byArrival[m.captured(1).toInt()] = m.captured(2);
        }
        std::vector<QString> lines;
        for (const auto& [arrival, line] : byArrival)
            lines.push_back(line);
        return lines;
    }
    // Sends SIGTERM and expects a clean exit.
    void stopApp() {
        ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
        ASSERT_TRUE(app.waitForFinished(20000));
        appLog += QString::fromUtf8(app.readAllStandardError());
        EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(app.exitCode(), 0);
    }
    // The system log's messages, without their time stamp and process prefix (each checked).
    QStringList messages() {
        QStringList out;
        static const QRegularExpression prefix(
            "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} Groundsway\\[(\\d+)\\] ");
        for (const QString& chunk :
             appLog.split(QRegularExpression("\\n(?=\\d{4}-\\d\\d-\\d\\d \\d\\d:)"))) {
            const auto m = prefix.match(chunk);
            if (!m.hasMatch() || m.captured(1) != QString::number(pid))
                continue;
            const QString message =
                chunk.mid(m.capturedLength()).chopped(chunk.endsWith('\n') ? 1 : 0);
            // Qt's own remarks on the offscreen platform are not the application's.
            if (!message.startsWith("This plugin does not support") &&
                !message.startsWith("QStandardPaths:"))
                out << message;
        }
        return out;
    }
    QString appLog, serviceLog;
    qint64 pid = 0;
};

} // namespace

TEST_F(EndToEnd, StartsTheMonitorAndRequestsEveryChannelInOrder) {
    writeFile(supportDir() + "/ChannelLists/Test list.txt",
              "Title;End to end\nIU; ANMO; BHZ; 00; Albuquerque\nIU; TUC; BHZ; 00; Tucson (no "
              "data)\nII; KDAK; LHZ; 00; Kodiak\n");
    writeFile(supportDir() + "/defaultChannelListName.txt", "Test list.txt");
    writeFile(supportDir() + "/autoUpdate.txt", "");
    startApp();
    pid = app.processId();
    waitForLog("Application has finished launching.");
    stopApp();

    const QStringList log = messages();
    const QString failure =
        "Encountered a Connection problem for request:\nnet=IU sta=TUC loc=00 cha=BHZ start=";
    ASSERT_EQ(log.size(), 7) << appLog.toStdString();
    EXPECT_EQ(log[0], u"Initializing Controller.");
    EXPECT_EQ(log[1], "Reading the channel lists and start-up files from " + supportDir() + ".");
    EXPECT_EQ(log[2], u"Loading initial channel information.");
    EXPECT_EQ(log[3], u"Turned on auto update.");
    EXPECT_TRUE(log[4].startsWith(failure)) << log[4].toStdString();
    EXPECT_TRUE(QRegularExpression("end=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{4}Z $")
                    .match(log[4])
                    .hasMatch())
        << log[4].toStdString();
    EXPECT_EQ(log[5], u"Done Waking.");
    EXPECT_EQ(log[6], u"Application has finished launching.");

    const auto lines = serviceLines();
    ASSERT_GE(lines.size(), 4u) << serviceLog.toStdString();
    EXPECT_TRUE(lines[0].startsWith(
        "200 /fdsnws/event/1/query?format=text&orderby=time&minmagnitude=4.5&starttime="));
    const QString window = "&start=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d&end=\\d{4}-\\d\\d-"
                           "\\d\\dT\\d\\d:\\d\\d:\\d\\d"
                           "&scale=AUTO&output=sacbl ";
    const QStringList expected = {
        "^200 /irisws/timeseries/1/query\\?net=IU&sta=ANMO&loc=00&cha=BHZ" + window,
        "^204 /irisws/timeseries/1/query\\?net=IU&sta=TUC&loc=00&cha=BHZ" + window,
        "^200 /irisws/timeseries/1/query\\?net=II&sta=KDAK&loc=00&cha=LHZ" + window};
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(QRegularExpression(expected[i])
                        .match(lines[static_cast<std::size_t>(i + 1)])
                        .hasMatch())
            << lines[static_cast<std::size_t>(i + 1)].toStdString();
    }
    for (const QString& l : lines)
        EXPECT_TRUE(l.endsWith(kAgent)) << l.toStdString();
    // The window is the last ten minutes: start and end ten minutes apart.
    const auto m = QRegularExpression("start=([^&]+)&end=([^&]+)&").match(lines[1]);
    const auto start = QDateTime::fromString(m.captured(1), Qt::ISODate),
               end = QDateTime::fromString(m.captured(2), Qt::ISODate);
    EXPECT_EQ(start.secsTo(end), 600);
}

TEST_F(EndToEnd, StartsWithNoSupportDirectoryAtAll) {
    startApp();
    pid = app.processId();
    waitForLog("Application has finished launching.");
    QThread::msleep(300);
    stopApp();
    EXPECT_EQ(messages(),
              (QStringList{"Initializing Controller.",
                           "Reading the channel lists and start-up files from " + supportDir() + ".",
                           "Loading initial channel information.", "Done Waking.",
                           "Application has finished launching."}));
    EXPECT_TRUE(serviceLines().empty());
    EXPECT_FALSE(QFileInfo::exists(home.path() + "/Library")); // nothing created
    EXPECT_FALSE(QFileInfo::exists(supportDir()));
}
