#include "acquisition/MonitorSession.h"

#include "acquisition/QueryUrl.h"
#include "acquisition/SegmentOf.h"
#include "acquisition/TraceHealth.h"
#include "base/NumberReading.h"
#include "base/SystemLog.h"
#include "components/sac/SacObject.h"

#include <algorithm>
#include <cmath>

namespace {

// The store keeps the monitor window and this much more, so a tail always finds what it joins.
constexpr double kKeepMarginSeconds = 600;
constexpr std::size_t kMaxLatencies = 100000;

} // namespace

MonitorSession::MonitorSession(QObject* parent) : QObject(parent) {
    frameTimer_.setSingleShot(true);
    connect(&frameTimer_, &QTimer::timeout, this, [this] { frame(false); });
    connect(&cycle_, &RetrievalCycle::finished, this, &MonitorSession::onCycleFinished);
    connect(&frames_, &RetrievalCycle::finished, this, &MonitorSession::onFramesFinished);
    connect(
        &stream_, &SourceReplies::seismogramReceived, this,
        [this](int row, std::shared_ptr<SacObject> s, qint64) { fillArrived(row, std::move(s)); });
    connect(&stream_, &SourceReplies::segmentsReceived, this,
            [this](int row, std::vector<Segment> pieces, qint64) {
                fillPiecesArrived(row, std::move(pieces));
            });
    connect(&stream_, &SourceReplies::segmentReceived, this, &MonitorSession::streamArrived);
    connect(&stream_, &SourceReplies::channelFailed, this, &MonitorSession::streamFailed);
    connect(&stream_, &SourceReplies::windowFilled, this, [this] {
        fillingStream_ = false;
        frame(true); // the filled window, drawn whole; the stream carries it on
    });
    connect(&seedLink_, &SeedLinkSource::linkChanged, this,
            [this](SeedLinkSource::Link link, const QString& why, const QString& server) {
                if (!streamStarted_)
                    return;
                if (link == SeedLinkSource::Link::Streaming) {
                    streamingFrom_.insert(server);
                    systemLog(QStringLiteral("SeedLink: streaming from %1.").arg(server));
                    Q_EMIT indicatorChanged(QStringLiteral("● Streaming"));
                } else if (link == SeedLinkSource::Link::Lost && server.isEmpty()) {
                    systemLog(QStringLiteral("SeedLink: ") + why + u'.');
                    Q_EMIT indicatorChanged(QStringLiteral("SeedLink: ") + why);
                } else if (link == SeedLinkSource::Link::Lost) {
                    // A server never reached has no connection to lose.
                    systemLog((streamingFrom_.remove(server)
                                   ? QStringLiteral("SeedLink: lost the connection to %1 (%2); "
                                                    "connecting again.")
                                   : QStringLiteral("SeedLink: could not reach %1 (%2); trying "
                                                    "again."))
                                  .arg(server, why));
                    Q_EMIT indicatorChanged(QStringLiteral("○ Reconnecting"));
                } else if (link == SeedLinkSource::Link::Refused) {
                    // Every row is polled from the time-series service now.
                    const QString line = QStringLiteral("SeedLink: ") + why;
                    systemLog(line + u'.');
                    Q_EMIT indicatorChanged(line);
                }
            });
}

MonitorSession::~MonitorSession() {
    stream_.abandon();
    cycle_.cancel();
    frames_.cancel();
}

void MonitorSession::setReadyHook(RetrievalCycle::ReadyHook hook) {
    cycle_.setReadyHook(hook);
    liveRows_.setReadyHook(hook);
    frames_.setReadyHook(std::move(hook));
}

void MonitorSession::setInline(bool on) {
    timeSeries_.setMode(on ? TimeSeriesSource::Mode::Inline : TimeSeriesSource::Mode::Pooled);
    cycle_.setInlineProcessing(on);
    frames_.setInlineProcessing(on);
}

void MonitorSession::setChannels(const ChannelTable& channels, const QString& listTitle) {
    channels_ = channels;
    listTitle_ = listTitle;
    if (monitoring_)
        title_ = listTitle;
    // A new list streams afresh, from a window filled whole.
    if (streamStarted_)
        stopStream();
    fillWhole_ = true;
}

void MonitorSession::setOptions(const ProcessingOptions& options, bool incremental) {
    options_ = options;
    incremental_ = incremental;
    liveRows_.setOptions(options);
}

void MonitorSession::setLiveProcessing(LiveProcessing live) {
    if (live == live_)
        return;
    live_ = live;
    // The rows the stream draws are made afresh the other way at the next frame.
    liveRows_.renewAll();
    streamChanged_ = true;
    if (streamStarted_)
        scheduleFrame();
}

void MonitorSession::setSource(Source source, const QString& seedLinkServers) {
    if (source == source_ && seedLinkServers == servers_)
        return;
    source_ = source;
    servers_ = seedLinkServers;
    badServersSaid_ = false;
    if (streamStarted_)
        stopStream();
    fillWhole_ = true;
}

void MonitorSession::startMonitoring(int minutes) {
    monitoring_ = true;
    setMinutes(minutes);
    fillWhole_ = true;
    resetZoom_ = true;
    title_ = listTitle_;
}

void MonitorSession::stopMonitoring() {
    monitoring_ = false;
    stopStream();
    cycle_.cancel();
}

void MonitorSession::setMinutes(int minutes) {
    const int m = std::clamp(minutes, 1, kMaxMinutes);
    if (m != minutes_)
        resetZoom_ = true;
    minutes_ = m;
}

WindowRequest MonitorSession::monitorWindow(Time now) {
    made_ = WindowRequest::of(WindowRequest::Mode::Monitor,
                              civil::addSeconds(now, -60.0 * minutes_), now);
    return made_;
}

WindowRequest MonitorSession::earthquakeWindow(const SeismicOrigin& origin, double minutes) {
    const Time start = origin._origin_time().nsDate();
    made_ = WindowRequest::of(
        WindowRequest::Mode::Earthquake, start,
        civil::addSeconds(start, std::clamp(minutes, 0.0, 1.0 * kMaxMinutes) * 60.0));
    return made_;
}

QString MonitorSession::earthquakeTitle(const SeismicOrigin& origin) {
    return QStringLiteral("%1 - Magnitude: %2")
        .arg(origin.shortFERegion(), printfFixed(origin.magnitude(), 1, 3));
}

WindowRequest MonitorSession::windowOf(const QString& startText, const QString& endText, Time now,
                                       bool monitoring) const {
    WindowRequest w =
        startText == made_.startText && endText == made_.endText
            ? made_
            : WindowRequest::typed(WindowRequest::Mode::Typed, startText, endText, now);
    if (monitoring)
        w.mode = WindowRequest::Mode::Monitor;
    else if (w.mode == WindowRequest::Mode::Monitor)
        w.mode = WindowRequest::Mode::Typed;
    return w;
}

void MonitorSession::retrieve(const WindowRequest& window, const QString& title) {
    const bool sameWindow = window.startText == shown_.startText &&
                            window.endText == shown_.endText && window.mode == shown_.mode;
    shown_ = window;
    if (window.mode != WindowRequest::Mode::Monitor) {
        // An earthquake or a window of one's own: the store and the stream stay out of it.
        title_ = title;
        if (!sameWindow)
            resetZoom_ = true;
        stopStream();
        cycle_.start({channels_, window, false, false, options_, {}, false});
        return;
    }
    title_ = listTitle_;
    store_.setKeep(std::chrono::seconds(
        static_cast<long long>(std::ceil(std::max(0.0, window.seconds()) + kKeepMarginSeconds))));
    const bool stream = source_ == Source::SeedLink && monitoring_ &&
                        SeedLinkSource::parseServers(servers_).has_value();
    if (source_ == Source::SeedLink && monitoring_ && !stream &&
        !std::exchange(badServersSaid_, true))
        systemLog(QStringLiteral("SeedLink: the server %1 is not written as host:port (or a "
                                 "list of them separated by commas); the monitor polls the "
                                 "time-series service instead.")
                      .arg(quotedForLog(servers_)));
    if (stream && !streamStarted_) {
        startStream(window);
        return;
    }
    if (stream) {
        // Streaming: ask the service only for what the stream does not bring, and for a window
        // the store does not reach back to (a longer one); the streamed rows go on being drawn
        // from the store meanwhile.
        ChannelTable polled;
        for (qsizetype i = 0; i < channels_.size(); ++i) {
            const ChannelId ch = channels_.id(i);
            const auto held = store_.segments(ch, window.start, window.end);
            const bool covered =
                !held.empty() &&
                civil::secondsBetween(held.front().start, window.start) > -0.5 * held.front().delta;
            const bool refused = static_cast<std::size_t>(i) < refused_.size() &&
                                 refused_[static_cast<std::size_t>(i)];
            if (!refused && covered)
                continue;
            polled.networks << channels_.networks.value(i);
            polled.stations << channels_.stations.value(i);
            polled.channels << channels_.channels.value(i);
            polled.locations << channels_.locations.value(i);
            polled.labels << channels_.labels.value(i);
        }
        fillWhole_ = false;
        if (polled.size() > 0)
            cycle_.start({polled, window, true, incremental_, options_, {}, false});
        else
            scheduleFrame();
        return;
    }
    cycle_.start({channels_, window, true, incremental_ && !fillWhole_, options_, {}, false});
    fillWhole_ = false;
}

void MonitorSession::cancel() {
    cycle_.cancel();
}

void MonitorSession::startStream(const WindowRequest& window) {
    seedLink_.setServer(servers_);
    std::vector<ChannelRequest> requests;
    for (qsizetype i = 0; i < channels_.size(); ++i)
        requests.push_back(channelRequest(channels_, i, window.startText, window.endText));
    refused_.assign(static_cast<std::size_t>(channels_.size()), 0);
    refusedLogged_.clear();
    arrived_.clear();
    applied_.clear();
    liveRows_.reset(channels_, options_);
    streamStarted_ = fillingStream_ = true;
    streamingFrom_.clear();
    fillWhole_ = false;
    Q_EMIT indicatorChanged(QStringLiteral("● Connecting"));
    frameTimer_.start(kScrollPeriod);
    combined_.ask(std::move(requests), stream_);
}

void MonitorSession::stopStream() {
    const bool was = streamStarted_;
    stream_.abandon();
    frames_.cancel();
    frameTimer_.stop();
    streamStarted_ = fillingStream_ = streamChanged_ = false;
    refused_.clear();
    arrived_.clear();
    applied_.clear();
    liveRows_.clear();
    if (was)
        Q_EMIT indicatorChanged(QStringLiteral("● Monitoring"));
}

void MonitorSession::fillArrived(int row, std::shared_ptr<SacObject> s) {
    if (!s || row < 0 || row >= channels_.size())
        return;
    const ChannelId ch = channels_.id(row);
    store_.feed(segmentOf(ch, *s));
    if (const sac::SacHeader* h = s->GetSacHeader()) {
        frames_.rememberHeader(ch, *h);
        liveRows_.rememberHeader(row, *h);
    }
}

void MonitorSession::fillPiecesArrived(int row, std::vector<Segment> pieces) {
    if (row < 0 || row >= channels_.size())
        return;
    // The table's codes name the channel in the store, whatever the answer wrote.
    const ChannelId ch = channels_.id(row);
    for (Segment& piece : pieces) {
        piece.channel = ch;
        store_.feed(piece);
    }
}

void MonitorSession::streamArrived(int row, const Segment& segment) {
    const std::uint64_t before = store_.revision(segment.channel);
    if (store_.feed(segment)) {
        if (causal())
            liveRows_.push(row, segment, before);
        streamChanged_ = true;
        arrived_.push_back(std::chrono::steady_clock::now());
        scheduleFrame();
    }
    Q_EMIT segmentStreamed(segment);
}

void MonitorSession::streamFailed(int row, const AcquisitionFailure& failure) {
    if (row < 0 || row >= channels_.size() || failure.kind == AcquisitionFailure::Kind::Cancelled)
        return;
    const ChannelId id = channels_.id(row);
    lastFailure_.insert(id.seedId(), {datetext::now(), failure.detail});
    if (failure.kind != AcquisitionFailure::Kind::Refused) {
        // A channel the fill could not fetch, told as any retrieval tells it.
        for (const QString& line : failure.logLines)
            systemLog(line);
        systemLog(connectionProblemLine(
            channelRequest(channels_, row, shown_.startText, shown_.endText)));
        return;
    }
    refused_.resize(static_cast<std::size_t>(channels_.size()), 0);
    refused_[static_cast<std::size_t>(row)] = 1;
    // One line per refused station (or lone channel), not one per channel.
    const bool station = failure.detail.contains(u"refused station");
    const QString what = station ? id.network + u'.' + id.station : id.seedId();
    if (refusedLogged_.contains(what))
        return;
    refusedLogged_.insert(what);
    systemLog(QStringLiteral("SeedLink: %1; %2 polled from the time-series service instead.")
                  .arg(failure.detail,
                       station ? QStringLiteral("its channels are") : QStringLiteral("it is")));
}

void MonitorSession::scheduleFrame() {
    if (!streamStarted_)
        return;
    const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - lastFrame_);
    // A burst of records joins one frame; a steady stream of them still gets frames no more
    // often than the spacing.
    const auto wait = causal() ? std::max(kLiveFrameGap, kLiveFrameSpacing - since)
                               : std::max(std::chrono::milliseconds(0), kMinFrameGap - since);
    if (!frameTimer_.isActive() || frameTimer_.remainingTimeAsDuration() > wait)
        frameTimer_.start(wait);
}

void MonitorSession::frame(bool whole) {
    if (!monitoring_ || !streamStarted_)
        return;
    lastFrame_ = std::chrono::steady_clock::now();
    frameTimer_.start(kScrollPeriod);
    if (fillingStream_)
        return; // the filled window comes as one frame
    const WindowRequest window = monitorWindow(datetext::now());
    if (causal()) {
        if (whole)
            liveRows_.renewAll(); // the filled window through the chains, the stream joining it
        else if (!streamChanged_ && !liveRows_.changed()) {
            emitFrame(nullptr, window);
            return;
        }
        streamChanged_ = false;
        frames_.cancel();
        applied_.insert(applied_.end(), arrived_.begin(), arrived_.end());
        arrived_.clear();
        emitFrame(liveRows_.frame(window.start, window.end), window);
        return;
    }
    if (!whole && !streamChanged_) {
        // Nothing new: the window moves on with the present.
        emitFrame(nullptr, window);
        return;
    }
    streamChanged_ = false;
    applied_.insert(applied_.end(), arrived_.begin(), arrived_.end());
    arrived_.clear();
    frameWindow_ = window;
    frames_.start({channels_, window, true, false, options_,
                   std::vector<char>(static_cast<std::size_t>(channels_.size()), 1), !whole});
}

void MonitorSession::onCycleFinished(const std::shared_ptr<CycleResult>& result) {
    noteFailures(*result);
    if (shown_.mode == WindowRequest::Mode::Monitor && streamStarted_) {
        // A poll while streaming: its answers are in the store, and a redraw shows them.
        streamChanged_ = true;
        frame(false);
        return;
    }
    emitFrame(result, shown_);
}

void MonitorSession::onFramesFinished(const std::shared_ptr<CycleResult>& result) {
    emitFrame(result, frameWindow_);
}

void MonitorSession::noteFailures(const CycleResult& result) {
    for (const ChannelFailure& f : result.failures)
        if (f.failure.kind != AcquisitionFailure::Kind::Cancelled && !f.fromStore)
            lastFailure_.insert(f.channel.seedId(), {datetext::now(), f.failure.detail});
}

void MonitorSession::emitFrame(const std::shared_ptr<CycleResult>& result,
                               const WindowRequest& window) {
    auto f = std::make_shared<SessionFrame>();
    f->result = result;
    f->window = window;
    f->title = title_;
    f->monitoring = window.mode == WindowRequest::Mode::Monitor;
    f->resetZoom = std::exchange(resetZoom_, false);
    f->rows = rowStates(window);
    Q_EMIT frameReady(f);
}

std::vector<RowState> MonitorSession::rowStates(const WindowRequest& window) const {
    std::vector<RowState> rows(static_cast<std::size_t>(channels_.size()));
    const bool monitor = window.mode == WindowRequest::Mode::Monitor;
    for (qsizetype i = 0; i < channels_.size(); ++i) {
        RowState& row = rows[static_cast<std::size_t>(i)];
        const ChannelId id = channels_.id(i);
        const auto failure = lastFailure_.find(id.seedId());
        if (failure != lastFailure_.end())
            row.failure = failure->second;
        if (!monitor)
            continue;
        const auto health = traceHealth(store_, id, window.start, window.end, kSilentSeconds);
        if (!health) {
            row.silent = true;
            continue;
        }
        row.silent = health->silent;
        row.health = health->text();
        if (failure != lastFailure_.end() && failure->first >= window.start)
            row.health += QStringLiteral("; last failure: ") + failure->second;
    }
    return rows;
}

void MonitorSession::framePainted() {
    const auto now = std::chrono::steady_clock::now();
    for (const auto& t : applied_) {
        if (latencies_.size() >= kMaxLatencies)
            latencies_.erase(latencies_.begin());
        latencies_.push_back(std::chrono::duration<double, std::milli>(now - t).count());
    }
    applied_.clear();
}
