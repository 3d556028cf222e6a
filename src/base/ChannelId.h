#pragma once

#include <QHashFunctions>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <compare>
#include <cstddef>
#include <functional>
#include <optional>

// Nominal sample interval (s) the band letter of a channel code stands for: L 1, U 10, B 0.05,
// S 0.025, anything else (an empty code too) 1. Compared case-sensitively.
inline double bandSampleInterval(QStringView channelCode) {
    if (channelCode.startsWith(u'L'))
        return 1.0;
    if (channelCode.startsWith(u'U'))
        return 10.0;
    if (channelCode.startsWith(u'B'))
        return 0.05;
    if (channelCode.startsWith(u'S'))
        return 0.025;
    return 1.0;
}

// Network, station and channel codes are letters and digits, as SEED defines them (an empty one
// passes); a location code may also be "--", the services' blank. Nothing else may reach a
// query, where "&", "#", "%" or "/" would change what is asked for.
inline bool isChannelCode(QStringView code, bool location = false) {
    if (location && code == u"--")
        return true;
    for (const QChar c : code)
        if (!((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')))
            return false;
    return true;
}

// One seismic channel by its four codes, as the channel list names it.
struct ChannelId {
    QString network, station, location, channel;

    // "NET.STA.LOC.CHA".
    QString seedId() const { return network + u'.' + station + u'.' + location + u'.' + channel; }
    // The reverse, for codes a person typed: four codes of the allowed characters, the
    // location alone possibly empty or "--"; nothing otherwise.
    static std::optional<ChannelId> fromSeedId(const QString& text) {
        const QStringList parts = text.split(u'.');
        if (parts.size() != 4 || parts[0].isEmpty() || parts[1].isEmpty() || parts[3].isEmpty() ||
            !isChannelCode(parts[0]) || !isChannelCode(parts[1]) || !isChannelCode(parts[2], true) ||
            !isChannelCode(parts[3]))
            return std::nullopt;
        return ChannelId{parts[0], parts[1], parts[2], parts[3]};
    }
    double bandSampleInterval() const { return ::bandSampleInterval(channel); }

    friend bool operator==(const ChannelId&, const ChannelId&) = default;
    friend auto operator<=>(const ChannelId& a, const ChannelId& b) {
        return a.seedId().compare(b.seedId()) <=> 0;
    }
};

inline size_t qHash(const ChannelId& id, size_t seed = 0) {
    return qHashMulti(seed, id.network, id.station, id.location, id.channel);
}

template <> struct std::hash<ChannelId> {
    std::size_t operator()(const ChannelId& id) const noexcept { return qHash(id); }
};
