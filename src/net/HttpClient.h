#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <optional>

// Blocking HTTP GET over libcurl: the one transport of the application (seismograms, the
// earthquake catalogue, the station inventory).
struct HttpOptions {
    QString userAgent;
    long connectTimeoutSeconds = 30;
    // The exchange fails once it has moved less than one byte per second for this long.
    long idleTimeoutSeconds = 30;
    // Bodies beyond this size fail the exchange instead of exhausting memory.
    std::size_t maxBodyBytes = std::size_t{256} << 20;
};

struct HttpResponse {
    long status = 0;
    QByteArray body;
};

// The response, whatever its status; or nothing on a transport failure, with a description of
// the error. Redirects are followed (at most 10), only http and https are spoken, TLS peers are
// verified. The only header added is the User-Agent.
std::optional<HttpResponse> httpGet(const QString& url, const HttpOptions& options,
                                    QString* errorDescription);
