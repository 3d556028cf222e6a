#include "acquisition/SeismogramFetch.h"

#include "components/sac/SacObject.h"

#include <span>

std::optional<HttpResponse> fetchBody(const std::optional<QString>& url,
                                      const HttpOptions& options, AcquisitionFailure* failure) {
    if (!url) {
        *failure = {AcquisitionFailure::Kind::Transport, QStringLiteral("unsupported URL"),
                    {QStringLiteral("Communication Failure: "), QStringLiteral("unsupported URL")}};
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
                                            AcquisitionFailure* failure, long status) {
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
        seismogram->ComputeExtrema();
    }
    return seismogram;
}

FetchedSeismogram fetchSeismogram(const std::optional<QString>& url, const QString& fileName,
                                  const HttpOptions& options) {
    FetchedSeismogram out;
    AcquisitionFailure failure;
    const auto response = fetchBody(url, options, &failure);
    if (!response) {
        out.failure = std::move(failure);
        return out;
    }
    out.bytes = response->body.size();
    out.seismogram = decodeSeismogram(response->body, fileName, &failure, response->status);
    if (!out.seismogram)
        out.failure = std::move(failure);
    return out;
}
