#pragma once

#include "acquisition/CombinedSource.h"
#include "acquisition/LiveRows.h"
#include "acquisition/RetrievalCycle.h"
#include "acquisition/SeedLinkSource.h"
#include "acquisition/TimeSeriesSource.h"
#include "acquisition/WindowRequest.h"
#include "channels/ChannelTable.h"
#include "components/SeismicOrigin.h"
#include "processing/ProcessingOptions.h"
#include "store/TraceStore.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <chrono>
#include <memory>
#include <vector>

// What a row of the monitor says beside its samples.
struct RowState {
    QString health; // "latency 12 s, 3% missing", and the last failure inside the window
    bool silent = false;
    QString failure; // why the row is empty, when it is
};

// One picture for the seismogram view: the traces of a retrieval (or of a redraw from the
// store), the window they fill, its title, and each row's state.
struct SessionFrame {
    std::shared_ptr<CycleResult> result;
    WindowRequest window;
    QString title;
    bool monitoring = false;
    bool resetZoom = false;     // the first frame of a new mode or window length
    std::vector<RowState> rows; // by table row
    std::vector<Time> arrivals; // when the records drawn first arrived (for measuring)
};

// The seismogram window's session: what it shows (the monitor, an earthquake's window, a window
// typed by hand), over how long, from which source, for which channels, under which title. It
// takes commands and hands out frames; every transition is defined here rather than in flags
// spread over the controller. Leaving an earthquake or typed window for the monitor fills the
// whole monitor window once, in both sources, and resets the zoom; a new length applies at once;
// the title follows the mode. With the SeedLink stream chosen, monitoring fills the window from
// the time-series service and then streams (CombinedSource); the channels the stream cannot
// bring are polled on each tick, off the path of the streamed rows, which are redrawn as their
// records arrive: by default each record goes through its channel's causal chain (LiveRows), so
// the newest samples are drawn as they are; the other choice runs the window chain over the whole
// window from the store. No widgets: it runs and is tested without windows.
class MonitorSession : public QObject {
    Q_OBJECT
public:
    enum class Source { WebService, SeedLink };
    // How streamed rows are processed: record by record through a causal chain, or the whole
    // window at once (zero phase, its newest minutes tapered). Only the stream has a choice.
    enum class LiveProcessing { Causal, Window };

    // A row whose newest sample is older than this is silent (drawn dimmed).
    static constexpr double kSilentSeconds = 300;
    // The longest monitor or event window, in minutes: 30 days.
    static constexpr int kMaxMinutes = 30 * 24 * 60;
    // A redraw soon after records arrive, and the window moving with the present without them.
    // Causal rows cost only what arrived, so their frames follow arrivals closely: the first
    // record after a frame arms kLiveFrameGap (at least kLiveFrameSpacing after the last frame)
    // and whatever else comes meanwhile joins it. A window redraw processes whole windows and is
    // spaced by kMinFrameGap.
    static constexpr std::chrono::milliseconds kLiveFrameGap{20};
    static constexpr std::chrono::milliseconds kLiveFrameSpacing{100};
    static constexpr std::chrono::milliseconds kMinFrameGap{500};
    static constexpr std::chrono::milliseconds kScrollPeriod{1000};

    explicit MonitorSession(QObject* parent = nullptr);
    ~MonitorSession() override;

    TraceStore& store() { return store_; }
    RetrievalCycle& cycle() { return cycle_; }
    TimeSeriesSource& timeSeries() { return timeSeries_; }
    SeedLinkSource& seedLink() { return seedLink_; }
    // The summary the view wants of each processed trace, made where it is processed.
    void setReadyHook(RetrievalCycle::ReadyHook hook);
    void setInline(bool on);

    // What the retrievals read.
    void setChannels(const ChannelTable& channels, const QString& listTitle);
    const ChannelTable& channels() const { return channels_; }
    const QString& listTitle() const { return listTitle_; }
    void setOptions(const ProcessingOptions& options, bool incremental);
    // Changes over at once while monitoring (the next monitor window fills whole).
    void setSource(Source source, const QString& seedLinkServers);
    Source source() const { return source_; }
    void setLiveProcessing(LiveProcessing live);
    LiveProcessing liveProcessing() const { return live_; }

    // Monitoring: a window of `minutes` up to now, refreshed by the caller's ticks (or streamed).
    void startMonitoring(int minutes);
    void stopMonitoring();
    bool monitoring() const { return monitoring_; }
    // The length of the monitor window, 1 to kMaxMinutes; applies to the next monitor window.
    void setMinutes(int minutes);
    int minutes() const { return minutes_; }

    // The windows the session makes: each is also the one it recognises in the fields later.
    WindowRequest monitorWindow(Time now);
    WindowRequest earthquakeWindow(const SeismicOrigin& origin, double minutes);
    static QString earthquakeTitle(const SeismicOrigin& origin);
    // The window the fields hold: the one made last when they still show it, else typed (each
    // text read once). Whatever they hold is drawn as the monitor draws when `monitoring` (the
    // refresh timer runs), else as a window of its own.
    WindowRequest windowOf(const QString& startText, const QString& endText, Time now,
                           bool monitoring) const;

    // One retrieval of the window, titled `title` (a monitor window takes the list's title).
    void retrieve(const WindowRequest& window, const QString& title);
    void cancel();
    bool busy() const { return cycle_.isRunning() || fillingStream_; }
    bool streaming() const { return streamStarted_; }
    SeedLinkSource::Link link() const { return seedLink_.link(); }

    // Milliseconds from each record's arrival to the paint that showed it (the newest 100 000).
    const std::vector<double>& arrivalToPixelsMs() const { return latencies_; }
    // The frame handed out last reached the screen.
    void framePainted();

Q_SIGNALS:
    void frameReady(std::shared_ptr<const SessionFrame> frame);
    // The monitor's indicator: "● Streaming", "○ Reconnecting"...
    void indicatorChanged(const QString& text);
    // A streamed piece the store took, for whoever else draws that channel.
    void segmentStreamed(const Segment& segment);

private:
    void startStream(const WindowRequest& window);
    void stopStream();
    void onCycleFinished(const std::shared_ptr<CycleResult>& result);
    void onFramesFinished(const std::shared_ptr<CycleResult>& result);
    void streamArrived(int row, const Segment& segment);
    void streamFailed(int row, const AcquisitionFailure& failure);
    void fillArrived(int row, std::shared_ptr<SacObject> seismogram);
    // A fill answered in records (dataselect): its gapless pieces.
    void fillPiecesArrived(int row, std::vector<Segment> pieces);
    bool causal() const { return live_ == LiveProcessing::Causal && streamStarted_; }
    void scheduleFrame();
    void frame(bool whole);
    void emitFrame(const std::shared_ptr<CycleResult>& result, const WindowRequest& window);
    std::vector<RowState> rowStates(const WindowRequest& window) const;
    void noteFailures(const CycleResult& result);

    TraceStore store_{std::chrono::hours(2)};
    TimeSeriesSource timeSeries_;
    SeedLinkSource seedLink_;
    CombinedSource combined_{timeSeries_, seedLink_, store_};
    RetrievalCycle cycle_{timeSeries_, store_};
    // Redraws from the store while streaming: never waits for a poll of the main cycle.
    RetrievalCycle frames_{timeSeries_, store_};
    LiveRows liveRows_{store_};
    SourceReplies stream_;
    QTimer frameTimer_;

    ChannelTable channels_;
    QString listTitle_, title_;
    ProcessingOptions options_;
    bool incremental_ = true;
    Source source_ = Source::WebService;
    LiveProcessing live_ = LiveProcessing::Causal;
    QString servers_;
    bool badServersSaid_ = false; // servers that cannot be read are said once
    int minutes_ = 60;
    bool monitoring_ = false;
    bool fillWhole_ = true; // the next monitor window is asked for whole, for every channel
    bool resetZoom_ = true;
    WindowRequest made_;        // the window handed out last
    WindowRequest shown_;       // the window of the running (or last) retrieval
    WindowRequest frameWindow_; // the window of the running redraw
    bool streamStarted_ = false, fillingStream_ = false, streamChanged_ = false;
    std::vector<char> refused_; // by table row: polled from the time-series service instead
    QSet<QString> refusedLogged_;
    QSet<QString> streamingFrom_; // the servers whose stream has begun since the last loss
    // The last failure of each channel, shown at its row.
    QHash<QString, std::pair<Time, QString>> lastFailure_;
    std::chrono::steady_clock::time_point lastFrame_{};
    std::vector<std::chrono::steady_clock::time_point> arrived_, applied_;
    std::vector<double> latencies_;
};
