// The query URL of one channel and the download of one seismogram.
#include "app/groundswayController.h"

#include "acquisition/QueryUrl.h"
#include "acquisition/SeismogramFetch.h"
#include "app/ControlValues.h"
#include "base/DateText.h"
#include "base/NumberReading.h"
#include "base/SystemLog.h"
#include "components/sac/SacObject.h"

#include <QLineEdit>

#include <algorithm>
#include <cmath>

namespace {

QString timeSeriesBase(const QLineEdit* field) {
    return field ? field->text() : QStringLiteral("https://service.iris.edu");
}

} // namespace

std::optional<QString> groundswayController::buildURLForChannel(const ChannelRequest& r) const {
    return timeSeriesQueryUrl(timeSeriesBase(o_.timeSeriesServiceURLTField), r, datetext::now());
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
    return decodeSeismogram(*body, buildFileNameFromDictionary(r), &failure);
}

int groundswayController::maxConcurrentDownloads() {
    const QString key = QStringLiteral("maxConcurrentDownloads");
    const QString typed = o_.maxConcurrentDownloadsTField ? o_.maxConcurrentDownloadsTField->text()
                                                          : QStringLiteral("4");
    const int asked = intValue(typed);
    const int used = std::clamp(asked, 1, 5);
    if (used != asked || typed.trimmed() != QString::number(asked)) {
        if (reportedSettings_.value(key) != typed) {
            systemLog(QStringLiteral("The setting maxConcurrentDownloads of \"%1\" is not a whole "
                                     "number from 1 to 5; using %2.")
                          .arg(typed)
                          .arg(used));
            reportedSettings_.insert(key, typed);
        }
    }
    return used;
}

HttpOptions groundswayController::transferOptions() {
    HttpOptions options = http_;
    const QString key = QStringLiteral("transferDeadlineSeconds");
    const QString typed = o_.transferDeadlineTField ? o_.transferDeadlineTField->text()
                                                    : QStringLiteral("120");
    const float asked = floatValue(typed);
    // Long enough for a day of broadband data on a slow line, short enough to notice a stall.
    const float used = std::isfinite(asked) ? std::clamp(asked, 2.0f, 3600.0f) : 120.0f;
    if (used != asked && reportedSettings_.value(key) != typed) {
        systemLog(QStringLiteral("The setting transferDeadlineSeconds of \"%1\" is outside 2 to "
                                 "3600 seconds; using %2.")
                      .arg(typed)
                      .arg(static_cast<double>(used)));
        reportedSettings_.insert(key, typed);
    }
    options.deadlineSeconds = std::lround(used);
    return options;
}
