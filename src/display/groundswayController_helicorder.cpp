// The helicorder: one channel of the list on a drum of up to two days, filled in hourly pieces,
// processed block by block off the GUI thread on one common scale, and kept up to date.
#include "app/groundswayController.h"

#include "acquisition/MonitorSession.h"

#include "app/ControlValues.h"
#include "acquisition/TimeSeriesSource.h"
#include "app/ExportFailure.h"
#include "app/HelicorderWindow.h"
#include "app/ImageExport.h"
#include "app/SaveImageDialog.h"
#include "base/DateText.h"
#include "base/SystemLog.h"
#include "base/Time.h"
#include "channels/StationLocator.h"
#include "components/HelicorderView.h"
#include "components/NEIC_QueryController.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "display/HelicorderState.h"
#include "geo/Geodesy.h"
#include "geo/TravelTimes.h"
#include "processing/DrumProcessing.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>

#include <cmath>

namespace {

constexpr double kBlockSeconds = DrumFeed::kPieceSeconds;

Time blockOf(Time t) {
    const double s = std::chrono::duration<double>(t.time_since_epoch()).count();
    return civil::addSeconds(Time{}, std::floor(s / kBlockSeconds) * kBlockSeconds);
}

// The newest blocks' drawing changes from this long before the previous end of the data on:
// the taper the chain puts at the end of what it processes, and a minute more.
constexpr double kRedrawBeforeEnd = 0.05 * (kBlockSeconds + 2 * drum::kMarginSeconds) + 60;

QString spanText(Time from, Time to) {
    return QStringLiteral("%1 to %2").arg(datetext::urlTime(from), datetext::urlTime(to));
}

} // namespace

HelicorderView* groundswayController::helicorderView() const {
    return o_.helicorderWindow ? o_.helicorderWindow->view : nullptr;
}

bool groundswayController::helicorderSettled() const {
    return !drum_ || !drum_->active ||
           (!drum_->feed.isBusy() && drum_->pending.empty() && !drum_->running &&
            !drum_->placeLookup.isRunning() &&
            !(neicQueryController_ && neicQueryController_->isLoading()));
}

void groundswayController::setUpHelicorder() {
    HelicorderWindow* w = o_.helicorderWindow;
    if (!w)
        return;
    drum_ = std::make_unique<HelicorderState>(session_->timeSeries());
    HelicorderState& d = *drum_;
    d.worker.setInline(inline_);
    d.placeLookup.setInline(inline_);
    w->hoursBox->setValue(std::clamp(defaults_.objectForKey(QStringLiteral("helicorderHours")).toInt(), 1, 48));
    const int minutes = defaults_.objectForKey(QStringLiteral("helicorderRowMinutes")).toInt();
    w->rowMinutesPopUp->setCurrentIndex(std::max(0, w->rowMinutesPopUp->findData(minutes)));
    w->gainSlider->setValue(
        std::clamp(defaults_.objectForKey(QStringLiteral("helicorderGain")).toInt(), 1, 250));
    w->clipBox->setChecked(defaults_.boolForKey(QStringLiteral("helicorderClip")));
    w->view->setGain(w->gainSlider->value() / 25.0);
    w->view->setClip(w->clipBox->isChecked());

    connect(&d.feed, &DrumFeed::stored, this, [this](TimeSpan span) { helicorderStored(span); });
    connect(&d.feed, &DrumFeed::pieceFailed, this, [this](TimeSpan span, const AcquisitionFailure& f) {
        ++drum_->piecesFailed;
        drum_->lastFailure = QStringLiteral("%1: %2").arg(spanText(span.from, span.to), f.detail);
        systemLog(QStringLiteral("Helicorder: no data for %1 from %2")
                      .arg(drum_->channel.seedId(), drum_->lastFailure));
        updateHelicorderStatus();
    });
    connect(&d.feed, &DrumFeed::idle, this, [this] { helicorderStepDone(); });
    connect(&d.timer, &QTimer::timeout, this, [this] { refreshHelicorder(); });
    connect(w->channelPopUp, &QComboBox::activated, this, [this] {
        defaults_.setObject(o_.helicorderWindow->channelPopUp->currentText(),
                            QStringLiteral("helicorderChannel"));
        startHelicorder();
    });
    connect(w->hoursBox, &QSpinBox::valueChanged, this, [this](int hours) {
        defaults_.setObject(hours, QStringLiteral("helicorderHours"));
        if (drum_->active)
            startHelicorder();
    });
    connect(w->rowMinutesPopUp, &QComboBox::activated, this, [this] {
        defaults_.setObject(o_.helicorderWindow->rowMinutesPopUp->currentData().toInt(),
                            QStringLiteral("helicorderRowMinutes"));
        if (drum_->active)
            startHelicorder();
    });
    connect(w->gainSlider, &QSlider::valueChanged, this, [this](int value) {
        defaults_.setObject(value, QStringLiteral("helicorderGain"));
        helicorderView()->setGain(value / 25.0);
    });
    connect(w->clipBox, &QCheckBox::toggled, this, [this](bool on) {
        defaults_.setObject(on, QStringLiteral("helicorderClip"));
        helicorderView()->setClip(on);
    });
    connect(w->saveButton, &QPushButton::clicked, this, [this] { saveHelicorderImage(); });
    connect(w->view, &HelicorderView::spanChosen, this,
            [this](Time from, Time to) { openSpanInSeismogramWindow(from, to); });
    connect(neicQueryController_.get(), &NEIC_QueryController::listLoaded, this, [this] {
        updateHelicorderMarks();
        helicorderStepDone();
    });
    fillHelicorderChannels();
}

void groundswayController::fillHelicorderChannels() {
    HelicorderWindow* w = o_.helicorderWindow;
    if (!w)
        return;
    const QString current = w->channelPopUp->currentText().isEmpty()
                                ? defaults_.objectForKey(QStringLiteral("helicorderChannel")).toString()
                                : w->channelPopUp->currentText();
    w->channelPopUp->clear();
    for (qsizetype i = 0; i < theStations_->size(); ++i) {
        const ChannelId id{theNetworks_->value(i), theStations_->value(i), theChannelCodes_->value(i),
                           theChannels_->value(i)};
        if (w->channelPopUp->findText(id.seedId()) < 0)
            w->channelPopUp->addItem(id.seedId());
    }
    w->channelPopUp->setCurrentIndex(std::max(0, w->channelPopUp->findText(current)));
}

void groundswayController::showHelicorderWindow(QObject*) {
    if (!o_.helicorderWindow)
        return;
    fillHelicorderChannels();
    showWindow(o_.helicorderWindow);
    if (!drum_->active)
        startHelicorder();
}

std::optional<ChannelId> groundswayController::helicorderChannel() const {
    const QString code = o_.helicorderWindow ? o_.helicorderWindow->channelPopUp->currentText()
                                             : QString();
    return ChannelId::fromSeedId(code);
}

void groundswayController::startHelicorder() {
    HelicorderWindow* w = o_.helicorderWindow;
    if (!w || !drum_)
        return;
    HelicorderState& d = *drum_;
    d.feed.stop();
    d.worker.cancel();
    d.pending.clear();
    d.running.reset();
    d.stats.clear();
    d.previousEnd.reset();
    d.piecesFailed = 0;
    d.lastFailure.clear();
    w->view->clearBlocks();
    const auto channel = helicorderChannel();
    if (!channel) {
        d.active = false;
        d.timer.stop();
        w->view->setPlaceholder(tr("Choose a channel of the list for the drum."));
        updateHelicorderStatus();
        return;
    }
    if (!(channel == d.channel))
        d.store.forget(d.channel);
    d.channel = *channel;
    d.active = true;
    d.loading = true;
    const int hours = w->hoursBox->value();
    d.store.setKeep(std::chrono::seconds(hours * 3600 + 2 * static_cast<int>(kBlockSeconds)));
    d.rows = HelicorderView::Rows::ending(datetext::now(), hours,
                                         w->rowMinutesPopUp->currentData().toInt());
    w->view->setRows(d.rows);
    w->view->setTitle(QStringLiteral("%1   %2 to %3 UTC")
                          .arg(d.channel.seedId(),
                               datetext::description(d.rows.first).left(16),
                               datetext::description(d.rows.end()).left(16)));
    w->view->setPlaceholder(tr("Fetching %1 hours of %2...").arg(hours).arg(d.channel.seedId()));
    // The earthquakes to mark come with the catalogue; it is asked for when nothing is loaded.
    if (neicQueryController_ && neicQueryController_->seismicOrigins().empty() &&
        !neicQueryController_->isLoading())
        loadNEICInfo(nullptr);
    updateHelicorderMarks();
    locateHelicorderStation();
    // Every piece the store lacks, with the margin the first block's filter needs.
    session_->timeSeries().setServiceBase(
        checkedServiceBase(o_.timeSeriesServiceURLTField, "timeSeriesServiceURL"));
    session_->timeSeries().setHttpOptions(transferOptions());
    session_->timeSeries().setMaxConcurrentTransfers(maxConcurrentDownloads());
    // What the store already holds is processed at once; the feed adds the rest.
    if (const auto held = d.store.end(d.channel))
        for (Time b = blockOf(d.rows.first); b < std::min(*held, d.rows.end());
             b = civil::addSeconds(b, kBlockSeconds))
            d.pending.insert(b);
    d.feed.fill(d.channel, civil::addSeconds(d.rows.first, -drum::kMarginSeconds), datetext::now());
    d.timer.start(static_cast<int>(1000 * checkedNumber(o_.updateIntervalTField, "updateIntervalSeconds", 10,
                                                        86400, 120, true)));
    processNextDrumBlock();
    updateHelicorderStatus();
}

void groundswayController::refreshHelicorder() {
    if (!drum_ || !drum_->active)
        return;
    HelicorderState& d = *drum_;
    HelicorderWindow* w = o_.helicorderWindow;
    const Time now = datetext::now();
    const auto rows = HelicorderView::Rows::ending(now, w->hoursBox->value(),
                                                   w->rowMinutesPopUp->currentData().toInt());
    if (!(rows.first == d.rows.first)) {
        // The drum moves on by a row: the oldest goes, the scale is taken afresh.
        d.rows = rows;
        w->view->setRows(rows);
        w->view->dropBlocksBefore(civil::addSeconds(rows.first, -kBlockSeconds));
        for (auto it = d.stats.begin(); it != d.stats.end();)
            it = civil::addSeconds(it->first, kBlockSeconds) <= rows.first ? d.stats.erase(it) : std::next(it);
        applyHelicorderScale();
        updateHelicorderMarks();
        w->view->setTitle(QStringLiteral("%1   %2 to %3 UTC")
                              .arg(d.channel.seedId(), datetext::description(rows.first).left(16),
                                   datetext::description(rows.end()).left(16)));
    }
    session_->timeSeries().setServiceBase(
        checkedServiceBase(o_.timeSeriesServiceURLTField, "timeSeriesServiceURL"));
    session_->timeSeries().setHttpOptions(transferOptions());
    d.feed.extend(civil::addSeconds(d.rows.first, -drum::kMarginSeconds), now);
}

void groundswayController::streamToHelicorder(const Segment& segment) {
    // The store puts each piece where it belongs, so a streamed one may land ahead of those the
    // feed still fetches.
    if (!drum_ || !drum_->active || !(segment.channel == drum_->channel))
        return;
    if (drum_->store.feed(segment))
        helicorderStored({segment.start, segment.end()});
}

void groundswayController::helicorderStored(TimeSpan span) {
    HelicorderState& d = *drum_;
    // Every block whose margins reach the new samples is processed again.
    for (Time b = blockOf(civil::addSeconds(span.from, -drum::kMarginSeconds));
         b < civil::addSeconds(span.to, drum::kMarginSeconds); b = civil::addSeconds(b, kBlockSeconds)) {
        if (civil::addSeconds(b, kBlockSeconds) <= civil::addSeconds(d.rows.first, 0) ||
            b >= d.rows.end())
            continue;
        d.pending.insert(b);
    }
    processNextDrumBlock();
}

void groundswayController::processNextDrumBlock() {
    HelicorderState& d = *drum_;
    if (d.running || d.pending.empty())
        return;
    const auto end = d.store.end(d.channel);
    const Time b = *d.pending.begin();
    d.pending.erase(d.pending.begin());
    const Time blockEnd = civil::addSeconds(b, kBlockSeconds);
    if (!end || *end <= civil::addSeconds(b, -drum::kMarginSeconds)) {
        processNextDrumBlock();
        return;
    }
    const Time rawTo = std::min(*end, civil::addSeconds(blockEnd, drum::kMarginSeconds));
    auto raw = d.store.segments(d.channel, civil::addSeconds(b, -drum::kMarginSeconds), rawTo);
    if (raw.empty()) {
        processNextDrumBlock();
        return;
    }
    d.running = b;
    const ProcessingOptions options = processingOptions();
    // The newest block redraws only from a little before where the data ended last time.
    std::optional<Time> changedFrom;
    if (!d.loading && d.previousEnd && *d.previousEnd > b)
        changedFrom = civil::addSeconds(*d.previousEnd, -kRedrawBeforeEnd);
    d.worker.run(
        [raw = std::move(raw), b, blockEnd, options](const std::atomic<bool>&) {
            return drum::process(raw, b, blockEnd, options);
        },
        [this, changedFrom, end = *end](drum::Block block) {
            HelicorderState& st = *drum_;
            st.running.reset();
            st.stats[block.from] = {block.sumSquares, block.count};
            helicorderView()->setBlock(block.from, block.to, std::move(block.runs), changedFrom);
            if (st.pending.empty() && !st.feed.isBusy())
                st.previousEnd = end;
            if (st.loading)
                applyHelicorderScale();
            processNextDrumBlock();
            helicorderStepDone();
        });
}

void groundswayController::applyHelicorderScale() {
    HelicorderState& d = *drum_;
    double sum = 0;
    std::size_t n = 0;
    for (const auto& [from, s] : d.stats) {
        if (civil::addSeconds(from, kBlockSeconds) <= d.rows.first)
            continue;
        sum += s.sumSquares;
        n += s.count;
    }
    if (n > 0)
        helicorderView()->setCommonRms(std::sqrt(sum / static_cast<double>(n)));
}

void groundswayController::helicorderStepDone() {
    if (!drum_)
        return;
    updateHelicorderStatus();
    if (!helicorderSettled())
        return;
    HelicorderState& d = *drum_;
    if (d.loading) {
        d.loading = false;
        d.previousEnd = d.store.end(d.channel);
        applyHelicorderScale();
    }
    if (auto settled = std::exchange(d.onSettled, nullptr))
        settled();
}

void groundswayController::updateHelicorderStatus() {
    HelicorderWindow* w = o_.helicorderWindow;
    if (!w || !drum_)
        return;
    const HelicorderState& d = *drum_;
    if (!d.active) {
        w->statusLabel->clear();
        return;
    }
    QString text = tr("%1: %2 rows of %3 min").arg(d.channel.seedId()).arg(d.rows.count).arg(d.rows.seconds / 60);
    if (const auto end = d.store.end(d.channel))
        text += tr("; data up to %1 UTC").arg(datetext::description(*end).mid(11, 8));
    if (!helicorderSettled())
        text += tr("; fetching and processing...");
    if (d.piecesFailed > 0)
        text += tr("; %n piece(s) failed, last %1", nullptr, d.piecesFailed).arg(d.lastFailure);
    w->statusLabel->setText(text);
    if (!d.store.end(d.channel) && helicorderSettled())
        w->view->setPlaceholder(tr("No data arrived for %1. Window \u2192 System Log names each failed request.")
                                    .arg(d.channel.seedId()));
}

void groundswayController::updateHelicorderMarks() {
    if (!drum_ || !drum_->active || !helicorderView() || !neicQueryController_)
        return;
    const HelicorderState& d = *drum_;
    std::vector<HelicorderView::Mark> marks;
    const auto place = stationPlaces_.find(d.channel.network + u'.' + d.channel.station);
    const QString modelName = actions_.travelTimeModelPopUp ? actions_.travelTimeModelPopUp->currentText()
                                                            : QStringLiteral("iasp91");
    const auto model = geo::TravelTimes::model(modelName.toStdString());
    for (const SeismicOrigin& o : neicQueryController_->seismicOrigins()) {
        if (o.originTime < civil::addSeconds(d.rows.first, -3600) || o.originTime >= d.rows.end())
            continue;
        marks.push_back({o.originTime, QStringLiteral("M%1").arg(o.mag, 0, 'f', 1), QColor(200, 0, 0)});
        if (place == stationPlaces_.end() || !model)
            continue;
        const auto b = geo::bearing(o.latitude, o.longitude, place->latitude, place->longitude);
        if (!b)
            continue;
        const double depth = std::clamp(o.depthKm.value_or(10.0), 0.0, geo::TravelTimes::kMaxSourceDepth);
        const auto first = model->arrivals(depth, b->degrees, {"P", "Pdiff", "PKP", "PKIKP"});
        if (!first.empty())
            marks.push_back({civil::addSeconds(o.originTime, first.front().seconds),
                             QString::fromStdString(first.front().phase), QColor(0, 114, 178)});
    }
    helicorderView()->setMarks(std::move(marks));
}

void groundswayController::locateHelicorderStation() {
    HelicorderState& d = *drum_;
    const QString key = d.channel.network + u'.' + d.channel.station;
    if (stationPlaces_.contains(key) || placesAsked_.contains(key))
        return;
    const QString base = checkedServiceBase(o_.stationServiceURLTField, "stationServiceURL");
    const QString query = inventory::stationPlaceQuery(base, {key});
    if (query.isEmpty() || base.isEmpty())
        return;
    placesAsked_.insert(key);
    const HttpOptions options = transferOptions();
    d.placeLookup.run(
        [query, key, options](const std::atomic<bool>& cancelled) {
            HttpOptions o = options;
            o.cancel = &cancelled;
            return inventory::lookUpPlaces(query, {key}, o);
        },
        [this](inventory::PlaceAnswer answer) {
            for (auto it = answer.places.begin(); it != answer.places.end(); ++it)
                stationPlaces_.insert(it.key(), it.value());
            if (!answer.places.isEmpty())
                updateHelicorderMarks();
            helicorderStepDone();
        });
}

void groundswayController::openSpanInSeismogramWindow(Time from, Time to) {
    if (!o_.startTField || !o_.endTField)
        return;
    if (theSeismgrmUpdateTimer_)
        toggleAutoUpdate(this);
    eventOrigin_.reset();
    // The earthquakes the drum marks are marked on the traces too.
    if (o_.seisView && neicQueryController_)
        o_.seisView->setEventOrigins(neicQueryController_->seismicOrigins());
    o_.startTField->setText(datetext::requestTime(from));
    o_.endTField->setText(datetext::requestTime(to));
    if (o_.seisServerMatrix)
        if (QAbstractButton* chosen = o_.seisServerMatrix->button(10))
            chosen->setChecked(true);
    retrieveSeismograms(this);
    showWindow(o_.seismogramWindow);
}

bool groundswayController::writeHelicorderImage(const QString& path, QSize size, QString* why) {
    HelicorderView* view = helicorderView();
    if (!view) {
        if (why)
            *why = QStringLiteral("there is no helicorder");
        return false;
    }
    return imageexport::write(
        path, size, [view](QPainter& p, QSize s) { view->render(p, s); }, view->title(), why);
}

void groundswayController::saveHelicorderImage(QObject*) {
    const QSize size = helicorderView()->size().isValid() ? helicorderView()->size() : QSize(1600, 1000);
    SaveImageDialog dialog(o_.helicorderWindow, tr("Save Helicorder Image"),
                           QDir::homePath() + QStringLiteral("/helicorder.png"), size);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QString why;
    if (!writeHelicorderImage(dialog.chosenPath(), dialog.imageSize(), &why))
        reportExportFailure(o_.helicorderWindow, tr("The helicorder image was not saved"), why);
}

void groundswayController::takeHelicorderSnapshot(const QString& path, QSize size, const ChannelId& channel,
                                                  std::function<void(int)> done) {
    HelicorderWindow* w = o_.helicorderWindow;
    if (!w || !drum_)
        return done(1);
    if (w->channelPopUp->findText(channel.seedId()) < 0)
        w->channelPopUp->addItem(channel.seedId());
    w->channelPopUp->setCurrentIndex(w->channelPopUp->findText(channel.seedId()));
    drum_->onSettled = [this, path, size, done] {
        auto fail = [done](const QString& why) {
            const QByteArray text = QStringLiteral("groundsway: %1\n").arg(why).toLocal8Bit();
            std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stderr);
            done(1);
        };
        if (!helicorderView()->hasSamples())
            return fail(QStringLiteral("no data arrived for the helicorder; the system log on "
                                       "standard error names each failed request"));
        QString why;
        if (!writeHelicorderImage(path, size, &why))
            return fail(why);
        done(0);
    };
    startHelicorder();
    helicorderStepDone();
}
