// The query URL of one channel and the download of one seismogram.
#include "app/groundswayController.h"

#include "base/Time.h"
#include "base/DateText.h"
#include "base/NumberReading.h"
#include "components/sac/SacObject.h"
#include "base/SystemLog.h"
#include "base/UrlText.h"

#include <QLineEdit>

#include <cmath>

namespace {

// Nominal sample interval (s) a channel code's band letter stands for.
double bandInterval(const QString& channel) {
    if (channel.startsWith(u'L'))
        return 1.0;
    if (channel.startsWith(u'U'))
        return 10.0;
    if (channel.startsWith(u'B'))
        return 0.05;
    if (channel.startsWith(u'S'))
        return 0.025;
    return 1.0;
}

// Four days at one sample per second: the most a reversed window may ask for.
constexpr double kSampleCountLimit = 345600;

} // namespace

std::optional<QString> groundswayController::buildURLForChannel(const ChannelRequest& r) const {
    const QString base =
        baseAddress(o_.timeSeriesServiceURLTField ? o_.timeSeriesServiceURLTField->text()
                                                  : QStringLiteral("https://service.iris.edu"));
    QString url = base + QStringLiteral("/irisws/timeseries/1/query?");
    url += QStringLiteral("net=") + r.value(ChannelRequest::Network);
    url += QStringLiteral("&sta=") + r.value(ChannelRequest::StationID);
    url += QStringLiteral("&loc=") + r.value(ChannelRequest::LocationCode);
    url += QStringLiteral("&cha=") + r.value(ChannelRequest::ChannelID);

    // A time that does not parse is sent as the present moment.
    const auto t0 = datetext::parseRequestTime(r.value(ChannelRequest::StartTime));
    const auto t1 = datetext::parseRequestTime(r.value(ChannelRequest::EndTime));
    const QString rate = r.value(ChannelRequest::SampleRate);
    const bool anyRate = rate == QStringLiteral("*");
    std::optional<Date> start = t0, end = t1;
    if (t0 && t1 && *t1 < *t0) {
        // A reversed window ends at T0 and reaches back 60 times the reversed span, at most
        // 345600 samples of the channel.
        float s = static_cast<float>(60.0 * civil::secondsBetween(*t1, *t0));
        if (anyRate) {
            const double d = bandInterval(r.value(ChannelRequest::ChannelID));
            if (std::trunc(static_cast<double>(s) / d) > kSampleCountLimit)
                s = static_cast<float>(kSampleCountLimit * d);
        } else {
            float d = floatValue(rate);
            // A rate that is not a positive number gives no divisor; the band's interval does.
            if (!(d > 0) || !std::isfinite(d))
                d = static_cast<float>(bandInterval(r.value(ChannelRequest::ChannelID)));
            if (std::trunc(s / d) > static_cast<float>(kSampleCountLimit))
                s = static_cast<float>(kSampleCountLimit) * d;
        }
        start = civil::addSeconds(*t0, -static_cast<double>(s));
        end = t0;
    }
    url += QStringLiteral("&start=") + formatDateAsString(start);
    url += QStringLiteral("&end=") + formatDateAsString(end);
    url += QStringLiteral("&scale=AUTO");
    if (!anyRate)
        url += QStringLiteral("&deci=") + printfFixed(floatValue(rate), 1);
    url += QStringLiteral("&output=sacbl");
    if (!isValidUrlText(url))
        return std::nullopt;
    return url;
}

QString groundswayController::formatDateAsString(std::optional<Date> date) const {
    return datetext::urlTime(date.value_or(datetext::now()));
}

std::optional<QByteArray>
groundswayController::getHTTPDataWithCustomUserAgent(const std::optional<QString>& url) {
    if (!url) {
        systemLog(QStringLiteral("Communication Failure: "));
        systemLog(QStringLiteral("unsupported URL"));
        return std::nullopt;
    }
    QString error;
    const auto response = httpGet(*url, http_, &error);
    if (!response) {
        systemLog(QStringLiteral("Communication Failure: %1").arg(*url));
        systemLog(error);
        return std::nullopt;
    }
    // The status is deliberately not looked at: an error page goes on to the SAC decoder,
    // which refuses it.
    return response->body;
}

QString groundswayController::buildFileNameFromDictionary(const ChannelRequest& r) const {
    QString name = r.value(ChannelRequest::StationID);
    name += u'.' + r.value(ChannelRequest::Network);
    name += u'.' + r.value(ChannelRequest::ChannelID);
    name += u'.' + r.value(ChannelRequest::LocationCode) + QStringLiteral(".sac");
    name.replace(u':', u'-');
    return name;
}

std::unique_ptr<SacObject>
groundswayController::downloadSeismogramWithURL(const ChannelRequest& r) {
    const auto url = buildURLForChannel(r);
    const auto body = getHTTPDataWithCustomUserAgent(url);
    if (!body)
        return nullptr;
    auto seismogram = std::make_unique<SacObject>();
    const QString name = buildFileNameFromDictionary(r);
    const auto bytes =
        std::as_bytes(std::span(body->constData(), static_cast<std::size_t>(body->size())));
    if (!seismogram->initWithNSData(bytes, name.toStdString()))
        return nullptr;
    if (seismogram->GetSacHeader() && seismogram->GetSacSeis()) {
        if (!seismogram->isSacFile())
            return nullptr;
        seismogram->ComputeExtrema();
    }
    return seismogram;
}
