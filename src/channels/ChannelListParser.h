#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// The channel list text format. One line per channel, five fields separated by ";":
// network; station; channel; location; label. A line whose first field is exactly "Title"
// sets the plot title from its second field, untrimmed. Only a line feed ends a line;
// whitespace and line breaks at the start of a line are skipped, fields are trimmed of tabs
// and spaces only, and every other line is ignored.
struct ParsedChannelList {
    QStringList networks, stations, channels, locations, labels;
    std::optional<QString> title; // the last title line's, if any
};

ParsedChannelList parseChannelListText(QStringView text);

// The most channels a list may hold: each is asked of the services on every refresh.
inline constexpr qsizetype kMaxChannels = 2000;

// What bounding a list removed: lines naming a channel named earlier (the first keeps its place
// and label), and channels beyond the most a list may hold.
struct ChannelListBounds {
    qsizetype repeats = 0;
    QString firstRepeat; // "NET.STA.LOC.CHA"
    qsizetype cut = 0;
    qsizetype most = kMaxChannels;

    // What the system log says of it (nothing when nothing was removed).
    QStringList logLines() const;
};
// Each channel once and at most `most` of them, in one pass.
ChannelListBounds boundChannelList(ParsedChannelList& list, qsizetype most = kMaxChannels);

// Skipped at the start of a line: blanks, tabs, CR, LF, VT, FF, NEL, the line and paragraph
// separators and every Unicode space separator.
bool isChannelListLineSpace(QChar c);
// Trimmed from both ends of a field: tab and the Unicode space separators.
bool isChannelListFieldSpace(QChar c);
