#include "base/SystemLog.h"

#include <QDateTime>

#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace {
// Lines from several threads come out whole and in the order they took the lock.
std::mutex& logMutex() {
    static std::mutex m;
    return m;
}
SystemLogObserver& observer() {
    static SystemLogObserver o;
    return o;
}
} // namespace

void systemLog(const QString& message) {
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    const QByteArray line = QStringLiteral("%1 Groundsway[%2] %3\n")
                                .arg(stamp)
                                .arg(static_cast<qint64>(::getpid()))
                                .arg(message)
                                .toUtf8();
    std::lock_guard lock(logMutex());
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
    std::fflush(stderr);
    if (observer())
        observer()(message);
}

SystemLogObserver setSystemLogObserver(SystemLogObserver o) {
    std::lock_guard lock(logMutex());
    std::swap(observer(), o);
    return o;
}
