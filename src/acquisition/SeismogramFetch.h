#pragma once

#include "acquisition/AcquisitionFailure.h"
#include "acquisition/QueryUrl.h"
#include "net/HttpClient.h"
#include "store/Segment.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

class SacObject;

// What one channel's download brought: a decoded seismogram (or, from a service that answers
// in records, its gapless segments), or why not.
struct FetchedSeismogram {
    std::unique_ptr<SacObject> seismogram;
    std::optional<std::vector<Segment>> segments;
    std::optional<AcquisitionFailure> failure;
    qint64 bytes = 0; // body bytes received
    QStringList notes; // system-log lines of an answer used in part
};

// The body of a query, or nothing with the two system-log lines of a failed exchange
// ("Communication Failure: URL", then the error) in the failure. No URL fails the same way, the
// first line saying that no address could be made. The HTTP status is not looked at: an error page
// goes on to the decoder, which refuses it; only its status tells "no data" from "not a seismogram"
// afterwards.
std::optional<HttpResponse> fetchBody(const std::optional<QString>& url, const HttpOptions& options,
                                      AcquisitionFailure* failure);

// A body decoded into a seismogram named `fileName`, with its extrema; nothing (and the reason)
// when it is no complete SAC time series. With the window it answers, a trace is also refused
// when a sample is not a number, when it holds more than twice the samples the window and its
// interval call for, or when its span cannot lie in the window: a broken answer must neither
// exhaust memory nor stretch the axis every other trace is drawn on.
std::unique_ptr<SacObject> decodeSeismogram(const QByteArray& body, const QString& fileName,
                                            AcquisitionFailure* failure, long status = 200,
                                            const RequestedWindow* window = nullptr);

// Both, as one unit of work that may run on any thread.
FetchedSeismogram fetchSeismogram(const std::optional<QString>& url, const QString& fileName,
                                  const HttpOptions& options,
                                  const std::optional<RequestedWindow>& window = std::nullopt);
