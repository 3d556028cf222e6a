// The SeedLink stream: the source choice, the backfill hand-over, redraws and per-row health.
#include "app/groundswayController.h"

#include "acquisition/QueryUrl.h"
#include "acquisition/RetrievalCycle.h"
#include "acquisition/StreamState.h"
#include "acquisition/TraceHealth.h"
#include "base/DateText.h"
#include "base/SystemLog.h"
#include "channels/ChannelTable.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "store/TraceStore.h"

#include <QComboBox>
#include <QLineEdit>


void groundswayController::setUpStream() {
    if (stream_) {
        // Called again once the window exists: its paints end the records' way to the screen.
        if (QuilmRealTimeDisplayView02* view = o_.seisView)
            connect(view, &QuilmRealTimeDisplayView02::painted, this, [this] {
                StreamState& st = *stream_;
                const auto now = StreamState::Clock::now();
                for (const auto& t : st.applied) {
                    if (st.latencies.size() >= StreamState::kMaxLatencies)
                        st.latencies.erase(st.latencies.begin());
                    st.latencies.push_back(
                        std::chrono::duration<double, std::milli>(now - t).count());
                }
                st.applied.clear();
            });
        return;
    }
    stream_ = std::make_unique<StreamState>();
    StreamState& s = *stream_;
    s.frame.setSingleShot(true);
    connect(&s.frame, &QTimer::timeout, this, &groundswayController::streamFrame);
    connect(&s.source, &WaveformSource::segmentReceived, this,
            [this](quint64 request, int, const Segment& segment) {
                StreamState& st = *stream_;
                if (request != st.request || !st.on)
                    return;
                if (store_->feed(segment)) {
                    st.changed = true;
                    st.arrived.push_back(StreamState::Clock::now());
                    scheduleStreamFrame();
                }
                streamToHelicorder(segment);
            });
    connect(&s.source, &WaveformSource::channelFailed, this,
            [this](quint64 request, int row, const AcquisitionFailure& failure) {
                StreamState& st = *stream_;
                if (request != st.request || row < 0 || row >= theStations_->size())
                    return;
                st.refused.resize(static_cast<std::size_t>(theStations_->size()), 0);
                st.refused[static_cast<std::size_t>(row)] = 1;
                const ChannelTable table{*theNetworks_, *theStations_, *theChannels_,
                                         *theChannelCodes_, *theLabels_};
                lastFailure_.insert(table.id(row).seedId(), {datetext::now(), failure.detail});
                // One line per refused station (or lone channel), not one per channel.
                const ChannelId id = table.id(row);
                const bool station = failure.detail.contains(u"refused station");
                const QString what = station ? id.network + u'.' + id.station : id.seedId();
                if (st.refusedLogged.contains(what))
                    return;
                st.refusedLogged.insert(what);
                systemLog(QStringLiteral("SeedLink: %1; %2 polled from the time-series service "
                                         "instead.")
                              .arg(failure.detail, station ? QStringLiteral("its channels are")
                                                           : QStringLiteral("it is")));
            });
    connect(&s.source, &SeedLinkSource::linkChanged, this,
            [this](SeedLinkSource::Link link, const QString& why, const QString& server) {
                if (link == SeedLinkSource::Link::Streaming) {
                    systemLog(QStringLiteral("SeedLink: streaming from %1.").arg(server));
                    if (o_.monitorIndicatorTField)
                        o_.monitorIndicatorTField->setText(QStringLiteral("● Streaming"));
                } else if (link == SeedLinkSource::Link::Lost) {
                    systemLog(QStringLiteral("SeedLink: lost the connection to %1 (%2); "
                                             "connecting again.")
                                  .arg(server, why));
                    if (o_.monitorIndicatorTField)
                        o_.monitorIndicatorTField->setText(QStringLiteral("○ Reconnecting"));
                } else if (link == SeedLinkSource::Link::Refused) {
                    // Every row is polled from the time-series service now.
                    const QString line = QStringLiteral("SeedLink: ") + why;
                    systemLog(line + u'.');
                    if (o_.monitorIndicatorTField)
                        o_.monitorIndicatorTField->setText(line);
                }
            });
}

bool groundswayController::streamChosen() const {
    return defaults_.stringForKey(QStringLiteral("dataSource")) == u"seedLink";
}

bool groundswayController::streaming() const {
    return stream_->on && stream_->started;
}

SeedLinkSource* groundswayController::seedLinkSource() const {
    return &stream_->source;
}

const std::vector<double>& groundswayController::arrivalToPixelsMs() const {
    return stream_->latencies;
}

void groundswayController::setDataSource(QObject* sender) {
    const auto* popup = qobject_cast<const QComboBox*>(sender);
    if (!popup)
        return;
    const bool stream = popup->currentIndex() == 1;
    if (stream == streamChosen())
        return;
    defaults_.setObject(stream ? QStringLiteral("seedLink") : QStringLiteral("webService"),
                        QStringLiteral("dataSource"));
    // A running monitor changes over at once.
    if (theSeismgrmUpdateTimer_) {
        toggleAutoUpdate(nullptr);
        toggleAutoUpdate(nullptr);
    }
}

void groundswayController::startStream() {
    StreamState& s = *stream_;
    const QString server = o_.seedLinkServerTField
                               ? o_.seedLinkServerTField->text()
                               : defaults_.stringForKey(QStringLiteral("seedLinkServer"));
    if (!s.source.setServer(server)) {
        systemLog(QStringLiteral("SeedLink: the server %1 is not written as host:port (or a list "
                                 "of them separated by commas); the monitor polls the "
                                 "time-series service instead.")
                      .arg(quotedForLog(server)));
        s.on = false;
        return;
    }
    const ChannelTable table{*theNetworks_, *theStations_, *theChannels_, *theChannelCodes_,
                             *theLabels_};
    const QString endText = o_.endTField ? o_.endTField->text() : QString();
    const auto windowStart = datetext::parseRequestTime(o_.startTField ? o_.startTField->text() : QString());
    // From where the backfill stopped: the earliest end held, so no channel misses a sample
    // (what a channel already holds arrives again and is dropped as a repeat).
    std::optional<Time> from;
    for (qsizetype i = 0; i < table.size(); ++i) {
        const auto end = store_->end(table.id(i));
        const auto start = end ? end : windowStart;
        if (start && (!from || *start < *from))
            from = start;
    }
    const QString startText = from ? datetext::requestTime(*from) : QString();
    std::vector<ChannelRequest> requests;
    for (qsizetype i = 0; i < table.size(); ++i)
        requests.push_back(channelRequest(table, i, startText, endText));
    s.refused.assign(static_cast<std::size_t>(table.size()), 0);
    s.refusedLogged.clear();
    s.arrived.clear();
    s.applied.clear();
    s.started = true;
    s.request = s.source.request(std::move(requests));
    if (o_.monitorIndicatorTField)
        o_.monitorIndicatorTField->setText(QStringLiteral("● Connecting"));
    s.frame.start(StreamState::kScrollPeriod);
}

void groundswayController::stopStream() {
    StreamState& s = *stream_;
    if (s.request != 0)
        s.source.cancel(s.request);
    s.request = 0;
    s.on = s.started = s.changed = s.frameCycle = false;
    s.frame.stop();
    s.arrived.clear();
    s.applied.clear();
    s.refused.clear();
    if (o_.monitorIndicatorTField)
        o_.monitorIndicatorTField->setText(QStringLiteral("● Monitoring"));
}

void groundswayController::scheduleStreamFrame() {
    StreamState& s = *stream_;
    const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(
        StreamState::Clock::now() - s.lastFrame);
    const auto wait = std::max(std::chrono::milliseconds(0), StreamState::kMinFrameGap - since);
    if (!s.frame.isActive() || s.frame.remainingTimeAsDuration() > wait)
        s.frame.start(wait);
}

void groundswayController::streamFrame() {
    StreamState& s = *stream_;
    if (!streaming() || !theSeismgrmUpdateTimer_)
        return;
    s.lastFrame = StreamState::Clock::now();
    s.frame.start(StreamState::kScrollPeriod);
    if (s.changed && !cycle_->isRunning() && !tickWaitingForCatalogue_) {
        // The channels with new samples are processed again; the rest keep their traces.
        s.changed = false;
        s.applied.insert(s.applied.end(), s.arrived.begin(), s.arrived.end());
        s.arrived.clear();
        s.frameCycle = true;
        lastNMinutes(nullptr);
        s.frameCycle = false;
        return;
    }
    // Nothing new: the window moves on with the present.
    if (QuilmRealTimeDisplayView02* view = o_.seisView) {
        view->setRefDate(datetext::now());
        view->setXLimitsMin(static_cast<float>(checkedNumber(o_.monitorRequestDurationTField,
                                                             "monitorDurationMinutes", 1,
                                                             kMaxWindowMinutes, 60)) *
                                -60.0f,
                            0.0f);
        updateTraceContext();
    }
}

QString groundswayController::healthNote(int row, bool* silent) const {
    *silent = false;
    if (!theSeismgrmUpdateTimer_ || !cycleMonitor_ || row < 0 || row >= theStations_->size())
        return QString();
    const ChannelTable table{*theNetworks_, *theStations_, *theChannels_, *theChannelCodes_,
                             *theLabels_};
    const ChannelId id = table.id(row);
    // The window as drawn: the view's axis ends at its reference date.
    const Time now = o_.seisView && o_.seisView->refDate() ? *o_.seisView->refDate() : datetext::now();
    const double window = -static_cast<double>(cycleAxisMinimum_);
    const auto health = traceHealth(*store_, id, civil::addSeconds(now, -window), now, kSilentSeconds);
    if (!health) {
        *silent = true;
        return QString();
    }
    *silent = health->silent;
    QString note = health->text();
    const auto failure = lastFailure_.find(id.seedId());
    if (failure != lastFailure_.end() && failure->first >= civil::addSeconds(now, -window))
        note += QStringLiteral("; last failure: ") + failure->second;
    return note;
}
