#pragma once

#include "acquisition/RetrievalCycle.h"
#include "base/ChannelId.h"
#include "base/Time.h"
#include "channels/ChannelTable.h"
#include "components/SeismicOrigin.h"
#include "components/sac/SacHeader.h"
#include "store/Segment.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

struct SessionFrame;

// Seismograms read from files on disk: SAC (either byte order, header versions 6 and 7) and
// miniSEED (any number of channels and records, gaps kept as gaps).
namespace seismogramfiles {

// A file larger than this is not read: it would not fit a display's worth of memory.
inline constexpr qint64 kMaxFileBytes = qint64{1} << 30;

struct Channel {
    ChannelId channel;
    std::vector<Segment> segments;        // gapless, oldest first
    std::optional<sac::SacHeader> header; // a SAC file's, for its station and event
    QString file;                         // the first file it came from
    std::optional<SeismicOrigin> origin;  // the earthquake a SAC header names
};

struct Opened {
    std::vector<Channel> channels; // in the order of the files, then of first appearance
    QStringList files;             // the names (no folders) of the files read
    // "NAME: why" for each file that could not be read; the others are read all the same.
    QStringList problems;
    // "NAME: what was left out" for each file read in part (records that could not be used).
    QStringList skipped;
    std::optional<Time> start, end;      // the span of every sample read
    std::optional<SeismicOrigin> origin; // the first earthquake a SAC header names
};

// The earthquake a SAC file's header names: its epicentre (EVLA, EVLO), origin time (O, after
// the reference time that `firstSample` = B is counted from), and depth and magnitude when
// given. Nothing when the epicentre or the origin time is undefined or out of range.
std::optional<SeismicOrigin> originOf(const sac::SacHeader& header, Time firstSample);

// The channel a SAC header names; a code the header leaves undefined is blank, and a file with
// no station code takes its file name (without suffix) as the station.
ChannelId sacChannel(const sac::SacHeader& header, const QString& fileName);

// The samples of one file's bytes: SAC when the bytes are a complete SAC time series, else
// miniSEED. Nothing, and why, when they are neither. `skipped` tells what of a miniSEED file
// that was read could not be used, if anything.
std::optional<std::vector<Channel>> readBytes(const QByteArray& bytes, const QString& fileName,
                                              QString* why, QString* skipped = nullptr);

// Every file in turn. A file that cannot be opened, is too large, or holds no seismogram is a
// problem of its own.
Opened read(const QStringList& paths);

// What opened files show, as a typed window over their span would: one row per channel (the
// channels' order), each of its segments a piece through the chain with the options given, a
// SAC file's header lent to its pieces.
std::shared_ptr<CycleResult> rows(const Opened& opened, const ProcessingOptions& options);

// "a.sac, b.mseed", or the first few and "and N more".
QString titleOf(const QStringList& files);
// The channel table the files name, one row per channel; their labels are the codes.
ChannelTable tableOf(const Opened& opened);
// The frame that shows the files' rows as a typed window over their span, unzoomed. Needs a
// span (opened.start and opened.end).
std::shared_ptr<SessionFrame> frameOf(const Opened& opened, std::shared_ptr<CycleResult> rows);

} // namespace seismogramfiles
