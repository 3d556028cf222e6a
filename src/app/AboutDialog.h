#pragma once

#include <QDialog>

class QTextBrowser;

// Help → About Groundsway: the version, the libraries it is built on with their licences, and
// where its built-in data and the seismograms it shows come from.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);

    // The whole text, for tests and the clipboard.
    QString text() const;

private:
    QTextBrowser* body_;
};
