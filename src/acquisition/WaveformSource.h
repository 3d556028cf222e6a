#pragma once

#include "acquisition/AcquisitionFailure.h"
#include "acquisition/ChannelRequest.h"
#include "store/Segment.h"

#include <QObject>

#include <memory>
#include <vector>

class SacObject;

// Delivers seismic data for the channel requests of one request. request() never blocks unless
// the source runs inline; results arrive as signals on the thread that owns the source, in the
// order of the requests, and "finished" always comes last. A source that answers with whole
// traces (the time-series service) emits seismogramReceived; one that streams records emits
// segmentReceived. Index is the channel's position in the request.
class WaveformSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual quint64 request(std::vector<ChannelRequest> requests) = 0;
    // Nothing more arrives for the request; transfers in flight are abandoned.
    virtual void cancel(quint64 request) = 0;

Q_SIGNALS:
    void seismogramReceived(quint64 request, int index, std::shared_ptr<SacObject> seismogram,
                            qint64 bytes);
    void segmentReceived(quint64 request, int index, Segment segment);
    void channelFailed(quint64 request, int index, AcquisitionFailure failure);
    void requestFinished(quint64 request);
};
