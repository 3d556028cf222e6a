#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The titles of the saved channel lists as their pop-up shows them: each once, in the order a
// person looks for them (letters without regard to case, numbers by their value, so "List 2"
// comes before "List 10").
QStringList sortedListTitles(QStringList titles);

// The title a list file's name stands for: the name without ".txt".
QString listTitleOf(const QString& fileName);

// The titles of the lists saved under `folder` ("*.txt", also in folders below, titled with
// their path from `folder`: "regional/alaska"), sorted; none when the folder is missing.
QStringList savedListTitles(const QString& folder);

// The text of the list file `fileName` under `folder`: nothing for a name that leads out of the
// folder or a file that is missing; nothing, and a line in the system log, for one that is not a
// plain ASCII text of at most 16 MiB.
std::optional<QString> readSavedList(const QString& folder, const QString& fileName);
