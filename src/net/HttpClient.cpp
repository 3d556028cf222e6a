#include "net/HttpClient.h"

#include <curl/curl.h>

#include <chrono>
#include <mutex>
#include <utility>

namespace {

// Owns one curl easy handle.
class CurlEasy {
public:
    CurlEasy() : handle_(curl_easy_init()) {}
    ~CurlEasy() {
        if (handle_)
            curl_easy_cleanup(handle_);
    }
    CurlEasy(const CurlEasy&) = delete;
    CurlEasy& operator=(const CurlEasy&) = delete;
    CurlEasy(CurlEasy&& o) noexcept : handle_(std::exchange(o.handle_, nullptr)) {}
    CurlEasy& operator=(CurlEasy&& o) noexcept {
        std::swap(handle_, o.handle_);
        return *this;
    }
    CURL* get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    CURL* handle_;
};

// Collects the body and refuses to grow past the limit.
struct BodySink {
    QByteArray body;
    std::size_t limit = 0;
    bool overflowed = false;

    static std::size_t write(char* data, std::size_t size, std::size_t count, void* user) {
        auto* self = static_cast<BodySink*>(user);
        const std::size_t bytes = size * count;
        if (static_cast<std::size_t>(self->body.size()) + bytes > self->limit) {
            self->overflowed = true;
            return 0; // makes curl stop with CURLE_WRITE_ERROR
        }
        self->body.append(data, static_cast<qsizetype>(bytes));
        return bytes;
    }
};

// Fails the transfer once no byte has moved for the idle time. curl's own low-speed check
// averages the speed over several seconds, so after a burst it notices a stall late; this one
// counts from the last byte.
struct IdleWatch {
    std::chrono::steady_clock::time_point lastMovement = std::chrono::steady_clock::now();
    curl_off_t lastTotal = 0;
    std::chrono::seconds limit{30};
    bool expired = false;

    static int progress(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                        curl_off_t ulnow) {
        (void)dltotal;
        (void)ultotal;
        auto* self = static_cast<IdleWatch*>(user);
        const auto now = std::chrono::steady_clock::now();
        if (dlnow + ulnow != self->lastTotal) {
            self->lastTotal = dlnow + ulnow;
            self->lastMovement = now;
        } else if (now - self->lastMovement >= self->limit) {
            self->expired = true;
            return 1; // aborts with CURLE_ABORTED_BY_CALLBACK
        }
        return 0;
    }
};

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

std::optional<HttpResponse> httpGet(const QString& url, const HttpOptions& options,
                                    QString* errorDescription) {
    auto fail = [&](const QString& why) -> std::optional<HttpResponse> {
        if (errorDescription)
            *errorDescription = why;
        return std::nullopt;
    };
    initialiseCurlOnce();
    CurlEasy curl;
    if (!curl)
        return fail(QStringLiteral("The transfer could not be set up."));

    const QByteArray urlBytes = url.toUtf8();
    const QByteArray agent = options.userAgent.toUtf8();
    char errorBuffer[CURL_ERROR_SIZE] = {};
    BodySink sink;
    sink.limit = options.maxBodyBytes;
    IdleWatch idle;
    idle.limit = std::chrono::seconds(options.idleTimeoutSeconds);

    CURL* h = curl.get();
    const std::pair<CURLoption, CURLcode> settings[] = {
        {CURLOPT_URL, curl_easy_setopt(h, CURLOPT_URL, urlBytes.constData())},
        {CURLOPT_ERRORBUFFER, curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer)},
        {CURLOPT_USERAGENT, curl_easy_setopt(h, CURLOPT_USERAGENT, agent.constData())},
        {CURLOPT_HTTPGET, curl_easy_setopt(h, CURLOPT_HTTPGET, 1L)},
        {CURLOPT_NOSIGNAL, curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L)},
        {CURLOPT_FOLLOWLOCATION, curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L)},
        {CURLOPT_MAXREDIRS, curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L)},
        {CURLOPT_PROTOCOLS_STR, curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https")},
        {CURLOPT_REDIR_PROTOCOLS_STR,
         curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https")},
        {CURLOPT_SSL_VERIFYPEER, curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L)},
        {CURLOPT_SSL_VERIFYHOST, curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L)},
        {CURLOPT_CONNECTTIMEOUT,
         curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, options.connectTimeoutSeconds)},
        // An idle timeout: a slow but moving transfer may take as long as it needs.
        {CURLOPT_LOW_SPEED_LIMIT, curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L)},
        {CURLOPT_LOW_SPEED_TIME,
         curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, options.idleTimeoutSeconds)},
        {CURLOPT_MAXFILESIZE_LARGE,
         curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE,
                          static_cast<curl_off_t>(options.maxBodyBytes))},
        {CURLOPT_WRITEFUNCTION, curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &BodySink::write)},
        {CURLOPT_WRITEDATA, curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink)},
        {CURLOPT_XFERINFOFUNCTION,
         curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &IdleWatch::progress)},
        {CURLOPT_XFERINFODATA, curl_easy_setopt(h, CURLOPT_XFERINFODATA, &idle)},
        {CURLOPT_NOPROGRESS, curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L)},
    };
    for (const auto& [option, code] : settings) {
        if (code != CURLE_OK)
            return fail(QStringLiteral("The transfer could not be set up (option %1: %2).")
                            .arg(static_cast<int>(option))
                            .arg(QString::fromUtf8(curl_easy_strerror(code))));
    }

    const CURLcode result = curl_easy_perform(h);
    if (sink.overflowed || result == CURLE_FILESIZE_EXCEEDED)
        return fail(
            QStringLiteral("The response is larger than %1 bytes.").arg(options.maxBodyBytes));
    if (idle.expired)
        return fail(QStringLiteral("The request timed out: no data for %1 seconds.")
                        .arg(options.idleTimeoutSeconds));
    if (result != CURLE_OK) {
        const QString detail = QString::fromUtf8(errorBuffer).trimmed();
        return fail(detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(result)) : detail);
    }
    HttpResponse response;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response.status);
    response.body = std::move(sink.body);
    return response;
}
