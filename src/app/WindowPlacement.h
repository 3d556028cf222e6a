#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>
#include <QString>

class QAction;
class QWidget;

// Every window opens at a size that fits the screen it opens on, and comes back at the size and
// place the user left it.
namespace placement {

// Room the window manager's title bar and borders take, before a window is shown and they can
// be measured.
inline constexpr QMargins kFrameAllowance{4, 32, 4, 4};

// Where a window that wants `preferred` (and needs at least `minimum`) opens on a screen whose
// free area is `available`: as large as wanted but no larger than the area less the frame,
// centred in it. When even the minimum does not fit, the window still starts inside the area,
// at its top left.
QRect fitted(QSize preferred, QSize minimum, const QRect& available,
             QMargins frame = kFrameAllowance);

// Looks after a top-level window: the first time it is shown it takes the size and place it had
// when it was last hidden (kept in the settings file under windowGeometry/`key`), or else the
// fitted size on the screen of `anchor` (the main window), or its own; its size and place are
// kept whenever it is hidden and when the application quits.
void manage(QWidget* window, const QString& key, QWidget* anchor = nullptr);

// Whether the settings file holds a size and place for this window.
bool isRemembered(const QString& key);

// Shows a window in front of the others and makes it the active one; with `noFieldFocused`, no
// field of it holds the keyboard (the window itself does, so activation hands it to none).
void bringToFront(QWidget* window, bool noFieldFocused = false);
// Full screen, or back again; `action` (a checkable menu command) says which.
void toggleFullScreen(QWidget* window, QAction* action);

} // namespace placement
