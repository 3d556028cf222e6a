#pragma once

#include "base/ChannelId.h"
#include "base/Time.h"
#include "store/Segment.h"

#include <QObject>

#include <chrono>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

// Raw samples per channel as continuous segments, oldest first. A segment joins the newest one
// when it starts within half a sample of where that one ends and the sampling intervals agree;
// samples it repeats on the same grid are dropped; anything else opens a segment of its own (a
// gap), or, when it reaches back into stored time off the grid or at another rate, replaces what
// is stored from its start on. Samples older than `keep` before a channel's newest one are let
// go. Reads are safe from any thread; feed from one thread at a time (the owner's).
class TraceStore : public QObject {
    Q_OBJECT
public:
    explicit TraceStore(std::chrono::seconds keep, QObject* parent = nullptr);

    void setKeep(std::chrono::seconds keep);
    std::chrono::seconds keep() const;

    // False when the segment brought nothing new (empty, unusable, or already held).
    bool feed(const Segment& segment);
    // Drops everything held for the channel.
    void forget(const ChannelId& channel);

    // The newest continuous run of samples, cut to [from, to] (both ends inclusive, half a sample
    // of tolerance); nothing when no sample of that run lies in the span.
    std::optional<Segment> continuous(const ChannelId& channel, Time from, Time to) const;
    // Every sample held in [from, to] on the grid of the newest segment, gaps as NaN.
    std::optional<Segment> window(const ChannelId& channel, Time from, Time to) const;
    // The stretches in [from, to) that no segment covers.
    std::vector<TimeSpan> gaps(const ChannelId& channel, Time from, Time to) const;
    // Where the newest segment ends (the time of its next sample); nothing when nothing is held.
    std::optional<Time> end(const ChannelId& channel) const;
    std::size_t segmentCount(const ChannelId& channel) const;
    // Samples held over all channels (memory accounting).
    std::size_t sampleCount() const;

Q_SIGNALS:
    void changed(const ChannelId& channel);

private:
    void evict(std::vector<Segment>& segments);

    mutable std::mutex mutex_;
    std::chrono::seconds keep_;
    std::unordered_map<ChannelId, std::vector<Segment>> channels_;
};
