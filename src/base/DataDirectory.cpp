#include "base/DataDirectory.h"

#include <QDir>
#include <QFileInfo>

namespace {

// A folder that holds nothing counts as missing: someone may have made it and not moved yet.
bool holdsSomething(const QString& path) {
    const QFileInfo info(path);
    return info.isDir() &&
           !QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty();
}

} // namespace

QString xdgDataDirectory(const QString& home, const QString& xdgDataHome) {
    // The XDG rules ignore a relative value.
    const QString base = !xdgDataHome.isEmpty() && QDir::isAbsolutePath(xdgDataHome)
                             ? xdgDataHome
                             : home + QStringLiteral("/.local/share");
    return QDir::cleanPath(base + QStringLiteral("/Groundsway"));
}

QString legacyDataDirectory(const QString& home) {
    return QDir::cleanPath(home + QStringLiteral("/Library/Application Support/Groundsway"));
}

DataDirectory chooseDataDirectory(const QString& home, const QString& xdgDataHome) {
    const QString current = xdgDataDirectory(home, xdgDataHome);
    const QString old = legacyDataDirectory(home);
    if (!holdsSomething(current) && holdsSomething(old))
        return {old, current};
    return {current, current};
}

DataDirectory chooseDataDirectory() {
    return chooseDataDirectory(QDir::homePath(), qEnvironmentVariable("XDG_DATA_HOME"));
}

QString DataDirectory::logLine() const {
    if (legacy())
        return QStringLiteral("Reading the channel lists and start-up files from %1, where "
                              "earlier versions kept them; move them to %2 (Groundsway reads "
                              "that folder once it holds anything).")
            .arg(path, preferred);
    return QStringLiteral("Reading the channel lists and start-up files from %1.").arg(path);
}
