#include "acquisition/QueryUrl.h"

#include "base/ChannelId.h"
#include "base/DateText.h"
#include "base/NumberReading.h"
#include "base/UrlText.h"
#include "channels/ChannelTable.h"

#include <cmath>

namespace {
// Four days at one sample per second: the most a reversed window may ask for.
constexpr double kSampleCountLimit = 345600;
} // namespace

QString urlTimeText(Time t) {
    return datetext::urlTime(t);
}

RequestedWindow requestedWindow(const ChannelRequest& r, Time now) {
    const auto t0 = datetext::parseRequestTime(r.value(ChannelRequest::StartTime));
    const auto t1 = datetext::parseRequestTime(r.value(ChannelRequest::EndTime));
    const QString rate = r.value(ChannelRequest::SampleRate);
    if (!(t0 && t1 && *t1 < *t0))
        return {t0.value_or(now), t1.value_or(now)};
    // Reversed: ends at the start and reaches back 60 times the reversed span, within the limit.
    float s = static_cast<float>(60.0 * civil::secondsBetween(*t1, *t0));
    const double band = bandSampleInterval(r.value(ChannelRequest::ChannelID));
    if (rate == QStringLiteral("*")) {
        if (std::trunc(static_cast<double>(s) / band) > kSampleCountLimit)
            s = static_cast<float>(kSampleCountLimit * band);
    } else {
        float d = floatValue(rate);
        // A rate that is not a positive number gives no divisor; the band's interval does.
        if (!(d > 0) || !std::isfinite(d))
            d = static_cast<float>(band);
        if (std::trunc(s / d) > static_cast<float>(kSampleCountLimit))
            s = static_cast<float>(kSampleCountLimit) * d;
    }
    return {civil::addSeconds(*t0, -static_cast<double>(s)), *t0};
}

std::optional<QString> timeSeriesQueryUrl(QStringView serviceBase, const ChannelRequest& r,
                                          Time now) {
    if (!isChannelCode(r.value(ChannelRequest::Network)) ||
        !isChannelCode(r.value(ChannelRequest::StationID)) ||
        !isChannelCode(r.value(ChannelRequest::LocationCode), true) ||
        !isChannelCode(r.value(ChannelRequest::ChannelID)))
        return std::nullopt;
    QString url = baseAddress(serviceBase.toString()) + QStringLiteral("/irisws/timeseries/1/query?");
    url += QStringLiteral("net=") + r.value(ChannelRequest::Network);
    url += QStringLiteral("&sta=") + r.value(ChannelRequest::StationID);
    url += QStringLiteral("&loc=") + r.value(ChannelRequest::LocationCode);
    url += QStringLiteral("&cha=") + r.value(ChannelRequest::ChannelID);
    const RequestedWindow w = requestedWindow(r, now);
    url += QStringLiteral("&start=") + urlTimeText(w.start);
    url += QStringLiteral("&end=") + urlTimeText(w.end);
    url += QStringLiteral("&scale=AUTO");
    const QString rate = r.value(ChannelRequest::SampleRate);
    if (rate != QStringLiteral("*"))
        url += QStringLiteral("&deci=") + printfFixed(floatValue(rate), 1);
    url += QStringLiteral("&output=sacbl");
    if (!isValidUrlText(url))
        return std::nullopt;
    return url;
}

QString seismogramFileName(const ChannelRequest& r) {
    QString name = r.value(ChannelRequest::StationID);
    name += u'.' + r.value(ChannelRequest::Network);
    name += u'.' + r.value(ChannelRequest::ChannelID);
    name += u'.' + r.value(ChannelRequest::LocationCode) + QStringLiteral(".sac");
    name.replace(u':', u'-');
    return name;
}

QString connectionProblemLine(const ChannelRequest& r) {
    QString pieces;
    const std::pair<const char*, const QString*> order[] = {
        {"net", &ChannelRequest::Network},      {"sta", &ChannelRequest::StationID},
        {"loc", &ChannelRequest::LocationCode}, {"cha", &ChannelRequest::ChannelID},
        {"start", &ChannelRequest::StartTime},  {"end", &ChannelRequest::EndTime}};
    for (const auto& [name, key] : order)
        pieces += QLatin1StringView(name) + u'=' + r.value(*key) + u' ';
    return QStringLiteral("Encountered a Connection problem for request:%1").arg(u'\n' + pieces);
}

ChannelRequest channelRequest(const ChannelTable& table, qsizetype i, const QString& startText,
                              const QString& endText) {
    ChannelRequest request;
    request.setValue(ChannelRequest::Network, table.networks.value(i));
    request.setValue(ChannelRequest::StationID, table.stations.value(i));
    request.setValue(ChannelRequest::ChannelID, table.channels.value(i));
    request.setValue(ChannelRequest::LocationCode, table.locations.value(i));
    request.setValue(ChannelRequest::StartTime, startText);
    request.setValue(ChannelRequest::EndTime, endText);
    request.setValue(ChannelRequest::SampleRate, QStringLiteral("*"));
    return request;
}
