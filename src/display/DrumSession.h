#pragma once

#include "acquisition/AcquisitionFailure.h"
#include "acquisition/DrumFeed.h"
#include "base/Background.h"
#include "base/ChannelId.h"
#include "base/DrumRows.h"
#include "components/SeismicOrigin.h"
#include "net/HttpClient.h"
#include "processing/ProcessingOptions.h"
#include "store/TraceStore.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

class StationPlaces;
class WaveformSource;

// A mark on the drum: an earthquake's origin and magnitude, or its predicted first P wave.
struct DrumMark {
    Time when{};
    QString label;
    bool origin = true; // else a predicted arrival
    friend bool operator==(const DrumMark&, const DrumMark&) = default;
};

// The helicorder's session: one channel over a span of rows. It keeps the channel's raw samples
// in a store of its own, fills what the store lacks in hourly pieces, processes the record an
// hour at a time with margins on a worker thread (one block at a time, newest arrivals first
// in line), holds one common scale fixed after the first fill and taken afresh when the drum
// moves on by a row, and marks the catalogue's earthquakes with their predicted first P. It
// hands the view values through its signals and touches no widget.
class DrumSession : public QObject {
    Q_OBJECT
public:
    static constexpr double kBlockSeconds = DrumFeed::kPieceSeconds;

    DrumSession(WaveformSource& source, StationPlaces& places, QObject* parent = nullptr);
    ~DrumSession() override;

    void setInline(bool on);
    TraceStore& store() { return store_; }

    // The drum of `hours` of rows of `rowMinutes` minutes for the channel, ending now: what the
    // store holds is drawn at once, the feed asks for the rest.
    void start(const ChannelId& channel, int hours, int rowMinutes,
               const ProcessingOptions& options, Time now);
    // No channel: the drum stops and says why.
    void stop(const QString& why);
    // A period's tick: the new tail, and the drum moved on when a new row has begun. The drum
    // ticks by itself every `period` while it runs.
    void refresh(Time now);
    void setPeriod(std::chrono::milliseconds period);
    // Everything in flight abandoned; what is drawn stays.
    void cancel();
    // A piece the stream brought; taken when it is the drum's channel.
    void streamed(const Segment& segment);
    // The catalogue's earthquakes, and the model their arrivals come from.
    void setOrigins(std::vector<SeismicOrigin> origins, const QString& modelName);
    // Where the station service lives, to place the drum's station for its P marks.
    void setStationService(const QString& base, const HttpOptions& options);

    bool active() const { return active_; }
    const ChannelId& channel() const { return channel_; }
    const DrumRows& rows() const { return rows_; }
    // Nothing fetched or processed any more.
    bool settled() const;
    QString status() const;
    const std::vector<DrumMark>& marks() const { return marks_; }
    // Called once, when the drum has settled next (a snapshot waits for it).
    void whenSettled(std::function<void()> then);

Q_SIGNALS:
    void rowsChanged(const DrumRows& rows, const QString& title);
    void placeholderChanged(const QString& text);
    void cleared();
    void blockReady(Time from, Time to, std::vector<std::shared_ptr<const Segment>> runs,
                    std::optional<Time> changedFrom);
    void blocksDroppedBefore(Time t);
    void scaleChanged(double rms);
    void marksChanged(const std::vector<DrumMark>& marks);
    void statusChanged();

private:
    void stored(TimeSpan span);
    void processNext();
    void applyScale();
    void stepDone();
    void updateMarks();
    void setRows(const DrumRows& rows);

    TraceStore store_{std::chrono::hours(50)};
    DrumFeed feed_;
    StationPlaces& places_;
    Background worker_;
    QTimer timer_; // the period's ticks

    bool active_ = false;
    ChannelId channel_;
    DrumRows rows_;
    ProcessingOptions options_;
    // Blocks to process (by start), the one being processed, and what each processed block
    // added to the scale.
    std::set<Time> pending_;
    std::optional<Time> running_;
    struct Stats {
        double sumSquares = 0;
        std::size_t count = 0;
    };
    std::map<Time, Stats> stats_;
    // Until the first fill is processed the scale follows each block; afterwards it is fixed
    // until the drum moves on by a row.
    bool loading_ = false;
    // Where the stored samples ended before the latest arrival: the newest block's drawing
    // changes only from shortly before it.
    std::optional<Time> previousEnd_;
    int piecesFailed_ = 0;
    QString lastFailure_;
    std::vector<SeismicOrigin> origins_;
    QString modelName_ = QStringLiteral("iasp91");
    QString stationBase_;
    HttpOptions stationOptions_;
    std::vector<DrumMark> marks_;
    std::function<void()> onSettled_;
};
