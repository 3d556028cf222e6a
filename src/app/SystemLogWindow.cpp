#include "app/SystemLogWindow.h"

#include "base/SystemLog.h"

#include <QApplication>
#include <QClipboard>
#include <QFont>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

SystemLogWindow::SystemLogWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), view_(new QPlainTextEdit(this)),
      copy_(new QPushButton(tr("Copy"), this)), clear_(new QPushButton(tr("Clear"), this)) {
    setObjectName(QStringLiteral("systemLogWindow"));
    setWindowTitle(tr("Groundsway System Log"));
    resize(900, 420);
    view_->setObjectName(QStringLiteral("systemLogTView"));
    view_->setReadOnly(true);
    view_->setLineWrapMode(QPlainTextEdit::NoWrap);
    view_->setMaximumBlockCount(kKeptSystemLogLines);
    QFont font(QStringLiteral("Courier"), 10);
    font.setStyleHint(QFont::TypeWriter);
    view_->setFont(font);
    copy_->setToolTip(tr("Copy the whole log (or the selection) to the clipboard"));
    clear_->setToolTip(tr("Empty this window; standard error keeps every line"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(copy_);
    buttons->addWidget(clear_);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(view_);
    layout->addLayout(buttons);

    connect(copy_, &QPushButton::clicked, this, [this] {
        QString selected = view_->textCursor().selectedText();
        QApplication::clipboard()->setText(
            selected.isEmpty() ? view_->toPlainText()
                               : selected.replace(QChar::ParagraphSeparator, u'\n'));
    });
    connect(clear_, &QPushButton::clicked, view_, &QPlainTextEdit::clear);

    for (const QString& line : recentSystemLog())
        append(line);
    // Lines come from any thread; they are shown on this one, in the order written.
    listener_ = addSystemLogListener(
        [back = mailbox_.sender(), this](const QString& line) { back.post([this, line] { append(line); }); });
}

SystemLogWindow::~SystemLogWindow() {
    removeSystemLogListener(listener_);
}

void SystemLogWindow::append(const QString& line) {
    QScrollBar* bar = view_->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    view_->appendPlainText(line);
    if (atEnd)
        bar->setValue(bar->maximum()); // newest at the bottom, unless the person scrolled up
}
