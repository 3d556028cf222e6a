#pragma once

#include "components/AvailableChannel.h"
#include "net/HttpClient.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

// The channel finder's look-up in an FDSN station service: the channels matching the patterns
// (level=channel), labelled with their stations' names (level=station) where those can be had;
// or in what SeedLink servers stream (their INFO STREAMS), matched against the same patterns.
struct ChannelFinderQuery {
    QString channelQuery, stationQuery; // for a SeedLink look-up, channelQuery names the servers
    std::vector<std::pair<QString, quint16>> seedLinkServers{}; // set: look there instead
    QStringList patterns{}; // network, station, location, channel: for the SeedLink look-up
};

struct ChannelFinderAnswer {
    std::optional<std::vector<AvailableChannel>> channels; // nothing: the look-up failed
    QString why;                                           // then, the reason
    int leftOut = 0; // rows whose codes could not go into a query

    // What the system log says of this answer to `query`.
    QStringList logLines(const ChannelFinderQuery& query) const;
};

// The finder's listing, one "NET; STA; CHA; LOC; Station name" line per channel and at most
// `maxLines` of them, then a line that says how many more there are (and `logLine` says it too).
QString finderListing(const std::vector<AvailableChannel>& channels, std::size_t maxLines,
                      QString* logLine);

// The two queries for a service base and the four patterns as typed ("*" when empty). Patterns
// keep "*" and their commas; everything else unusual is percent-encoded, "?" too, since some
// servers refuse a second "?" in an address (the service decodes it back).
ChannelFinderQuery channelFinderQuery(const QString& serviceBase, const QString& network,
                                      const QString& station, const QString& location,
                                      const QString& channel);

// The servers' stream lists, each channel of them matching the patterns as a station service
// matches them: "*" any run, "?" one character, alternatives separated by commas, "--" the
// blank location, letters in either case; an empty pattern is "*". Labels are the stations'
// descriptions. Nothing when `servers` is not "host:port" or a list of them.
std::optional<ChannelFinderQuery>
seedLinkFinderQuery(const QString& servers, const QString& network, const QString& station,
                    const QString& location, const QString& channel);

// Blocking; may run on any thread.
ChannelFinderAnswer lookUpChannels(const ChannelFinderQuery& query, const HttpOptions& options);
