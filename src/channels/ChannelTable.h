#pragma once

#include "base/ChannelId.h"

#include <QStringList>

// The parsed channel list as one value: five parallel lists, entry i of each belonging to
// channel i. `locations` is what the controller's list theChannelCodes holds.
struct ChannelTable {
    QStringList networks, stations, channels, locations, labels;

    // The number of channels is the length of the station list.
    qsizetype size() const { return stations.size(); }
    ChannelId id(qsizetype i) const {
        return {networks.value(i), stations.value(i), locations.value(i), channels.value(i)};
    }
    friend bool operator==(const ChannelTable&, const ChannelTable&) = default;
};
