#include "base/SystemLog.h"

#include <QDateTime>

#include <cstdio>
#include <unistd.h>

namespace {
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
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
    std::fflush(stderr);
    if (observer())
        observer()(message);
}

SystemLogObserver setSystemLogObserver(SystemLogObserver o) {
    std::swap(observer(), o);
    return o;
}
