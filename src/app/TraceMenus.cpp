#include "app/TraceMenus.h"

#include "components/QuilmRealTimeDisplayView02.h"
#include "components/sac/SacObject.h"

#include <QAction>
#include <QMenu>

namespace tracemenus {

namespace {

QString itemText(const QuilmRealTimeDisplayView02* view, int k) {
    const auto* list = view->wvfrmsArray();
    const SacObject* s = list ? (*list)[static_cast<std::size_t>(k)].get() : nullptr;
    if (!s)
        return {};
    QString text = QuilmRealTimeDisplayView02::fullLabel(*s).simplified();
    // An ampersand would underline the next letter instead of showing.
    text.replace(u'&', QStringLiteral("&&"));
    if (s->samples().empty())
        text += QObject::tr(" (no data)");
    return text;
}

} // namespace

QMenu* contextMenu(QuilmRealTimeDisplayView02* view, const QPoint& pos,
                   const QList<QAction*>& viewActions, const Inspect& inspect, QWidget* parent) {
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("seismogramContextMenu"));
    const int k = view->traceAt(pos, view->size());
    if (k >= 0) {
        QAction* a = menu->addAction(QObject::tr("Inspect %1...").arg(itemText(view, k)));
        a->setObjectName(QStringLiteral("inspectThisTraceAction"));
        QObject::connect(a, &QAction::triggered, menu, [inspect, k] { inspect(k); });
    } else {
        QMenu* sub = menu->addMenu(QObject::tr("Inspect Trace"));
        fillInspectMenu(sub, view, inspect);
    }
    menu->addSeparator();
    QAction* whole = menu->addAction(QObject::tr("Show the Whole Window"));
    whole->setEnabled(view->isZoomed());
    QObject::connect(whole, &QAction::triggered, view, &QuilmRealTimeDisplayView02::resetZoom);
    menu->addSeparator();
    for (QAction* a : viewActions)
        if (a)
            menu->addAction(a);
    return menu;
}

void fillInspectMenu(QMenu* menu, const QuilmRealTimeDisplayView02* view, const Inspect& inspect) {
    menu->clear();
    const auto* list = view->wvfrmsArray();
    const int n = list ? static_cast<int>(list->size()) : 0;
    for (int k = 0; k < n; ++k) {
        QAction* a = menu->addAction(itemText(view, k));
        QObject::connect(a, &QAction::triggered, menu, [inspect, k] { inspect(k); });
    }
    if (n == 0)
        menu->addAction(QObject::tr("No traces yet"))->setEnabled(false);
}

void attach(QuilmRealTimeDisplayView02* view, QMenu* inspectMenu,
            const QList<QAction*>& viewActions, Inspect inspect) {
    if (!view)
        return;
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(view, &QWidget::customContextMenuRequested, view,
                     [view, viewActions, inspect](const QPoint& pos) {
                         QMenu* menu = contextMenu(view, pos, viewActions, inspect, view);
                         menu->setAttribute(Qt::WA_DeleteOnClose);
                         menu->popup(view->mapToGlobal(pos));
                     });
    if (inspectMenu)
        QObject::connect(
            inspectMenu, &QMenu::aboutToShow, inspectMenu,
            [inspectMenu, view, inspect] { fillInspectMenu(inspectMenu, view, inspect); });
    // Filled once now, so the keyboard can reach the items before the menu was ever opened.
    if (inspectMenu)
        fillInspectMenu(inspectMenu, view, inspect);
}

} // namespace tracemenus
