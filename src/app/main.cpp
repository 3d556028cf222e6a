#include "app/QuitOnSignal.h"
#include "app/WindowLayout.h"
#include "app/groundswayController.h"
#include "base/SystemLog.h"
#include "net/HttpClient.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <csignal>
#include <cstdio>

namespace {

// Qt's own warnings go to the system log too, in its format, so each stays one entry.
void logQtMessage(QtMsgType, const QMessageLogContext&, const QString& message) {
    systemLog(message);
}

struct CommandLine {
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Show this help and exit.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Show the version and exit.")};
    QCommandLineOption inlineAcquisition{
        QStringLiteral("inline-acquisition"),
        QStringLiteral("Run every retrieval to its end before the window responds again.")};

    CommandLine() {
        parser.setApplicationDescription(QStringLiteral(
            "Shows the ground motion of the last hour at a chosen set of seismic stations, "
            "refreshed on a timer, and the seismograms of recent earthquakes."));
        inlineAcquisition.setFlags(QCommandLineOption::HiddenFromHelp); // for tests
        parser.addOptions({help, version, inlineAcquisition});
    }
};

void print(std::FILE* to, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), to);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication::setOrganizationName(QStringLiteral("Groundsway"));
    QCoreApplication::setApplicationName(QStringLiteral("Groundsway"));
    QCoreApplication::setApplicationVersion(QStringLiteral(GROUNDSWAY_VERSION));
    CommandLine cl;
    // Help and the version need no display, so they are answered before the GUI starts.
    QStringList raw;
    for (int i = 0; i < argc; ++i)
        raw << QString::fromLocal8Bit(argv[i]);
    for (const QString& a : raw.mid(1)) {
        if (a == u"--help" || a == u"-h") {
            print(stdout, cl.parser.helpText().replace(QStringLiteral("<executable_name>"),
                                                       QStringLiteral("groundsway")));
            return 0;
        }
        if (a == u"--version" || a == u"-v") {
            print(stdout, QStringLiteral("groundsway %1\n").arg(QStringLiteral(GROUNDSWAY_VERSION)));
            return 0;
        }
    }

    qInstallMessageHandler(logQtMessage);
    QApplication app(argc, argv); // takes Qt's own options (-platform, -style, ...) away
    if (!cl.parser.parse(QCoreApplication::arguments()) ||
        !cl.parser.positionalArguments().isEmpty()) {
        const QString why = cl.parser.errorText().isEmpty()
                                ? QStringLiteral("Unexpected argument '%1'.")
                                      .arg(cl.parser.positionalArguments().value(0))
                                : cl.parser.errorText();
        print(stderr, QStringLiteral("groundsway: %1\nTry 'groundsway --help'.\n").arg(why));
        return 2;
    }
    QuitOnSignal quitOnSignal({SIGTERM, SIGINT});
    // Quitting abandons every transfer in flight, so the process ends at once.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [] { abortAllTransfers(); });

    WindowLayout layout;
    groundswayController controller;
    controller.setInlineAcquisition(cl.parser.isSet(cl.inlineAcquisition));
    controller.connectOutlets(layout.outlets(), layout.actions());
    controller.awakeFromNib();
    QTimer::singleShot(0, &controller,
                       [&controller] { controller.applicationDidFinishLaunching(); });
    return app.exec();
}
