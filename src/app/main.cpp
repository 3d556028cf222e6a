#include "app/QuitOnSignal.h"
#include "app/WindowLayout.h"
#include "app/groundswayController.h"
#include "base/ChannelId.h"
#include "base/SystemLog.h"
#include "net/HttpClient.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <optional>
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
    QCommandLineOption snapshot{
        QStringLiteral("snapshot"),
        QStringLiteral("Run one monitor refresh without showing a window, write the seismogram "
                       "view to FILE (PNG, or SVG by its extension) and exit."),
        QStringLiteral("FILE")};
    QCommandLineOption size{QStringLiteral("size"),
                            QStringLiteral("The snapshot's size in pixels (default 1600x1000)."),
                            QStringLiteral("WIDTHxHEIGHT"), QStringLiteral("1600x1000")};
    QCommandLineOption list{QStringLiteral("list"),
                            QStringLiteral("The saved channel list (its menu title) the snapshot "
                                           "shows; else the one loaded at start."),
                            QStringLiteral("NAME")};
    QCommandLineOption helicorder{
        QStringLiteral("helicorder"),
        QStringLiteral("With --snapshot: draw the helicorder of this channel (its span and rows "
                       "as the settings hold them) instead of the seismogram view."),
        QStringLiteral("NET.STA.LOC.CHA")};
    QCommandLineOption inlineAcquisition{
        QStringLiteral("inline-acquisition"),
        QStringLiteral("Run every retrieval to its end before the window responds again.")};

    CommandLine() {
        parser.setApplicationDescription(QStringLiteral(
            "Shows the ground motion of the last hour at a chosen set of seismic stations, "
            "refreshed on a timer, and the seismograms of recent earthquakes."));
        inlineAcquisition.setFlags(QCommandLineOption::HiddenFromHelp); // for tests
        parser.addOptions({help, version, snapshot, size, list, helicorder, inlineAcquisition});
    }
};

void print(std::FILE* to, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), to);
}

} // namespace

// "1600x1000", both from 16 to 16384 pixels.
std::optional<QSize> sizeOf(const QString& text) {
    const QStringList parts = text.split(u'x');
    bool okW = false, okH = false;
    const int w = parts.value(0).toInt(&okW), h = parts.value(1).toInt(&okH);
    if (parts.size() != 2 || !okW || !okH || w < 16 || h < 16 || w > 16384 || h > 16384)
        return std::nullopt;
    return QSize(w, h);
}

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

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

    // Our own long options are checked before the GUI starts, so a mistake is told even where no
    // display could be opened; Qt's own options (one dash) are left to QApplication.
    {
        const QStringList known = {QStringLiteral("snapshot"), QStringLiteral("size"),
                                   QStringLiteral("list"), QStringLiteral("helicorder"),
                                   QStringLiteral("inline-acquisition")};
        for (const QString& a : raw.mid(1)) {
            if (!a.startsWith(QStringLiteral("--")))
                continue;
            const QString name = a.mid(2).section(u'=', 0, 0);
            if (!known.contains(name)) {
                print(stderr, QStringLiteral("groundsway: Unknown option '%1'.\nTry 'groundsway "
                                             "--help'.\n")
                                  .arg(name));
                return 2;
            }
        }
        const bool snapshotAsked = std::any_of(raw.begin(), raw.end(), [](const QString& a) {
            return a.startsWith(QStringLiteral("--snapshot"));
        });
        const auto sizeArg = std::find_if(raw.begin(), raw.end(), [](const QString& a) {
            return a == u"--size" || a.startsWith(QStringLiteral("--size="));
        });
        const bool listAsked = std::any_of(raw.begin(), raw.end(), [](const QString& a) {
            return a == u"--list" || a.startsWith(QStringLiteral("--list="));
        });
        const auto drumArg = std::find_if(raw.begin(), raw.end(), [](const QString& a) {
            return a == u"--helicorder" || a.startsWith(QStringLiteral("--helicorder="));
        });
        if (!snapshotAsked && (sizeArg != raw.end() || listAsked || drumArg != raw.end())) {
            print(stderr, QStringLiteral("groundsway: --size, --list and --helicorder go with "
                                         "--snapshot.\n"));
            return 2;
        }
        if (drumArg != raw.end()) {
            const QString value = drumArg->contains(u'=') ? drumArg->section(u'=', 1)
                                                          : (drumArg + 1 != raw.end() ? *(drumArg + 1)
                                                                                      : QString());
            if (!ChannelId::fromSeedId(value)) {
                print(stderr, QStringLiteral("groundsway: --helicorder needs a channel as "
                                             "NET.STA.LOC.CHA, like IU.ANMO.00.BHZ.\n"));
                return 2;
            }
        }
        if (sizeArg != raw.end()) {
            const QString value = sizeArg->contains(u'=') ? sizeArg->section(u'=', 1)
                                                          : (sizeArg + 1 != raw.end() ? *(sizeArg + 1)
                                                                                      : QString());
            if (!sizeOf(value)) {
                print(stderr, QStringLiteral("groundsway: --size needs WIDTHxHEIGHT, 16 to 16384 "
                                             "pixels each, like 1600x1000.\n"));
                return 2;
            }
        }
    }
    // A snapshot needs no display: without one it draws offscreen.
    const bool wantsSnapshot = std::any_of(raw.begin(), raw.end(), [](const QString& a) {
        return a.startsWith(QStringLiteral("--snapshot"));
    });
    if (wantsSnapshot && !hasDisplay() &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
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
    const bool snapshot = cl.parser.isSet(cl.snapshot);
    const auto snapshotSize = sizeOf(cl.parser.value(cl.size));
    if (!snapshotSize || (!snapshot && (cl.parser.isSet(cl.size) || cl.parser.isSet(cl.list) ||
                                        cl.parser.isSet(cl.helicorder)))) {
        print(stderr, !snapshotSize ? QStringLiteral("groundsway: --size needs WIDTHxHEIGHT, 16 to "
                                                     "16384 pixels each, like 1600x1000.\n")
                                    : QStringLiteral("groundsway: --size, --list and --helicorder "
                                                     "go with --snapshot.\n"));
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
    if (snapshot) {
        int exitCode = 1;
        QTimer::singleShot(0, &controller, [&] {
            const auto done = [&exitCode](int code) {
                exitCode = code;
                QCoreApplication::quit();
            };
            if (cl.parser.isSet(cl.helicorder)) {
                if (const auto channel = ChannelId::fromSeedId(cl.parser.value(cl.helicorder)))
                    return controller.takeHelicorderSnapshot(cl.parser.value(cl.snapshot),
                                                             *snapshotSize, *channel, done);
                return done(2);
            }
            controller.takeSnapshot(cl.parser.value(cl.snapshot), *snapshotSize,
                                    cl.parser.isSet(cl.list)
                                        ? std::optional<QString>(cl.parser.value(cl.list))
                                        : std::nullopt,
                                    done);
        });
        app.exec();
        return exitCode;
    }
    QTimer::singleShot(0, &controller,
                       [&controller] { controller.applicationDidFinishLaunching(); });
    return app.exec();
}
