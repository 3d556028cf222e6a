#include "channels/StationInventory.h"

#include "base/ChannelId.h"
#include "base/FdsnText.h"

#include <QList>

#include <cmath>
#include <QStringList>

namespace inventory {

namespace {

QString safeForChannelList(QString text) {
    for (QChar& c : text)
        if (c == u';' || c == u'\n' || c == u'\r' || c == QChar(0x2028) || c == QChar(0x2029))
            c = u' ';
    return text.simplified();
}

} // namespace

std::optional<QHash<QString, QString>> parseStationNames(QByteArrayView body) {
    const FdsnTextTable table = readFdsnText(body);
    const int net = table.column(QStringLiteral("network"));
    const int sta = table.column(QStringLiteral("station"));
    const int site = table.column(QStringLiteral("sitename"));
    if (net < 0 || sta < 0 || site < 0)
        return std::nullopt;
    QHash<QString, QString> names;
    for (const QStringList& row : table.rows) {
        const QString network = FdsnTextTable::field(row, net);
        const QString station = FdsnTextTable::field(row, sta);
        const QString name = safeForChannelList(FdsnTextTable::field(row, site));
        if (!network.isEmpty() && !station.isEmpty() && !name.isEmpty())
            names.insert(network + u'.' + station, name);
    }
    return names;
}

std::optional<QHash<QString, StationPlace>> parseStationPlaces(QByteArrayView body) {
    const FdsnTextTable table = readFdsnText(body);
    const int net = table.column(QStringLiteral("network"));
    const int sta = table.column(QStringLiteral("station"));
    const int lat = table.column(QStringLiteral("latitude"));
    const int lon = table.column(QStringLiteral("longitude"));
    if (net < 0 || sta < 0 || lat < 0 || lon < 0)
        return std::nullopt;
    QHash<QString, StationPlace> places;
    for (const QStringList& row : table.rows) {
        bool okLat = false, okLon = false;
        const double la = FdsnTextTable::field(row, lat).toDouble(&okLat);
        const double lo = FdsnTextTable::field(row, lon).toDouble(&okLon);
        if (!okLat || !okLon || !std::isfinite(la) || !std::isfinite(lo) || std::abs(la) > 90 ||
            std::abs(lo) > 360)
            continue;
        places.insert(FdsnTextTable::field(row, net) + u'.' + FdsnTextTable::field(row, sta),
                      {la, lo});
    }
    return places;
}

std::optional<std::vector<AvailableChannel>> parseChannels(QByteArrayView body,
                                                           const QHash<QString, QString>& names,
                                                           int* leftOut) {
    const FdsnTextTable table = readFdsnText(body);
    const int net = table.column(QStringLiteral("network"));
    const int sta = table.column(QStringLiteral("station"));
    const int loc = table.column(QStringLiteral("location"));
    const int cha = table.column(QStringLiteral("channel"));
    if (net < 0 || sta < 0 || loc < 0 || cha < 0)
        return std::nullopt;
    std::vector<AvailableChannel> channels;
    for (const QStringList& row : table.rows) {
        const QString n = safeForChannelList(FdsnTextTable::field(row, net));
        const QString s = safeForChannelList(FdsnTextTable::field(row, sta));
        const QString c = safeForChannelList(FdsnTextTable::field(row, cha));
        QString l = safeForChannelList(FdsnTextTable::field(row, loc));
        if (n.isEmpty() || s.isEmpty() || c.isEmpty())
            continue;
        if (l.isEmpty())
            l = QStringLiteral("--");
        if (!isChannelCode(n) || !isChannelCode(s) || !isChannelCode(c) || !isChannelCode(l, true)) {
            if (leftOut)
                ++*leftOut;
            continue;
        }
        channels.emplace_back(n, s, c, l, names.value(n + u'.' + s, s));
    }
    return channels;
}

} // namespace inventory
