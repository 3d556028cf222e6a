#pragma once

#include <QString>

class QMessageBox;
class QWidget;

// Something the user asked to save was not saved: a message box over the window says what and
// why (it does not wait; the window stays usable behind it), and the system log keeps the line.
QMessageBox* reportExportFailure(QWidget* window, const QString& what, const QString& why);
