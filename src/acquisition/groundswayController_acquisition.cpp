// The query URL of one channel and the download of one seismogram.
#include "app/groundswayController.h"

#include "app/SettingsReader.h"

#include "acquisition/QueryUrl.h"
#include "acquisition/SeismogramFetch.h"
#include "base/DateText.h"
#include "base/SystemLog.h"
#include "components/sac/SacObject.h"

#include <cmath>

std::optional<QString> groundswayController::buildURLForChannel(const ChannelRequest& r) const {
    return timeSeriesQueryUrl(
        settings_->serviceBase(o_.timeSeriesServiceURLTField, "timeSeriesServiceURL"), r,
        datetext::now());
}

QString groundswayController::formatDateAsString(std::optional<Date> date) const {
    return urlTimeText(date.value_or(datetext::now()));
}

std::optional<QByteArray>
groundswayController::getHTTPDataWithCustomUserAgent(const std::optional<QString>& url) {
    AcquisitionFailure failure;
    const auto response = fetchBody(url, transferOptions(), &failure);
    for (const QString& line : failure.logLines)
        systemLog(line);
    if (!response)
        return std::nullopt;
    return response->body;
}

QString groundswayController::buildFileNameFromDictionary(const ChannelRequest& r) const {
    return seismogramFileName(r);
}

std::unique_ptr<SacObject>
groundswayController::downloadSeismogramWithURL(const ChannelRequest& r) {
    const auto body = getHTTPDataWithCustomUserAgent(buildURLForChannel(r));
    if (!body)
        return nullptr;
    AcquisitionFailure failure;
    const RequestedWindow window = requestedWindow(r, datetext::now());
    auto seismogram =
        decodeSeismogram(*body, buildFileNameFromDictionary(r), &failure, 200, &window);
    for (const QString& line : failure.logLines)
        systemLog(line);
    return seismogram;
}

int groundswayController::maxConcurrentDownloads() const {
    // The public service asks a client for no more than five connections at once.
    return static_cast<int>(
        settings_->number(o_.maxConcurrentDownloadsTField, "maxConcurrentDownloads", 1, 5, 4, true));
}

HttpOptions groundswayController::transferOptions() const {
    HttpOptions options = http_;
    // Long enough for a day of broadband data on a slow line, short enough to notice a trickle.
    options.deadlineSeconds = std::lround(
        settings_->number(o_.transferDeadlineTField, "transferDeadlineSeconds", 2, 3600, 120));
    return options;
}
