#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstddef>
#include <optional>

// Blocking HTTP GET over libcurl: the one transport of the application (seismograms, the
// earthquake catalogue, the station inventory). It may run on any thread.
struct HttpOptions {
    QString userAgent;
    long connectTimeoutSeconds = 30;
    // The exchange fails once no byte has moved for this long.
    long idleTimeoutSeconds = 30;
    // And once it has lasted this long in all, however slowly bytes still trickle in
    // (0: no limit).
    long deadlineSeconds = 120;
    // Bodies beyond this size fail the exchange instead of exhausting memory.
    std::size_t maxBodyBytes = std::size_t{256} << 20;
    // Set from another thread to abandon the exchange; seen within a tenth of a second.
    const std::atomic<bool>* cancel = nullptr;
};

struct HttpResponse {
    long status = 0;
    QByteArray body;
};

enum class HttpFailure { Setup, Transport, Timeout, TooLarge, Cancelled };

// The response, whatever its status; or nothing on a transport failure, with a description of
// the error and its kind. Redirects are followed (at most 10), only http and https are spoken,
// TLS peers are verified. The only header added is the User-Agent.
std::optional<HttpResponse> httpGet(const QString& url, const HttpOptions& options,
                                    QString* errorDescription, HttpFailure* kind = nullptr);

// Abandons every exchange in flight and every later one, in this process, for good: the way out
// when the application quits. Safe to call from a signal handler.
void abortAllTransfers() noexcept;
bool transfersAborted() noexcept;
