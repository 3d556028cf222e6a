// The history log of the log window, and the status page command.
#include "app/groundswayController.h"

#include "app/SettingsReader.h"

#include "base/DateText.h"
#include "base/UrlText.h"

#include <QDesktopServices>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>
#include <QUrl>

#include <algorithm>

void groundswayController::appendToHistory(const QString& message) {
    QPlainTextEdit* log = o_.connectionLogTView;
    if (!log)
        return;
    QTextCursor cursor(log->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(message);
    cursor.insertText(QStringLiteral("\n"));
    // Bring the end of the log into view: the line of its last character.
    cursor.setPosition(std::max(0, log->document()->characterCount() - 2));
    log->setTextCursor(cursor);
    log->ensureCursorVisible();
    log->viewport()->update();
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
    const QString base = baseAddress(settings_->serviceBase(o_.statusPageURLTField, "statusPageURL"));
    if (!base.isEmpty())
        QDesktopServices::openUrl(QUrl(base + QStringLiteral("/tamsy/Check")));
}
