#pragma once

#include "base/SystemLog.h"

#include <QStringList>

// Collects the system log's messages while it lives.
class LogCapture {
public:
    LogCapture() {
        previous_ = setSystemLogObserver([this](const QString& m) { lines_ << m; });
    }
    ~LogCapture() { setSystemLogObserver(std::move(previous_)); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const QStringList& lines() const { return lines_; }
    void clear() { lines_.clear(); }
    qsizetype count(const QString& prefix) const {
        qsizetype n = 0;
        for (const QString& l : lines_)
            n += l.startsWith(prefix) ? 1 : 0;
        return n;
    }

private:
    QStringList lines_;
    SystemLogObserver previous_;
};
