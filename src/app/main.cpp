#include "app/QuitOnSignal.h"
#include "base/SystemLog.h"
#include "app/WindowLayout.h"
#include "app/groundswayController.h"

#include <QApplication>
#include <QTimer>

#include <csignal>

namespace {

// Qt's own warnings go to the system log too, in its format, so each stays one entry.
void logQtMessage(QtMsgType, const QMessageLogContext&, const QString& message) {
    systemLog(message);
}

} // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(logQtMessage);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Groundsway"));
    QApplication::setApplicationName(QStringLiteral("Groundsway"));
    QuitOnSignal quitOnSignal({SIGTERM, SIGINT});

    WindowLayout layout;
    groundswayController controller;
    controller.connectOutlets(layout.outlets(), layout.actions());
    controller.awakeFromNib();
    QTimer::singleShot(0, &controller,
                       [&controller] { controller.applicationDidFinishLaunching(); });
    return app.exec();
}
