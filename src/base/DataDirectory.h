#pragma once

#include <QString>

// Where Groundsway's own files (the saved channel lists, the default list's name, the marker that
// starts monitoring) are read from. They follow the XDG base directories:
// $XDG_DATA_HOME/Groundsway, or ~/.local/share/Groundsway when that variable is unset, empty or
// not an absolute path. Earlier versions read ~/Library/Application Support/Groundsway; that
// folder is still read while the new one is missing or empty, so nobody loses their lists.
struct DataDirectory {
    QString path;      // the folder read
    QString preferred; // the XDG folder, where the files belong
    bool legacy() const { return path != preferred; }
    // One line for the system log that says which folder is read, and where the files belong.
    QString logLine() const;
};

// The choice for this home and value of XDG_DATA_HOME (as the environment holds it, maybe
// empty), looking at what the two folders hold.
DataDirectory chooseDataDirectory(const QString& home, const QString& xdgDataHome);
// The same for the process's own environment ($HOME, $XDG_DATA_HOME).
DataDirectory chooseDataDirectory();

// The folder the XDG rules give, whether or not it exists.
QString xdgDataDirectory(const QString& home, const QString& xdgDataHome);
// The folder earlier versions read.
QString legacyDataDirectory(const QString& home);
