#include "net/HttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
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

std::atomic<bool> abortEverything{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

// Watches a transfer: no byte for the idle time, the overall deadline, a cancel request. curl's
// own low-speed check is not used: it samples the speed at whole seconds of the clock, so after a
// burst it notices a stall late, and it cuts a transfer that moves a few bytes a second when a
// sample falls before the first byte. This one counts from the last byte and from the start.
struct TransferWatch {
    using Clock = std::chrono::steady_clock;
    Clock::time_point started = Clock::now();
    Clock::time_point lastMovement = started;
    curl_off_t lastTotal = 0;
    std::chrono::seconds idleLimit{30};
    std::chrono::seconds deadline{0};
    const std::atomic<bool>* cancel = nullptr;
    enum class Verdict { Going, Idle, Deadline, Cancelled } verdict = Verdict::Going;

    bool check(curl_off_t total) {
        const auto now = Clock::now();
        if (total != lastTotal) {
            lastTotal = total;
            lastMovement = now;
        }
        if (abortEverything.load(std::memory_order_relaxed) ||
            (cancel && cancel->load(std::memory_order_relaxed)))
            verdict = Verdict::Cancelled;
        else if (deadline.count() > 0 && now - started >= deadline)
            verdict = Verdict::Deadline;
        else if (now - lastMovement >= idleLimit)
            verdict = Verdict::Idle;
        return verdict == Verdict::Going;
    }

    static int progress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
        // A non-zero answer aborts with CURLE_ABORTED_BY_CALLBACK.
        return static_cast<TransferWatch*>(user)->check(dlnow + ulnow) ? 0 : 1;
    }
};

// Owns one curl multi handle with one easy handle in it.
class CurlMulti {
public:
    explicit CurlMulti(CURL* easy) : multi_(curl_multi_init()), easy_(easy) {
        if (multi_ && curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
            curl_multi_cleanup(multi_);
            multi_ = nullptr;
        }
    }
    ~CurlMulti() {
        if (multi_) {
            curl_multi_remove_handle(multi_, easy_);
            curl_multi_cleanup(multi_);
        }
    }
    CurlMulti(const CurlMulti&) = delete;
    CurlMulti& operator=(const CurlMulti&) = delete;
    CURLM* get() const { return multi_; }
    explicit operator bool() const { return multi_ != nullptr; }

private:
    CURLM* multi_;
    CURL* easy_;
};

// Runs the transfer to its end, waking at least every tenth of a second so that a cancel, the
// deadline or a stall ends it promptly even while no byte arrives.
CURLcode perform(CURL* easy, TransferWatch& watch) {
    CurlMulti multi(easy);
    if (!multi)
        return CURLE_OUT_OF_MEMORY;
    int running = 1;
    while (running > 0) {
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK)
            return CURLE_FAILED_INIT;
        if (running == 0)
            break;
        if (!watch.check(watch.lastTotal))
            return CURLE_ABORTED_BY_CALLBACK;
        if (curl_multi_poll(multi.get(), nullptr, 0, 100, nullptr) != CURLM_OK)
            return CURLE_FAILED_INIT;
    }
    int left = 0;
    while (CURLMsg* m = curl_multi_info_read(multi.get(), &left)) {
        if (m->msg == CURLMSG_DONE && m->easy_handle == easy)
            return m->data.result;
    }
    return CURLE_FAILED_INIT;
}

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

void abortAllTransfers() noexcept {
    abortEverything.store(true, std::memory_order_relaxed);
}

bool transfersAborted() noexcept {
    return abortEverything.load(std::memory_order_relaxed);
}

std::optional<HttpResponse> httpGet(const QString& url, const HttpOptions& options,
                                    QString* errorDescription, HttpFailure* kind) {
    auto fail = [&](HttpFailure k, const QString& why) -> std::optional<HttpResponse> {
        if (errorDescription)
            *errorDescription = why;
        if (kind)
            *kind = k;
        return std::nullopt;
    };
    const auto cancelled = [&] {
        return transfersAborted() || (options.cancel && options.cancel->load());
    };
    if (cancelled())
        return fail(HttpFailure::Cancelled, QStringLiteral("The request was cancelled."));
    initialiseCurlOnce();
    CurlEasy curl;
    if (!curl)
        return fail(HttpFailure::Setup, QStringLiteral("The transfer could not be set up."));

    const QByteArray urlBytes = url.toUtf8();
    const QByteArray agent = options.userAgent.toUtf8();
    char errorBuffer[CURL_ERROR_SIZE] = {};
    BodySink sink;
    sink.limit = options.maxBodyBytes;
    TransferWatch watch;
    watch.idleLimit = std::chrono::seconds(options.idleTimeoutSeconds);
    watch.deadline = std::chrono::seconds(std::max(0L, options.deadlineSeconds));
    watch.cancel = options.cancel;

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
        {CURLOPT_MAXFILESIZE_LARGE,
         curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE,
                          static_cast<curl_off_t>(options.maxBodyBytes))},
        {CURLOPT_WRITEFUNCTION, curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &BodySink::write)},
        {CURLOPT_WRITEDATA, curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink)},
        {CURLOPT_XFERINFOFUNCTION,
         curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &TransferWatch::progress)},
        {CURLOPT_XFERINFODATA, curl_easy_setopt(h, CURLOPT_XFERINFODATA, &watch)},
        {CURLOPT_NOPROGRESS, curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L)},
    };
    for (const auto& [option, code] : settings) {
        if (code != CURLE_OK)
            return fail(HttpFailure::Setup,
                        QStringLiteral("The transfer could not be set up (option %1: %2).")
                            .arg(static_cast<int>(option))
                            .arg(QString::fromUtf8(curl_easy_strerror(code))));
    }

    const CURLcode result = perform(h, watch);
    if (sink.overflowed || result == CURLE_FILESIZE_EXCEEDED)
        return fail(HttpFailure::TooLarge, QStringLiteral("The response is larger than %1 bytes.")
                                               .arg(options.maxBodyBytes));
    switch (watch.verdict) {
    case TransferWatch::Verdict::Cancelled:
        return fail(HttpFailure::Cancelled, QStringLiteral("The request was cancelled."));
    case TransferWatch::Verdict::Deadline:
        return fail(HttpFailure::Timeout,
                    QStringLiteral("The request timed out: not complete after %1 seconds.")
                        .arg(options.deadlineSeconds));
    case TransferWatch::Verdict::Idle:
        return fail(HttpFailure::Timeout,
                    QStringLiteral("The request timed out: no data for %1 seconds.")
                        .arg(options.idleTimeoutSeconds));
    case TransferWatch::Verdict::Going:
        break;
    }
    if (result != CURLE_OK) {
        const QString detail = QString::fromUtf8(errorBuffer).trimmed();
        const HttpFailure k = result == CURLE_OPERATION_TIMEDOUT ? HttpFailure::Timeout
                                                                 : HttpFailure::Transport;
        return fail(k, detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(result)) : detail);
    }
    HttpResponse response;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response.status);
    response.body = std::move(sink.body);
    return response;
}
