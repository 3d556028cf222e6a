#include "acquisition/CombinedSource.h"

#include "base/ChannelId.h"
#include "base/DateText.h"
#include "store/TraceStore.h"

CombinedSource::CombinedSource(WaveformSource& fill, WaveformSource& stream,
                               const TraceStore& store, QObject* parent)
    : WaveformSource(parent), fill_(fill), stream_(stream), store_(store) {
    connect(&filling_, &SourceReplies::seismogramReceived, this,
            [this](int i, std::shared_ptr<SacObject> s, qint64 bytes) {
                Q_EMIT seismogramReceived(active_, i, std::move(s), bytes);
            });
    connect(&filling_, &SourceReplies::segmentReceived, this,
            [this](int i, Segment s) { Q_EMIT segmentReceived(active_, i, std::move(s)); });
    connect(&filling_, &SourceReplies::segmentsReceived, this,
            [this](int i, std::vector<Segment> s, qint64 bytes) {
                Q_EMIT segmentsReceived(active_, i, std::move(s), bytes);
            });
    connect(&filling_, &SourceReplies::channelFailed, this, [this](int i, AcquisitionFailure f) {
        Q_EMIT channelFailed(active_, i, std::move(f));
    });
    connect(&filling_, &SourceReplies::finished, this, [this] {
        if (active_ == 0)
            return;
        Q_EMIT windowFilled(active_);
        startStream();
    });
    connect(&streaming_, &SourceReplies::segmentReceived, this,
            [this](int i, Segment s) { Q_EMIT segmentReceived(active_, i, std::move(s)); });
    connect(&streaming_, &SourceReplies::seismogramReceived, this,
            [this](int i, std::shared_ptr<SacObject> s, qint64 bytes) {
                Q_EMIT seismogramReceived(active_, i, std::move(s), bytes);
            });
    connect(&streaming_, &SourceReplies::channelFailed, this, [this](int i, AcquisitionFailure f) {
        Q_EMIT channelFailed(active_, i, std::move(f));
    });
    connect(&streaming_, &SourceReplies::finished, this, [this] {
        if (const quint64 id = std::exchange(active_, 0))
            Q_EMIT requestFinished(id);
    });
}

CombinedSource::~CombinedSource() {
    filling_.abandon();
    streaming_.abandon();
}

quint64 CombinedSource::request(std::vector<ChannelRequest> requests) {
    cancel(active_);
    const quint64 id = ++lastRequest_;
    active_ = id;
    requests_ = requests;
    streamedFrom_.reset();
    fill_.ask(std::move(requests), filling_);
    return id;
}

void CombinedSource::cancel(quint64 request) {
    if (request == 0 || request != active_)
        return;
    active_ = 0;
    filling_.abandon();
    streaming_.abandon();
}

void CombinedSource::startStream() {
    // The hand-over: from the earliest end held over all channels, or the window's start.
    std::optional<Time> from;
    for (const ChannelRequest& r : requests_) {
        const ChannelId id{r.value(ChannelRequest::Network), r.value(ChannelRequest::StationID),
                           r.value(ChannelRequest::LocationCode),
                           r.value(ChannelRequest::ChannelID)};
        const auto end = store_.end(id);
        const auto start =
            end ? end : datetext::parseRequestTime(r.value(ChannelRequest::StartTime));
        if (start && (!from || *start < *from))
            from = start;
    }
    streamedFrom_ = from;
    std::vector<ChannelRequest> requests = requests_;
    for (ChannelRequest& r : requests)
        r.setValue(ChannelRequest::StartTime, from ? datetext::requestTime(*from) : QString());
    stream_.ask(std::move(requests), streaming_);
}
