#include "acquisition/WaveformSource.h"

#include "components/sac/SacObject.h"

SourceReplies::SourceReplies(QObject* parent) : QObject(parent) {}

SourceReplies::~SourceReplies() {
    abandon();
}

void SourceReplies::abandon() {
    if (WaveformSource* source = source_) {
        const quint64 request = request_;
        source_ = nullptr;
        source->forget(request);
        if (request != 0)
            source->cancel(request);
    }
    request_ = 0;
    filled_ = false;
}

WaveformSource::WaveformSource(QObject* parent) : QObject(parent) {
    connect(this, &WaveformSource::seismogramReceived, this,
            [this](quint64 r, int i, std::shared_ptr<SacObject> s, qint64 bytes) {
                if (SourceReplies* to = repliesFor(r))
                    Q_EMIT to->seismogramReceived(i, std::move(s), bytes);
            });
    connect(this, &WaveformSource::segmentReceived, this, [this](quint64 r, int i, Segment s) {
        if (SourceReplies* to = repliesFor(r))
            Q_EMIT to->segmentReceived(i, std::move(s));
    });
    connect(this, &WaveformSource::segmentsReceived, this,
            [this](quint64 r, int i, std::vector<Segment> s, qint64 bytes) {
                if (SourceReplies* to = repliesFor(r))
                    Q_EMIT to->segmentsReceived(i, std::move(s), bytes);
            });
    connect(this, &WaveformSource::channelFailed, this,
            [this](quint64 r, int i, AcquisitionFailure f) {
                if (SourceReplies* to = repliesFor(r))
                    Q_EMIT to->channelFailed(i, std::move(f));
            });
    connect(this, &WaveformSource::windowFilled, this, [this](quint64 r) {
        SourceReplies* to = repliesFor(r);
        if (to && !to->filled_) {
            to->filled_ = true;
            Q_EMIT to->windowFilled();
        }
    });
    connect(this, &WaveformSource::requestFinished, this, [this](quint64 r) {
        QPointer<SourceReplies> to = repliesFor(r);
        if (!to)
            return;
        forget(r);
        to->source_ = nullptr;
        to->request_ = 0;
        if (!to->filled_) {
            to->filled_ = true;
            Q_EMIT to->windowFilled();
        }
        if (to)
            Q_EMIT to->finished();
    });
}

void WaveformSource::ask(std::vector<ChannelRequest> requests, SourceReplies& replies) {
    replies.abandon();
    replies.source_ = this;
    // An inline source answers inside request(), before its number is known here.
    SourceReplies* outer = asking_;
    const quint64 outerRequest = askingRequest_;
    asking_ = &replies;
    askingRequest_ = 0;
    const quint64 id = request(std::move(requests));
    asking_ = outer;
    askingRequest_ = outerRequest;
    if (replies.source_ != this)
        return; // finished (or abandoned) while asking
    replies.request_ = id;
    replies_[id] = &replies;
}

SourceReplies* WaveformSource::repliesFor(quint64 request) {
    if (asking_ && (askingRequest_ == 0 || askingRequest_ == request) &&
        !replies_.contains(request)) {
        askingRequest_ = request;
        asking_->request_ = request;
        replies_[request] = asking_;
    }
    const auto it = replies_.find(request);
    if (it == replies_.end())
        return nullptr;
    if (!it->second) {
        replies_.erase(it);
        return nullptr;
    }
    return it->second;
}

void WaveformSource::forget(quint64 request) {
    replies_.erase(request);
}
