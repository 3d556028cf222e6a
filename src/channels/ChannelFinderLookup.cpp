#include "channels/ChannelFinderLookup.h"

#include "base/UrlText.h"
#include "channels/StationInventory.h"

#include <QUrl>

namespace {

QString pattern(const QString& typed) {
    const QString text = typed.trimmed();
    return QString::fromLatin1(
        QUrl::toPercentEncoding(text.isEmpty() ? QStringLiteral("*") : text, "*,"));
}

std::optional<QByteArray> fetch(const QString& url, const HttpOptions& options, QString* why) {
    const auto response = httpGet(url, options, why);
    if (!response)
        return std::nullopt;
    if (response->status == 204 || response->status == 404) {
        *why = QStringLiteral("no channel matches the search");
        return std::nullopt;
    }
    if (response->status != 200) {
        *why = QStringLiteral("HTTP status %1").arg(response->status);
        return std::nullopt;
    }
    return response->body;
}

} // namespace

ChannelFinderQuery channelFinderQuery(const QString& serviceBase, const QString& network,
                                      const QString& station, const QString& location,
                                      const QString& channel) {
    const QString base = baseAddress(serviceBase);
    const QString net = pattern(network), sta = pattern(station), loc = pattern(location),
                  cha = pattern(channel);
    return {base + QStringLiteral("/fdsnws/station/1/query?net=%1&sta=%2&loc=%3&cha=%4&level="
                                  "channel&format=text")
                       .arg(net, sta, loc, cha),
            base + QStringLiteral("/fdsnws/station/1/query?net=%1&sta=%2&level=station&format=text")
                       .arg(net, sta)};
}

ChannelFinderAnswer lookUpChannels(const ChannelFinderQuery& query, const HttpOptions& options) {
    ChannelFinderAnswer answer;
    const auto body = fetch(query.channelQuery, options, &answer.why);
    if (!body)
        return answer;
    // Station names are a nicety: without them the labels are the station codes.
    QString namesWhy;
    QHash<QString, QString> names;
    if (const auto stations = fetch(query.stationQuery, options, &namesWhy))
        names = inventory::parseStationNames(*stations).value_or(QHash<QString, QString>());
    answer.channels = inventory::parseChannels(*body, names, &answer.leftOut);
    if (!answer.channels)
        answer.why = QStringLiteral("the response is not a channel list");
    return answer;
}
