// The history log of the log window, and the status page command.
#include "app/groundswayController.h"

#include "app/ControlValues.h"
#include "app/SettingsReader.h"

#include "base/DateText.h"
#include "base/UrlText.h"

#include <QDesktopServices>
#include <QPlainTextEdit>
#include <QUrl>

void groundswayController::appendToHistory(const QString& message) {
    appendLine(o_.connectionLogTView, message);
}

void groundswayController::markHistory(QObject*) {
    const Date now = datetext::now();
    appendToHistory(QStringLiteral("\n"));
    appendToHistory(QStringLiteral("************ %1 **********\n").arg(datetext::description(now)));
}

void groundswayController::clearHistory(QObject*) {
    if (o_.connectionLogTView)
        o_.connectionLogTView->setPlainText(QString());
}

void groundswayController::tamsyStatus(QObject*) {
    // Only a plain http(s) base: the browser is never asked to open another scheme.
    const QString base = baseAddress(settings_->statusPageBase());
    if (!base.isEmpty())
        QDesktopServices::openUrl(QUrl(base + QStringLiteral("/tamsy/Check")));
}
