#pragma once

#include "base/ChannelId.h"
#include "base/Time.h"
#include "store/Segment.h"

#include <QObject>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

// Raw samples per channel, merged the way a seismic archive merges records: each channel holds
// an ordered set of segments that never overlap. A piece goes where it belongs in time, whatever
// order pieces arrive in. It joins a neighbour when it starts within half a sample of that
// neighbour's end (or ends within half a sample of its start) at the same rate, and stays a
// segment of its own otherwise (a gap, or a new rate). Where a piece overlaps what is held, the
// held samples stay (a picture never changes under the viewer's eyes) and only the new part is
// added; samples that disagree are counted and reported, at most once a minute per channel.
//
// Nothing newer is ever dropped because something older arrived. What is let go: samples older
// than the keep span before now, and the oldest samples of a channel beyond its sample budget.
// Pieces that cannot be right are refused whole, with a log line, and change nothing: times
// outside [now - keep, now + the clock tolerance], or an implausible rate.
//
// Reads are safe from any thread; feed from one thread at a time (the owner's).
class TraceStore : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<Time()>;

    struct Limits {
        // Samples a little in the future are kept: server clocks run ahead by seconds to minutes.
        double futureSeconds = 300;
        // Sample intervals outside this range are no seismometer's (10 000 to 1e-4 samples/s).
        double shortestDelta = 1e-4, longestDelta = 1e4;
        // Memory bounds: 2^26 samples (256 MiB) for one channel, 2^28 (1 GiB) in all.
        std::size_t channelSamples = std::size_t{1} << 26;
        std::size_t totalSamples = std::size_t{1} << 28;
    };

    // Why a piece changed nothing.
    enum class Outcome { Stored, AlreadyHeld, Empty, Refused };

    explicit TraceStore(std::chrono::seconds keep, QObject* parent = nullptr);
    ~TraceStore() override;

    // How far back from now samples are kept: the longest window any view needs, plus a margin.
    void setKeep(std::chrono::seconds keep);
    std::chrono::seconds keep() const;
    void setLimits(const Limits& limits);
    // The clock "now" is read from (the system clock unless a test sets another).
    void setClock(Clock clock);
    Time now() const;

    // True when the piece brought samples that were not held.
    bool feed(const Segment& segment);
    Outcome insert(const Segment& segment);
    // Drops everything held for the channel.
    void forget(const ChannelId& channel);

    // Every segment held, cut to [from, to] (both ends inclusive, half a sample of tolerance),
    // oldest first.
    std::vector<Segment> segments(const ChannelId& channel, Time from, Time to) const;
    // The stretches in [from, to) that no segment covers.
    std::vector<TimeSpan> gaps(const ChannelId& channel, Time from, Time to) const;
    // Where the newest segment ends (the time of its next sample); nothing when nothing is held.
    std::optional<Time> end(const ChannelId& channel) const;
    std::size_t segmentCount(const ChannelId& channel) const;
    // Samples held for one channel, and over all channels (memory accounting).
    std::size_t sampleCount(const ChannelId& channel) const;
    std::size_t sampleCount() const;
    // Overlapping samples that differed from those held, since the channel was first fed.
    std::size_t disagreements(const ChannelId& channel) const;
    // Bumped whenever the channel's samples change (anywhere in time, not only at the end).
    std::uint64_t revision(const ChannelId& channel) const;

Q_SIGNALS:
    void changed(const ChannelId& channel);

private:
    // A segment as held: samples in a deque, so pieces join at either end cheaply.
    struct Run {
        Time start{};
        double delta = 0;
        std::deque<float> samples;
        Time end() const;
        Time timeOf(std::size_t i) const;
    };
    struct Channel {
        std::vector<Run> runs; // ordered by start, never overlapping
        std::size_t samples = 0;
        std::uint64_t revision = 0;
        std::size_t disagreements = 0, unreported = 0;
        std::optional<Time> lastDisagreementReport, lastRefusalReport;
    };

    Outcome insertLocked(const Segment& piece, Channel& channel, Time now);
    bool refuse(const Segment& piece, Channel& channel, Time now, const QString& why);
    void addRun(Channel& channel, Run run);
    void evict(Channel& channel, Time now);
    void reportDisagreements(const ChannelId& id, Channel& channel, Time now);

    mutable std::mutex mutex_;
    std::chrono::seconds keep_;
    Limits limits_;
    Clock clock_;
    std::size_t total_ = 0;
    std::optional<Time> lastSweep_;
    std::uint64_t revisions_ = 0;
    std::unordered_map<ChannelId, Channel> channels_;
};
