#pragma once

#include "base/Mailbox.h"

#include <QWidget>

class QPlainTextEdit;
class QPushButton;

// Window → System Log: the system log's lines as they are written (the text standard error gets
// too), newest at the bottom, with Copy and Clear. A person who starts Groundsway from the
// desktop sees no standard error; this is where the failures are named.
class SystemLogWindow : public QWidget {
    Q_OBJECT
public:
    explicit SystemLogWindow(QWidget* parent = nullptr);
    ~SystemLogWindow() override;

    QPlainTextEdit* view() const { return view_; }
    QPushButton* copyButton() const { return copy_; }
    QPushButton* clearButton() const { return clear_; }

private:
    void append(const QString& line);

    QPlainTextEdit* view_;
    QPushButton* copy_;
    QPushButton* clear_;
    Mailbox mailbox_;
    int listener_ = 0;
};
