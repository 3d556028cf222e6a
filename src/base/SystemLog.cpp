#include "base/SystemLog.h"

#include <QDateTime>

#include <algorithm>

#include <cstdio>
#include <deque>
#include <map>
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
std::deque<QString>& kept() {
    static std::deque<QString> lines;
    return lines;
}
std::map<int, SystemLogListener>& listeners() {
    static std::map<int, SystemLogListener> all;
    return all;
}
int nextListener = 1;
bool echo = true;
} // namespace

void setSystemLogEcho(bool toStandardError) {
    std::lock_guard lock(logMutex());
    echo = toStandardError;
}

QString escapedForLog(const QString& message) {
    QString out;
    out.reserve(message.size());
    for (const QChar c : message) {
        const char16_t u = c.unicode();
        // Line feeds and tabs stay (a message may be several lines); other control characters,
        // which could move the cursor or recolour a terminal, are written as \xHH or \uHHHH.
        if (u == u'\n' || u == u'\t' || !(u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0)))
            out += c;
        else if (u < 0x100)
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else
            out += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
    }
    return out;
}

QString quotedForLog(const QString& value, qsizetype maxChars) {
    const qsizetype kept = std::min(value.size(), std::max<qsizetype>(maxChars, 0));
    QString out = escapedForLog(value.left(kept));
    out.replace(u'\n', QStringLiteral("\\n")).replace(u'\t', QStringLiteral("\\t"));
    out = u'"' + out + u'"';
    if (kept < value.size())
        out += QStringLiteral(" (and %1 more characters)").arg(value.size() - kept);
    return out;
}

void systemLog(const QString& raw) {
    QString message = escapedForLog(raw.left(kMaxLogMessage));
    if (raw.size() > kMaxLogMessage)
        message += QStringLiteral(" \u2026 (%1 more characters left out)")
                       .arg(raw.size() - kMaxLogMessage);
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    const QString text = QStringLiteral("%1 Groundsway[%2] %3")
                             .arg(stamp)
                             .arg(static_cast<qint64>(::getpid()))
                             .arg(message);
    const QByteArray line = (text + u'\n').toUtf8();
    std::lock_guard lock(logMutex());
    if (echo) {
        std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
        std::fflush(stderr);
    }
    kept().push_back(text);
    if (kept().size() > static_cast<std::size_t>(kKeptSystemLogLines))
        kept().pop_front();
    for (const auto& [id, listener] : listeners())
        listener(text);
    if (observer())
        observer()(message);
}

SystemLogObserver setSystemLogObserver(SystemLogObserver o) {
    std::lock_guard lock(logMutex());
    std::swap(observer(), o);
    return o;
}

QStringList recentSystemLog() {
    std::lock_guard lock(logMutex());
    return QStringList(kept().begin(), kept().end());
}

int addSystemLogListener(SystemLogListener listener) {
    std::lock_guard lock(logMutex());
    const int id = nextListener++;
    listeners().emplace(id, std::move(listener));
    return id;
}

void removeSystemLogListener(int id) {
    std::lock_guard lock(logMutex());
    listeners().erase(id);
}
