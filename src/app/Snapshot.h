#pragma once

#include <QString>

#include <functional>

class MonitorSession;
class NEIC_QueryController;
class QObject;

// The command line's pictures (--snapshot and the helicorder's): they end with an exit code,
// and a failure says why on standard error.
namespace snapshot {

using Done = std::function<void(int exitCode)>;

void fail(const Done& done, const QString& why);
// 1 and `nothingDrawn` when nothing was drawn; else `write`'s outcome.
void finish(const Done& done, bool drawn, const QString& nothingDrawn,
            const std::function<bool(QString* why)>& write);
// Runs `then` once, at the first frame that carries traces (a retrieval's, or in stream mode
// the filled window's).
void atFirstTraces(MonitorSession& session, QObject* context, std::function<void()> then);
// Runs `then` now, or once the catalogue that is loading has loaded.
void afterCatalogue(NEIC_QueryController* catalogue, QObject* context, std::function<void()> then);

} // namespace snapshot
