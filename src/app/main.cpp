#include "app/CommandLine.h"
#include "app/QuitOnSignal.h"
#include "app/WindowLayout.h"
#include "app/groundswayController.h"
#include "base/SystemLog.h"
#include "net/HttpClient.h"

#include <QApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <optional>

namespace {

// Qt's own warnings go to the system log too, in its format, so each stays one entry.
void logQtMessage(QtMsgType, const QMessageLogContext&, const QString& message) {
    systemLog(message);
}

void print(std::FILE* to, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), to);
}

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

bool platformChosen(const QStringList& arguments) {
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           std::any_of(arguments.begin(), arguments.end(), [](const QString& a) {
               return a == u"-platform" || a == u"--platform" ||
                      a.startsWith(QStringLiteral("-platform=")) ||
                      a.startsWith(QStringLiteral("--platform="));
           });
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication::setOrganizationName(QStringLiteral("Groundsway"));
    QCoreApplication::setApplicationName(QStringLiteral("Groundsway"));
    QCoreApplication::setApplicationVersion(QStringLiteral(GROUNDSWAY_VERSION));
    // Everything on the command line is checked before the GUI starts, so a mistake is told the
    // same way where no display could be opened.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const auto parsed = parseCommandLine(arguments);
    if (const QString* why = std::get_if<QString>(&parsed)) {
        print(stderr, QStringLiteral("groundsway: %1\nTry 'groundsway --help'.\n").arg(*why));
        return 2;
    }
    const CommandLineOptions cl = std::get<CommandLineOptions>(parsed);
    if (cl.help) {
        print(stdout, commandLineHelp());
        return 0;
    }
    if (cl.version) {
        print(stdout, QStringLiteral("groundsway %1\n").arg(QStringLiteral(GROUNDSWAY_VERSION)));
        return 0;
    }
    if (!hasDisplay() && !platformChosen(arguments)) {
        // A snapshot needs no display: without one it draws offscreen.
        if (!cl.snapshot) {
            print(stderr, QStringLiteral("groundsway: there is no display to open a window on "
                                         "(DISPLAY and WAYLAND_DISPLAY are unset). Run it in a "
                                         "desktop session, under xvfb-run, with "
                                         "QT_QPA_PLATFORM=offscreen, or use --snapshot.\n"));
            return 1;
        }
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // A snapshot is quiet when it succeeds; the log comes out when it fails, or as it goes with
    // --verbose.
    const bool quiet = cl.snapshot && !cl.verbose;
    if (quiet)
        setSystemLogEcho(false);
    qInstallMessageHandler(logQtMessage);
    QApplication app(argc, argv); // takes Qt's own options (-platform, -style, ...) away
    QuitOnSignal quitOnSignal({SIGTERM, SIGINT});
    // Quitting abandons every transfer in flight, so the process ends at once.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [] { abortAllTransfers(); });

    WindowLayout layout;
    groundswayController controller;
    controller.setInlineAcquisition(cl.inlineAcquisition);
    controller.connectOutlets(layout.outlets(), layout.actions());
    controller.awakeFromNib();
    if (cl.snapshot) {
        int exitCode = 1;
        QTimer::singleShot(0, &controller, [&] {
            const auto done = [&exitCode](int code) {
                exitCode = code;
                QCoreApplication::quit();
            };
            if (cl.helicorder)
                return controller.takeHelicorderSnapshot(*cl.snapshot, cl.size, *cl.helicorder,
                                                         done);
            if (!cl.files.isEmpty())
                return controller.openSeismogramFiles(cl.files, [&, done](bool shown) {
                    QString why = QStringLiteral("none of the files could be read");
                    if (shown && controller.writeImage(*cl.snapshot, cl.size, &why))
                        return done(0);
                    print(stderr, QStringLiteral("groundsway: %1\n").arg(why));
                    done(1);
                });
            controller.takeSnapshot(*cl.snapshot, cl.size, cl.list, done);
        });
        app.exec();
        if (exitCode != 0 && quiet) {
            print(stderr, QStringLiteral("The system log of this run:\n"));
            for (const QString& line : recentSystemLog())
                print(stderr, line + u'\n');
        }
        return exitCode;
    }
    QTimer::singleShot(0, &controller, [&controller, files = cl.files] {
        controller.applicationDidFinishLaunching();
        if (!files.isEmpty())
            controller.openSeismogramFiles(files);
    });
    return app.exec();
}
