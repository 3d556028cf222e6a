#include "app/LiveChoice.h"

#include "app/UserDefaults.h"

#include <QComboBox>

namespace livechoice {

QStringList choices() {
    return {QStringLiteral("causal"), QStringLiteral("window")};
}

MonitorSession::LiveProcessing liveOf(const QString& stored) {
    return stored == u"window" ? MonitorSession::LiveProcessing::Window
                               : MonitorSession::LiveProcessing::Causal;
}

void bind(QComboBox* popUp, UserDefaults& defaults, std::function<void()> applied) {
    if (!popUp)
        return;
    popUp->setCurrentIndex(
        liveOf(defaults.stringForKey(QLatin1StringView(kKey))) == MonitorSession::LiveProcessing::Window
            ? 1
            : 0);
    QObject::connect(popUp, &QComboBox::activated, popUp,
                     [&defaults, applied = std::move(applied)](int index) {
                         defaults.setObject(choices().value(index, choices().front()),
                                            QLatin1StringView(kKey));
                         if (applied)
                             applied();
                     });
}

} // namespace livechoice
