#pragma once

#include <QString>
#include <QStringList>

// Why a channel brought no seismogram, and what the system log was told about it.
struct AcquisitionFailure {
    enum class Kind { Transport, Timeout, TooLarge, NotSeismogram, NoData, Cancelled, Refused };
    Kind kind = Kind::Transport;
    QString detail;        // one line for a person: the error, or what came back
    QStringList logLines;  // the lines the download writes to the system log (none for some)
};
