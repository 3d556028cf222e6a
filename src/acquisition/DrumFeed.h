#pragma once

#include "acquisition/AcquisitionFailure.h"
#include "acquisition/WaveformSource.h"
#include "base/ChannelId.h"
#include "base/Time.h"
#include "store/Segment.h"

#include <QObject>

#include <vector>

class SacObject;
class TraceStore;

// Keeps one channel's record of a long span in a store: what the store lacks is asked for in
// pieces of at most an hour, cut at whole hours (polite to the service; the source keeps to its
// limit of transfers at once), oldest first, each stored as it arrives; afterwards only the
// tail after the newest stored sample. A piece that fails stays a gap.
class DrumFeed : public QObject {
    Q_OBJECT
public:
    static constexpr double kPieceSeconds = 3600;

    DrumFeed(WaveformSource& source, TraceStore& store, QObject* parent = nullptr);
    ~DrumFeed() override;

    // Asks for every gap of [from, to) the store has for the channel; a feed running is
    // cancelled first. Nothing to ask: idle() at once.
    void fill(const ChannelId& channel, Time from, Time to);
    // From the newest stored sample (less a little overlap) to `to`; the whole span when
    // nothing is stored.
    void extend(Time from, Time to);
    void stop();
    bool isBusy() const { return replies_.isOpen(); }
    const ChannelId& channel() const { return channel_; }

    // The pieces of [from, to): cut at whole multiples of kPieceSeconds.
    static std::vector<TimeSpan> pieces(Time from, Time to);

Q_SIGNALS:
    // Samples of the span were stored.
    void stored(TimeSpan span);
    void pieceFailed(TimeSpan span, AcquisitionFailure failure);
    // Every piece asked for has been answered.
    void idle();

private:
    void ask(std::vector<TimeSpan> spans);
    void onSeismogram(int index, std::shared_ptr<SacObject> seismogram);
    void onSegments(int index, std::vector<Segment> segments);
    void feed(int index, Segment segment);
    void onFailure(int index, const AcquisitionFailure& failure);
    void onFinished();

    WaveformSource& source_;
    SourceReplies replies_; // the drum's own answers
    TraceStore& store_;
    ChannelId channel_;
    std::vector<TimeSpan> asked_;
};
