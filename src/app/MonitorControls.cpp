#include "app/MonitorControls.h"

#include "acquisition/WindowRequest.h"
#include "app/Outlets.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

namespace monitorcontrols {

namespace {
constexpr int kCustomRole = Qt::UserRole + 1; // marks the item of a length of the settings' own
}

void showLength(QComboBox* popup, int minutes) {
    if (!popup)
        return;
    const int custom = popup->findData(true, kCustomRole);
    int index = popup->findData(minutes, Qt::UserRole);
    if (custom >= 0 && custom != index) {
        popup->removeItem(custom);
        index = popup->findData(minutes, Qt::UserRole);
    }
    if (index < 0) {
        popup->addItem(QComboBox::tr("Last %1 minutes").arg(minutes), minutes);
        index = popup->count() - 1;
        popup->setItemData(index, true, kCustomRole);
    }
    popup->setCurrentIndex(index);
}

std::optional<int> chosenLength(const QObject* sender, int most) {
    const auto* popup = qobject_cast<const QComboBox*>(sender);
    if (!popup)
        return std::nullopt;
    const int chosen = popup->currentData(Qt::UserRole).toInt();
    if (chosen < 1 || chosen > most)
        return std::nullopt;
    return chosen;
}

void showRunning(const Outlets& o, bool running) {
    if (o.autoUpdateButton)
        o.autoUpdateButton->setText(running ? QStringLiteral("Stop") : QStringLiteral("Start"));
    if (o.monitorIndicatorTField)
        o.monitorIndicatorTField->setHidden(!running);
    if (!running && o.networkProgressIndicator)
        o.networkProgressIndicator->hide();
}

void showWindowTimes(const Outlets& o, const WindowRequest& window,
                     const std::optional<QString>& title) {
    if (o.startTField)
        o.startTField->setText(window.startText);
    if (o.endTField)
        o.endTField->setText(window.endText);
    if (title && o.plotTitleTField)
        o.plotTitleTField->setText(*title);
    const int kind = window.mode == WindowRequest::Mode::Monitor ? 20 : 10;
    if (QAbstractButton* b = o.seisServerMatrix ? o.seisServerMatrix->button(kind) : nullptr)
        b->setChecked(true);
}

} // namespace monitorcontrols
