#pragma once

#include <QList>

#include <functional>

class QAction;
class QMenu;
class QPoint;
class QuilmRealTimeDisplayView02;
class QWidget;

// The trace inspector from the menus, not only by a double-click: the seismogram view's context
// menu (the trace under the pointer, then the view's own commands) and a submenu that lists
// every trace shown. `inspect` opens the inspector on a trace by its position in the view.
namespace tracemenus {

using Inspect = std::function<void(int trace)>;

void attach(QuilmRealTimeDisplayView02* view, QMenu* inspectMenu,
            const QList<QAction*>& viewActions, Inspect inspect);

// The context menu for a point of the view (parented to `parent`, not shown).
QMenu* contextMenu(QuilmRealTimeDisplayView02* view, const QPoint& pos,
                   const QList<QAction*>& viewActions, const Inspect& inspect, QWidget* parent);
// The submenu, filled with the traces the view shows now.
void fillInspectMenu(QMenu* menu, const QuilmRealTimeDisplayView02* view, const Inspect& inspect);

} // namespace tracemenus
