#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// The system log: each message goes to standard error as
// "yyyy-MM-dd HH:mm:ss.zzz Groundsway[pid] message" (UTC) and a line feed. The message is
// written as given, so one that holds line feeds stays multi-line, except that other control
// characters (from a list, a server) are escaped: ESC becomes \x1b; and a message longer than
// kMaxLogMessage characters is cut there, saying how much was left out.
inline constexpr qsizetype kMaxLogMessage = 4000;
void systemLog(const QString& message);
QString escapedForLog(const QString& message);

// A value from outside (a setting as typed, a name from a list) for a log message: in double
// quotes, every control character escaped (line feeds too, so it stays on its line), and cut
// at `maxChars` characters with the count of the rest.
QString quotedForLog(const QString& value, qsizetype maxChars = 200);

// Whether each line also goes to standard error (it does unless told otherwise); the lines are
// kept and heard by the listeners either way.
void setSystemLogEcho(bool toStandardError);

// Lets a caller see every message as it is logged (the tests read the log this way); returns
// the previous observer. The message still goes to standard error.
using SystemLogObserver = std::function<void(const QString&)>;
SystemLogObserver setSystemLogObserver(SystemLogObserver observer);

// The last lines written (as standard error got them, time stamp and all), oldest first, so a
// window opened late shows what came before it.
inline constexpr int kKeptSystemLogLines = 5000;
QStringList recentSystemLog();

// Hears every line as it is written, on the thread that writes it; returns an id to remove it
// with. Listeners must not write to the system log themselves.
using SystemLogListener = std::function<void(const QString& line)>;
int addSystemLogListener(SystemLogListener listener);
void removeSystemLogListener(int id);
