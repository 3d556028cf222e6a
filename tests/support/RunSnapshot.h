#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <utility>

// Runs the real groundsway binary with a throwaway home and no display (a snapshot goes
// offscreen by itself); its exit code and standard error.
inline std::pair<int, QString> runGroundsway(const QString& home, const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/.config");
    env.insert("XDG_DATA_HOME", home + "/.local/share");
    env.insert("XDG_RUNTIME_DIR", home);
    env.remove("DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(GS_BINARY_DIR "/groundsway"), args);
    p.waitForFinished(60000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardError())};
}
