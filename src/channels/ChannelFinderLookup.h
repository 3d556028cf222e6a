#pragma once

#include "components/AvailableChannel.h"
#include "net/HttpClient.h"

#include <QString>

#include <optional>
#include <vector>

// The channel finder's look-up in an FDSN station service: the channels matching the patterns
// (level=channel), labelled with their stations' names (level=station) where those can be had.
struct ChannelFinderQuery {
    QString channelQuery, stationQuery;
};

struct ChannelFinderAnswer {
    std::optional<std::vector<AvailableChannel>> channels; // nothing: the look-up failed
    QString why;                                           // then, the reason
    int leftOut = 0; // rows whose codes could not go into a query
};

// The two queries for a service base and the four patterns as typed ("*" when empty). Patterns
// keep "*" and their commas; everything else unusual is percent-encoded, "?" too, since some
// servers refuse a second "?" in an address (the service decodes it back).
ChannelFinderQuery channelFinderQuery(const QString& serviceBase, const QString& network,
                                      const QString& station, const QString& location,
                                      const QString& channel);

// Blocking; may run on any thread.
ChannelFinderAnswer lookUpChannels(const ChannelFinderQuery& query, const HttpOptions& options);
