#include "acquisition/TimeSeriesSource.h"

#include "acquisition/DataselectFetch.h"
#include "acquisition/QueryUrl.h"
#include "base/DateText.h"
#include "base/SystemLog.h"
#include "components/sac/SacObject.h"

#include <QTimer>

#include <algorithm>

TimeSeriesSource::TimeSeriesSource(QObject* parent)
    : WaveformSource(parent), clock_(&datetext::now) {
    pool_.setLimit(4);
}

TimeSeriesSource::~TimeSeriesSource() {
    for (auto& [id, p] : pending_)
        p.cancelled->store(true);
}

void TimeSeriesSource::setMaxConcurrentTransfers(int n) {
    pool_.setLimit(std::clamp(n, 1, kMaxTransfers));
}

quint64 TimeSeriesSource::request(std::vector<ChannelRequest> requests) {
    const quint64 id = ++lastRequest_;
    const Time now = clock_();
    if (mode_ == Mode::Inline) {
        for (std::size_t i = 0; i < requests.size(); ++i) {
            FetchedSeismogram f = fetchOf(requests[i], now)(http_);
            deliver(id, static_cast<int>(i), f);
        }
        Q_EMIT requestFinished(id);
        return id;
    }
    Pending& p = pending_[id];
    p.cancelled = std::make_shared<std::atomic<bool>>(false);
    p.total = static_cast<int>(requests.size());
    if (requests.empty()) {
        // "finished" comes later than the call that started the work, as for any request.
        pending_.erase(id);
        QTimer::singleShot(0, this, [this, id] { Q_EMIT requestFinished(id); });
        return id;
    }
    const Mailbox::Sender back = mailbox_.sender();
    for (std::size_t i = 0; i < requests.size(); ++i) {
        HttpOptions options = http_;
        pool_.post([this, back, id, index = static_cast<int>(i), fetch = fetchOf(requests[i], now),
                    options, cancelled = p.cancelled]() mutable {
            options.cancel = cancelled.get();
            auto fetched = std::make_shared<FetchedSeismogram>(fetch(options));
            // Runs on the owner's thread, and only while the source (and its mailbox) lives.
            back.post([this, id, index, fetched] { arrive(id, index, fetched); });
        });
    }
    return id;
}

void TimeSeriesSource::cancel(quint64 id) {
    const auto it = pending_.find(id);
    if (it == pending_.end())
        return;
    it->second.cancelled->store(true);
    pending_.erase(it);
}

void TimeSeriesSource::arrive(quint64 id, int index, std::shared_ptr<FetchedSeismogram> fetched) {
    auto it = pending_.find(id);
    if (it == pending_.end())
        return; // cancelled
    it->second.arrived.emplace(index, std::move(fetched));
    // Whatever order the answers come in, they go on in request order.
    while (true) {
        it = pending_.find(id);
        if (it == pending_.end())
            return; // a receiver cancelled it meanwhile
        Pending& p = it->second;
        const auto next = p.arrived.find(p.next);
        if (next == p.arrived.end())
            return;
        const std::shared_ptr<FetchedSeismogram> f = next->second;
        p.arrived.erase(next);
        const int index = p.next++;
        const bool last = p.next == p.total;
        if (last)
            pending_.erase(it);
        deliver(id, index, *f);
        if (last) {
            Q_EMIT requestFinished(id);
            return;
        }
    }
}

std::function<FetchedSeismogram(HttpOptions)>
TimeSeriesSource::fetchOf(const ChannelRequest& request, Time now) const {
    const RequestedWindow window = requestedWindow(request, now);
    if (service_ == Service::Dataselect)
        return [url = dataselectQueryUrl(base_, request, now), channel = requestChannel(request),
                window](const HttpOptions& options) {
            return fetchDataselect(url, channel, options, window);
        };
    return [url = timeSeriesQueryUrl(base_, request, now), name = seismogramFileName(request),
            window](const HttpOptions& options) {
        return fetchSeismogram(url, name, options, window);
    };
}

void TimeSeriesSource::deliver(quint64 id, int index, FetchedSeismogram& f) {
    for (const QString& line : f.notes)
        systemLog(line);
    if (f.segments)
        Q_EMIT segmentsReceived(id, index, std::move(*f.segments), f.bytes);
    else if (f.seismogram)
        Q_EMIT seismogramReceived(id, index, std::shared_ptr<SacObject>(std::move(f.seismogram)),
                                  f.bytes);
    else
        Q_EMIT channelFailed(id, index, f.failure.value_or(AcquisitionFailure{}));
}
