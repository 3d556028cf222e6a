#pragma once

#include <QHashFunctions>
#include <QString>

// One channel of the station inventory, as the channel finder lists it. It answers the chain of
// questions the finder asks: its identifier gives the network, station, channel and site codes,
// its site gives the station, and the station its name.
class AvailableChannel {
public:
    struct NetworkIdentifier {
        QString code;
        const QString& _network_code() const { return code; }
        friend bool operator==(const NetworkIdentifier&, const NetworkIdentifier&) = default;
    };
    struct ChannelIdentifier {
        NetworkIdentifier network;
        QString station, channel, site;
        const NetworkIdentifier& _network_id() const { return network; }
        const QString& _station_code() const { return station; }
        const QString& _channel_code() const { return channel; }
        const QString& _site_code() const { return site; }
        friend bool operator==(const ChannelIdentifier&, const ChannelIdentifier&) = default;
    };
    struct Station {
        QString name;
        const QString& _name() const { return name; }
        friend bool operator==(const Station&, const Station&) = default;
    };
    struct Site {
        Station station;
        const Station& _my_station() const { return station; }
        friend bool operator==(const Site&, const Site&) = default;
    };

    AvailableChannel() = default;
    AvailableChannel(QString network, QString station, QString channel, QString site,
                     QString stationName)
        : id_{{std::move(network)}, std::move(station), std::move(channel), std::move(site)},
          site_{{std::move(stationName)}} {}

    const ChannelIdentifier& _id() const { return id_; }
    const Site& _my_site() const { return site_; }

    friend bool operator==(const AvailableChannel&, const AvailableChannel&) = default;

private:
    ChannelIdentifier id_;
    Site site_;
};

inline size_t qHash(const AvailableChannel& c, size_t seed = 0) {
    return qHashMulti(seed, c._id()._network_id()._network_code(), c._id()._station_code(),
                      c._id()._channel_code(), c._id()._site_code(),
                      c._my_site()._my_station()._name());
}
