#include "app/WindowPlacement.h"

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QSettings>
#include <QWidget>

#include <algorithm>
#include <memory>

namespace placement {

namespace {

std::unique_ptr<QSettings> store() {
    // The same file as the other settings; its own group keeps these apart from the keys.
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Groundsway"), QStringLiteral("Groundsway"));
}

QString settingsKey(const QString& key) {
    return QStringLiteral("windowGeometry/") + key;
}

class Keeper : public QObject {
public:
    Keeper(QWidget* window, QString key, QWidget* anchor)
        : QObject(window), window_(window), key_(std::move(key)), anchor_(anchor),
          preferred_(window->size()) {
        window->installEventFilter(this);
        connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
            if (window_ && window_->isVisible())
                save();
        });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_) {
            if (event->type() == QEvent::Show && !placed_) {
                placed_ = true;
                place();
            } else if (event->type() == QEvent::Hide && placed_) {
                save();
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void place() {
        const QByteArray saved = store()->value(settingsKey(key_)).toByteArray();
        // Qt puts a remembered window back inside a screen that still exists.
        if (!saved.isEmpty() && window_->restoreGeometry(saved))
            return;
        QScreen* screen = anchor_ && anchor_ != window_ ? anchor_->screen() : window_->screen();
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (!screen)
            return;
        const QSize minimum = window_->minimumSizeHint().expandedTo(window_->minimumSize());
        window_->setGeometry(fitted(preferred_, minimum, screen->availableGeometry()));
    }
    void save() {
        if (window_->isFullScreen())
            return; // full screen is for now, not for the next start
        store()->setValue(settingsKey(key_), window_->saveGeometry());
    }

    QPointer<QWidget> window_;
    QString key_;
    QPointer<QWidget> anchor_;
    QSize preferred_;
    bool placed_ = false;
};

} // namespace

QRect fitted(QSize preferred, QSize minimum, const QRect& available, QMargins frame) {
    const QRect room = available.marginsRemoved(frame);
    QSize size = preferred.boundedTo(room.size()).expandedTo(minimum);
    size = size.expandedTo(QSize(1, 1));
    QRect r(QPoint(0, 0), size);
    r.moveCenter(room.center());
    // A window larger than the room keeps its title bar on the screen.
    r.moveLeft(std::max(r.left(), room.left()));
    r.moveTop(std::max(r.top(), room.top()));
    return r;
}

void manage(QWidget* window, const QString& key, QWidget* anchor) {
    if (window)
        new Keeper(window, key, anchor);
}

bool isRemembered(const QString& key) {
    return store()->contains(settingsKey(key));
}

void bringToFront(QWidget* window, bool noFieldFocused) {
    if (!window)
        return;
    window->show();
    window->raise();
    window->activateWindow();
    if (!noFieldFocused)
        return;
    if (QWidget* focused = window->focusWidget())
        focused->clearFocus();
    window->setFocus(Qt::OtherFocusReason);
}

void toggleFullScreen(QWidget* window, QAction* action) {
    if (!window)
        return;
    if (window->isFullScreen())
        window->showNormal();
    else
        window->showFullScreen();
    if (action)
        action->setChecked(window->isFullScreen());
}

} // namespace placement
