#pragma once

#include "base/ChannelId.h"

#include <QByteArrayView>
#include <QString>

#include <atomic>
#include <chrono>
#include <optional>
#include <vector>

// What a SeedLink server says it streams: its answer to INFO STREAMS, an XML document carried
// in INFO packets, e.g.
//   <seedlink software="..." organization="..." started="...">
//     <station name="ANMO" network="IU" description="Albuquerque, New Mexico, USA" ...>
//       <stream location="00" seedname="BHZ" type="D" begin_time="..." end_time="..."/>
// and which of several servers each channel of a list is streamed from.
namespace seedlink {

struct StreamEntry {
    ChannelId channel;   // location blank for a blank one
    QString description; // the station's, as the server gives it
};

inline constexpr std::size_t kMaxStreams = 1'000'000;
inline constexpr qsizetype kMaxStreamListBytes = 64 << 20;

// The data streams (type D) of the document, in its order; nothing, and why, when it is not a
// stream list. Streams whose codes do not fit in a miniSEED record are left out.
std::optional<std::vector<StreamEntry>> parseStreamList(QByteArrayView xml, QString* why = nullptr);

struct StreamListAnswer {
    std::optional<std::vector<StreamEntry>> streams; // nothing: not to be had
    QString why;
};
// Asks a server for its stream list: connect, HELLO, INFO STREAMS, the INFO packets, BYE.
// Blocking, for a worker thread: waits in short slices, gives up when `cancel` is set or the
// deadline passes, and reads at most kMaxStreamListBytes of text.
StreamListAnswer fetchStreamList(const QString& host, quint16 port, const std::atomic<bool>* cancel,
                                 std::chrono::milliseconds deadline);

// For each channel, the first server whose list holds it (blank location matching blank only);
// a server whose list could not be had may hold anything, so the first such takes the channels
// no list holds; -1 when no server does.
using StreamLists = std::vector<std::optional<std::vector<StreamEntry>>>;
std::vector<int> routeChannels(const std::vector<ChannelId>& channels, const StreamLists& lists);

} // namespace seedlink
