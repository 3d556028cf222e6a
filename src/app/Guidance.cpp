#include "app/Guidance.h"

#include <QObject>

QString guidanceLine(const QString& title, qsizetype channels, int minutes, bool fetching) {
    if (channels == 0)
        return QObject::tr(
            "No channel yet. In Window \u2192 Settings, choose a saved list or type one, one "
            "channel a line (network; station; channel; location; label), and press OK.");
    // The first retrieval is under way: say so rather than ask for what was just done.
    if (fetching)
        return QObject::tr("Fetching the %1 channels of '%2'… (Window → System Log shows any that "
                           "fail)")
            .arg(channels)
            .arg(title);
    const QString span = minutes == 60       ? QObject::tr("the last hour")
                         : minutes % 60 == 0 ? QObject::tr("the last %1 hours").arg(minutes / 60)
                         : minutes == 1      ? QObject::tr("the last minute")
                                             : QObject::tr("the last %1 minutes").arg(minutes);
    return channels == 1
               ? QObject::tr("Press Start to watch %1 of the channel of '%2'.").arg(span, title)
               : QObject::tr("Press Start to watch %1 of the %2 channels of '%3'.")
                     .arg(span)
                     .arg(channels)
                     .arg(title);
}
