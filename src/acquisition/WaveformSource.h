#pragma once

#include "acquisition/AcquisitionFailure.h"
#include "acquisition/ChannelRequest.h"
#include "store/Segment.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <unordered_map>
#include <vector>

class SacObject;
class WaveformSource;

// The answers to one request, for the one who asked: made and connected by the asker before it
// asks (an inline source answers before ask() returns), and the asker's alone, so no one filters
// another's answers. Destroying it, or abandon(), abandons the request. Index is the channel's
// position in the request.
class SourceReplies : public QObject {
    Q_OBJECT
public:
    explicit SourceReplies(QObject* parent = nullptr);
    ~SourceReplies() override;
    // Nothing more arrives; transfers in flight are abandoned.
    void abandon();
    bool isOpen() const { return source_ != nullptr; }

Q_SIGNALS:
    void seismogramReceived(int index, std::shared_ptr<SacObject> seismogram, qint64 bytes);
    void segmentReceived(int index, Segment segment);
    // A whole answer of a service that answers in records: its gapless pieces, oldest first.
    void segmentsReceived(int index, std::vector<Segment> segments, qint64 bytes);
    void channelFailed(int index, AcquisitionFailure failure);
    // Every answer for the window asked is in; a streaming source goes on until abandoned.
    void windowFilled();
    // Nothing more will arrive.
    void finished();

private:
    friend class WaveformSource;
    QPointer<WaveformSource> source_;
    quint64 request_ = 0;
    bool filled_ = false;
};

// Delivers seismic data for the channel requests of one request. request() never blocks unless
// the source runs inline; results arrive as signals on the thread that owns the source, in the
// order of the requests, and "finished" always comes last. A source that answers with whole
// traces (the time-series service) emits seismogramReceived; one that answers with records
// (dataselect) emits segmentsReceived, an answer at a time; one that streams records emits
// segmentReceived. Index is the channel's position in the request. Askers use ask(), which hands
// each request's answers to that request's SourceReplies.
class WaveformSource : public QObject {
    Q_OBJECT
public:
    explicit WaveformSource(QObject* parent = nullptr);

    // Asks, with the answers going to `replies` (which abandons what it asked before).
    void ask(std::vector<ChannelRequest> requests, SourceReplies& replies);

    virtual quint64 request(std::vector<ChannelRequest> requests) = 0;
    // Nothing more arrives for the request; transfers in flight are abandoned.
    virtual void cancel(quint64 request) = 0;

Q_SIGNALS:
    void seismogramReceived(quint64 request, int index, std::shared_ptr<SacObject> seismogram,
                            qint64 bytes);
    void segmentReceived(quint64 request, int index, Segment segment);
    void segmentsReceived(quint64 request, int index, std::vector<Segment> segments, qint64 bytes);
    void channelFailed(quint64 request, int index, AcquisitionFailure failure);
    // Every answer for the window is in; a streaming source goes on (requestFinished implies it).
    void windowFilled(quint64 request);
    void requestFinished(quint64 request);

private:
    friend class SourceReplies;
    SourceReplies* repliesFor(quint64 request);
    void forget(quint64 request);

    std::unordered_map<quint64, QPointer<SourceReplies>> replies_;
    SourceReplies* asking_ = nullptr; // answers an inline source gives inside ask()
    quint64 askingRequest_ = 0;
};
