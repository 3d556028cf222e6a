#include "acquisition/SeismogramFetch.h"

#include "components/sac/SacObject.h"

#include <algorithm>
#include <cmath>
#include <span>

namespace {

// What the window allows the trace; a failure that explains itself in the system log otherwise.
std::optional<AcquisitionFailure> outsideWindow(const SacObject& s, const RequestedWindow& w) {
    using K = AcquisitionFailure::Kind;
    auto refuse = [](K kind, const QString& why) {
        return AcquisitionFailure{kind, why, {why}};
    };
    const auto x = s.samples();
    const auto bad = std::count_if(x.begin(), x.end(), [](float v) { return !std::isfinite(v); });
    if (bad > 0)
        return refuse(K::NotSeismogram,
                      QStringLiteral("The answer holds %1 of %2 samples that are not numbers.")
                          .arg(bad)
                          .arg(x.size()));
    const double delta = s.delta();
    const double span = std::max(0.0, civil::secondsBetween(w.start, w.end));
    const double allowed = 2.0 * (span / delta + 1.0) + 16.0;
    if (static_cast<double>(x.size()) > allowed)
        return refuse(K::TooLarge,
                      QStringLiteral("The answer holds %1 samples where the window calls for at "
                                     "most %2.")
                          .arg(x.size())
                          .arg(static_cast<qint64>(allowed)));
    // Some slack around the window: services round to their sample grid and records.
    const double slack = 0.5 * span + 60.0;
    const double first = civil::secondsBetween(w.start, s.startTime());
    const double last = first + static_cast<double>(x.empty() ? 0 : x.size() - 1) * delta;
    if (!(first >= -slack && last <= span + slack))
        return refuse(K::NotSeismogram,
                      QStringLiteral("The answer's samples span %1 s to %2 s after the window "
                                     "start, outside the window of %3 s.")
                          .arg(first, 0, 'g', 6)
                          .arg(last, 0, 'g', 6)
                          .arg(span, 0, 'g', 6));
    return std::nullopt;
}

} // namespace

std::optional<HttpResponse> fetchBody(const std::optional<QString>& url,
                                      const HttpOptions& options, AcquisitionFailure* failure) {
    if (!url) {
        // Never an empty address: the line says why there is none.
        *failure = {AcquisitionFailure::Kind::Transport, QStringLiteral("unsupported URL"),
                    {QStringLiteral("Communication Failure: no address could be made for this "
                                    "request (a code or the window cannot stand in a URL)"),
                     QStringLiteral("unsupported URL")}};
        return std::nullopt;
    }
    QString error;
    HttpFailure kind = HttpFailure::Transport;
    auto response = httpGet(*url, options, &error, &kind);
    if (!response) {
        using K = AcquisitionFailure::Kind;
        const K k = kind == HttpFailure::Timeout    ? K::Timeout
                    : kind == HttpFailure::TooLarge  ? K::TooLarge
                    : kind == HttpFailure::Cancelled ? K::Cancelled
                                                     : K::Transport;
        *failure = {k, error, {}};
        // A request abandoned on purpose is no communication failure.
        if (k != K::Cancelled)
            failure->logLines = {QStringLiteral("Communication Failure: %1").arg(*url), error};
        return std::nullopt;
    }
    return response;
}

std::unique_ptr<SacObject> decodeSeismogram(const QByteArray& body, const QString& fileName,
                                            AcquisitionFailure* failure, long status,
                                            const RequestedWindow* window) {
    using K = AcquisitionFailure::Kind;
    const bool noData = body.isEmpty() || status == 204 || status == 404;
    auto refuse = [&](const QString& why) -> std::unique_ptr<SacObject> {
        *failure = {noData ? K::NoData : K::NotSeismogram, why, {}};
        return nullptr;
    };
    auto seismogram = std::make_unique<SacObject>();
    const auto bytes =
        std::as_bytes(std::span(body.constData(), static_cast<std::size_t>(body.size())));
    if (!seismogram->initWithNSData(bytes, fileName.toStdString()))
        return refuse(body.isEmpty() ? QStringLiteral("The answer was empty.")
                                     : QStringLiteral("The answer is not a SAC seismogram (HTTP "
                                                      "status %1, %2 bytes).")
                                           .arg(status)
                                           .arg(body.size()));
    if (seismogram->GetSacHeader() && seismogram->GetSacSeis()) {
        if (!seismogram->isSacFile())
            return refuse(QStringLiteral("The answer's SAC header is not a time series."));
        if (window) {
            if (auto wrong = outsideWindow(*seismogram, *window)) {
                *failure = std::move(*wrong);
                return nullptr;
            }
        }
        seismogram->ComputeExtrema();
    }
    return seismogram;
}

FetchedSeismogram fetchSeismogram(const std::optional<QString>& url, const QString& fileName,
                                  const HttpOptions& options,
                                  const std::optional<RequestedWindow>& window) {
    FetchedSeismogram out;
    AcquisitionFailure failure;
    const auto response = fetchBody(url, options, &failure);
    if (!response) {
        out.failure = std::move(failure);
        return out;
    }
    out.bytes = response->body.size();
    out.seismogram = decodeSeismogram(response->body, fileName, &failure, response->status,
                                      window ? &*window : nullptr);
    if (!out.seismogram)
        out.failure = std::move(failure);
    return out;
}
