#include "app/Snapshot.h"

#include "acquisition/MonitorSession.h"
#include "components/NEIC_QueryController.h"

#include <cstdio>
#include <memory>

namespace snapshot {

void fail(const Done& done, const QString& why) {
    const QByteArray text = QStringLiteral("groundsway: %1\n").arg(why).toLocal8Bit();
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stderr);
    done(1);
}

void finish(const Done& done, bool drawn, const QString& nothingDrawn,
            const std::function<bool(QString*)>& write) {
    if (!drawn)
        return fail(done, nothingDrawn);
    QString why;
    if (!write(&why))
        return fail(done, why);
    done(0);
}

void atFirstTraces(MonitorSession& session, QObject* context, std::function<void()> then) {
    auto once = std::make_shared<QMetaObject::Connection>();
    *once = QObject::connect(&session, &MonitorSession::frameReady, context,
                             [then = std::move(then), once](const auto& frame) {
                                 if (!frame->result)
                                     return;
                                 QObject::disconnect(*once);
                                 then();
                             });
}

void afterCatalogue(NEIC_QueryController* catalogue, QObject* context, std::function<void()> then) {
    if (!catalogue || !catalogue->isLoading())
        return then();
    auto once = std::make_shared<QMetaObject::Connection>();
    *once = QObject::connect(catalogue, &NEIC_QueryController::listLoaded, context,
                             [then = std::move(then), once] {
                                 QObject::disconnect(*once);
                                 then();
                             });
}

} // namespace snapshot
