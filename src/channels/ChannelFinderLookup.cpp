#include "channels/ChannelFinderLookup.h"

#include "acquisition/SeedLinkSource.h"
#include "acquisition/SeedLinkStreamList.h"
#include "base/UrlText.h"
#include "channels/StationInventory.h"

#include <QRegularExpression>
#include <QUrl>

#include <chrono>

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

// A typed pattern as a station service reads it, for codes matched here.
QRegularExpression codePattern(const QString& typed, bool location) {
    QStringList alternatives;
    for (QString p :
         typed.trimmed().isEmpty() ? QStringList{QStringLiteral("*")} : typed.split(u',')) {
        p = p.trimmed();
        if (location && p == u"--")
            p.clear();
        QString rx;
        for (const QChar c : p)
            rx += c == u'*'   ? QStringLiteral(".*")
                  : c == u'?' ? QStringLiteral(".")
                              : QRegularExpression::escape(c);
        alternatives << rx;
    }
    return QRegularExpression(QRegularExpression::anchoredPattern(alternatives.join(u'|')),
                              QRegularExpression::CaseInsensitiveOption);
}

QString safeLabel(QString text) {
    for (QChar& c : text)
        if (c == u';' || c.category() == QChar::Other_Control || c == QChar(0x2028) ||
            c == QChar(0x2029))
            c = u' ';
    return text.simplified();
}

ChannelFinderAnswer lookUpSeedLinkChannels(const ChannelFinderQuery& query,
                                           const HttpOptions& options) {
    using namespace std::chrono_literals;
    ChannelFinderAnswer answer;
    std::vector<QRegularExpression> match;
    for (int i = 0; i < 4; ++i)
        match.push_back(codePattern(query.patterns.value(i), i == 2));
    std::vector<AvailableChannel> channels;
    QStringList failed;
    for (const auto& [host, port] : query.seedLinkServers) {
        const auto list = seedlink::fetchStreamList(host, port, options.cancel, 60s);
        if (!list.streams) {
            failed << host + u':' + QString::number(port) + QStringLiteral(" (") + list.why + u')';
            continue;
        }
        for (const seedlink::StreamEntry& e : *list.streams) {
            const ChannelId& c = e.channel;
            if (!match[0].match(c.network).hasMatch() || !match[1].match(c.station).hasMatch() ||
                !match[2].match(c.location).hasMatch() || !match[3].match(c.channel).hasMatch())
                continue;
            const QString label = safeLabel(e.description);
            channels.emplace_back(c.network, c.station, c.channel,
                                  c.location.isEmpty() ? QStringLiteral("--") : c.location,
                                  label.isEmpty() ? c.station : label);
        }
    }
    if (channels.empty()) {
        answer.why = failed.isEmpty() ? QStringLiteral("no channel matches the search")
                                      : QStringLiteral("no stream list from ") +
                                            failed.join(QStringLiteral(", "));
        return answer;
    }
    answer.channels = std::move(channels);
    return answer;
}

} // namespace

std::optional<ChannelFinderQuery>
seedLinkFinderQuery(const QString& servers, const QString& network, const QString& station,
                    const QString& location, const QString& channel) {
    const auto parsed = SeedLinkSource::parseServers(servers);
    if (!parsed)
        return std::nullopt;
    ChannelFinderQuery query;
    query.seedLinkServers = *parsed;
    QStringList names;
    for (const auto& [host, port] : *parsed)
        names << host + u':' + QString::number(port);
    query.channelQuery = QStringLiteral("SeedLink server ") + names.join(QStringLiteral(", "));
    query.patterns = {network, station, location, channel};
    return query;
}

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
    if (!query.seedLinkServers.empty())
        return lookUpSeedLinkChannels(query, options);
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

QStringList ChannelFinderAnswer::logLines(const ChannelFinderQuery& query) const {
    QStringList lines;
    if (!channels)
        lines << QStringLiteral("Channel finder: no channels from %1: %2")
                     .arg(query.channelQuery, why);
    else if (leftOut > 0)
        lines << QStringLiteral("Channel finder: left out %1 channels whose codes are not "
                                "letters and digits.")
                     .arg(leftOut);
    return lines;
}

QString finderListing(const std::vector<AvailableChannel>& channels, std::size_t maxLines,
                      QString* logLine) {
    QString buffer;
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (i == maxLines) {
            // A line with no ";" is no channel line, so the listing still reads as a list.
            buffer += QStringLiteral("(%1 more channels not listed: narrow the search to see "
                                     "them)\n")
                          .arg(channels.size() - i);
            if (logLine)
                *logLine = QStringLiteral("Channel finder: listed the first %1 of %2 channels.")
                               .arg(maxLines)
                               .arg(channels.size());
            break;
        }
        const AvailableChannel& ch = channels[i];
        buffer += QStringLiteral("%1; %2; %3; %4; %5\n")
                      .arg(ch._id()._network_id()._network_code(), ch._id()._station_code(),
                           ch._id()._channel_code(), ch._id()._site_code(),
                           ch._my_site()._my_station()._name());
    }
    return buffer;
}
