#pragma once

#include <QString>

// The line the empty seismogram view shows before the first retrieval: what to do next.
QString guidanceLine(const QString& listTitle, qsizetype channels, int minutes, bool fetching);
