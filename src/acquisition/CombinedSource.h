#pragma once

#include "acquisition/WaveformSource.h"
#include "base/Time.h"

#include <map>
#include <optional>
#include <vector>

class TraceStore;

// Fills a window from one source (the time-series service) and then streams the same channels
// from another (SeedLink): once every answer for the window is in, the stream starts where the
// store's samples end, at the earliest end over the channels, so no channel misses a sample
// (what a channel already holds arrives again and the store keeps its own). A channel that has
// nothing yet starts at the window's start. The request runs until it is cancelled; it signals
// windowFilled when the fill is done.
class CombinedSource : public WaveformSource {
    Q_OBJECT
public:
    CombinedSource(WaveformSource& fill, WaveformSource& stream, const TraceStore& store,
                   QObject* parent = nullptr);
    ~CombinedSource() override;

    quint64 request(std::vector<ChannelRequest> requests) override;
    void cancel(quint64 request) override;

    // Where the stream of the running request started (nothing before it has).
    std::optional<Time> streamedFrom() const { return streamedFrom_; }

private:
    void startStream();

    WaveformSource& fill_;
    WaveformSource& stream_;
    const TraceStore& store_;
    SourceReplies filling_, streaming_;
    quint64 lastRequest_ = 0, active_ = 0;
    std::vector<ChannelRequest> requests_;
    std::optional<Time> streamedFrom_;
};
