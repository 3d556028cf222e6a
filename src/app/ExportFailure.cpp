#include "app/ExportFailure.h"

#include "base/SystemLog.h"

#include <QMessageBox>

QMessageBox* reportExportFailure(QWidget* window, const QString& what, const QString& why) {
    systemLog(QStringLiteral("%1: %2").arg(what, why));
    auto* box = new QMessageBox(QMessageBox::Warning, what, what, QMessageBox::Ok, window);
    box->setObjectName(QStringLiteral("exportFailureBox"));
    box->setInformativeText(why);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return box;
}
