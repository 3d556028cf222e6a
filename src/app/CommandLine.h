#pragma once

#include "base/ChannelId.h"

#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

// What `groundsway` was asked to do on its command line. Read before any window or display is
// opened, so a mistake is told (exit 2) on a machine without a display as well as with one.
struct CommandLineOptions {
    bool help = false, version = false;
    std::optional<QString> snapshot; // the image file to write
    QSize size{1600, 1000};
    std::optional<QString> list;
    std::optional<ChannelId> helicorder;
    bool verbose = false;
    bool inlineAcquisition = false; // for tests
    QStringList files;              // seismogram files to show instead of the monitor
};

// The arguments after the program's name: options, and seismogram files (any argument that is
// not an option; after "--" every argument is a file). Qt's own options (-platform, -style,
// -display, ..., with one dash or two) are let through for QApplication; anything else that is not
// ours is a mistake, and the answer is then the sentence that says which, quoting it as typed.
std::variant<CommandLineOptions, QString> parseCommandLine(const QStringList& arguments);

// The text of --help (the manual page says the same).
QString commandLineHelp();
