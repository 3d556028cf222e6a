#pragma once

#include "acquisition/SeismogramFetch.h"
#include "acquisition/WaveformSource.h"
#include "base/Mailbox.h"
#include "base/WorkerPool.h"
#include "net/HttpClient.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>

// A web service of seismograms as a source: one query per channel request, to the time-series
// service (the answer decoded as SAC) or to an FDSN dataselect service (miniSEED, decoded
// record by record into gapless segments). Inline, each request is fetched in turn before request()
// returns (the original strict sequence). Pooled, at most `maxConcurrentTransfers` exchanges run at
// once on worker threads, started in request order, and their results are still delivered in
// request order.
class TimeSeriesSource : public WaveformSource {
    Q_OBJECT
public:
    enum class Mode { Inline, Pooled };
    enum class Service { TimeSeries, Dataselect };
    // The most the public service allows one client at once.
    static constexpr int kMaxTransfers = 5;

    explicit TimeSeriesSource(QObject* parent = nullptr);
    ~TimeSeriesSource() override;

    void setMode(Mode mode) { mode_ = mode; }
    Mode mode() const { return mode_; }
    void setServiceBase(const QString& base) { base_ = base; }
    void setService(Service service) { service_ = service; }
    Service service() const { return service_; }
    void setHttpOptions(const HttpOptions& options) { http_ = options; }
    // 1 (strictly one after another) to kMaxTransfers.
    void setMaxConcurrentTransfers(int n);
    // Where a time text that does not parse is sent from; the clock by default.
    void setClock(std::function<Time()> clock) { clock_ = std::move(clock); }

    quint64 request(std::vector<ChannelRequest> requests) override;
    void cancel(quint64 request) override;
    // Exchanges posted and not yet finished, over all requests.
    std::size_t transfersPending() const { return pool_.pending(); }

private:
    struct Pending {
        std::shared_ptr<std::atomic<bool>> cancelled;
        int total = 0;
        int next = 0;
        std::map<int, std::shared_ptr<FetchedSeismogram>> arrived;
    };
    void arrive(quint64 id, int index, std::shared_ptr<FetchedSeismogram> fetched);
    void deliver(quint64 id, int index, FetchedSeismogram& fetched);
    // One request's exchange and decoding, for any thread.
    std::function<FetchedSeismogram(HttpOptions)> fetchOf(const ChannelRequest& request,
                                                          Time now) const;

    Mode mode_ = Mode::Pooled;
    Service service_ = Service::TimeSeries;
    QString base_;
    HttpOptions http_;
    std::function<Time()> clock_;
    quint64 lastRequest_ = 0;
    std::map<quint64, Pending> pending_;
    Mailbox mailbox_;
    WorkerPool pool_{kMaxTransfers}; // last: its threads are joined before the rest goes
};
