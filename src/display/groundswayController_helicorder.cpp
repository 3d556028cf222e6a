// The helicorder: one channel of the list on a drum of up to two days, filled in hourly pieces,
// processed block by block off the GUI thread on one common scale, and kept up to date.
#include "app/groundswayController.h"

#include "acquisition/MonitorSession.h"
#include "app/HelicorderWindow.h"
#include "app/MonitorControls.h"
#include "app/SettingsReader.h"
#include "app/Snapshot.h"
#include "app/WindowPlacement.h"
#include "base/DateText.h"
#include "base/Time.h"
#include "components/HelicorderView.h"
#include "components/NEIC_QueryController.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "display/DrumSession.h"

#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>

HelicorderView* groundswayController::helicorderView() const {
    return o_.helicorderWindow ? o_.helicorderWindow->view : nullptr;
}

bool groundswayController::helicorderSettled() const {
    return !drum_ ||
           (drum_->settled() && !(neicQueryController_ && neicQueryController_->isLoading()));
}

void groundswayController::setUpHelicorder() {
    HelicorderWindow* w = o_.helicorderWindow;
    if (!w)
        return;
    drum_ = std::make_unique<DrumSession>(session_->timeSeries(), *places_);
    drum_->setInline(inline_);
    // A streamed piece of the drum's channel goes onto it as well.
    connect(session_.get(), &MonitorSession::segmentStreamed, drum_.get(), &DrumSession::streamed);
    w->follow(*drum_, defaults_, *settings_, [this] { startHelicorder(); });
    connect(w->saveButton, &QPushButton::clicked, this, [this] { saveHelicorderImage(); });
    connect(w->view, &HelicorderView::spanChosen, this,
            [this](Time from, Time to) { openSpanInSeismogramWindow(from, to); });
    connect(neicQueryController_.get(), &NEIC_QueryController::listLoaded, this,
            [this] { updateHelicorderMarks(); });
    fillHelicorderChannels();
}

void groundswayController::fillHelicorderChannels() {
    HelicorderWindow* w = o_.helicorderWindow;
    if (!w)
        return;
    const ChannelTable table = channelTable();
    QStringList codes;
    for (qsizetype i = 0; i < theStations_->size(); ++i)
        codes << table.id(i).seedId();
    w->offerChannels(codes, defaults_.objectForKey(QStringLiteral("helicorderChannel")).toString());
}

void groundswayController::showHelicorderWindow(QObject*) {
    if (!o_.helicorderWindow)
        return;
    fillHelicorderChannels();
    placement::bringToFront(o_.helicorderWindow);
    if (!drum_->active())
        startHelicorder();
}

void groundswayController::startHelicorder() {
    HelicorderWindow* w = o_.helicorderWindow;
    if (!w || !drum_)
        return;
    const auto channel = ChannelId::fromSeedId(w->channelPopUp->currentText());
    if (!channel)
        return drum_->stop(tr("Choose a channel of the list for the drum."));
    // The earthquakes to mark come with the catalogue; it is asked for when nothing is loaded.
    if (neicQueryController_ && neicQueryController_->seismicOrigins().empty() &&
        !neicQueryController_->isLoading())
        loadNEICInfo(nullptr);
    configureSession();
    drum_->setStationService(settings_->stationBase(), settings_->transferOptions(http_));
    drum_->setPeriod(settings_->drumPeriod());
    updateHelicorderMarks();
    drum_->start(*channel, w->hoursBox->value(), w->rowMinutesPopUp->currentData().toInt(),
                 processingOptions(), datetext::now());
}

void groundswayController::refreshHelicorder() {
    if (!drum_)
        return;
    configureSession();
    drum_->refresh(datetext::now());
}

void groundswayController::updateHelicorderMarks() {
    if (!drum_ || !neicQueryController_)
        return;
    drum_->setOrigins(neicQueryController_->seismicOrigins(), travelTimeModel());
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
    monitorcontrols::showWindowTimes(o_, WindowRequest::of(WindowRequest::Mode::Typed, from, to));
    retrieveSeismograms(this);
    placement::bringToFront(o_.seismogramWindow);
}

bool groundswayController::writeHelicorderImage(const QString& path, QSize size, QString* why) {
    if (o_.helicorderWindow)
        return o_.helicorderWindow->writeImage(path, size, why);
    if (why)
        *why = QStringLiteral("there is no helicorder");
    return false;
}

void groundswayController::saveHelicorderImage(QObject*) {
    if (o_.helicorderWindow)
        o_.helicorderWindow->saveImage();
}

void groundswayController::takeHelicorderSnapshot(const QString& path, QSize size,
                                                  const ChannelId& channel,
                                                  std::function<void(int)> done) {
    HelicorderWindow* w = o_.helicorderWindow;
    if (!w || !drum_)
        return done(1);
    w->choose(channel.seedId());
    startHelicorder();
    // Settled means the drum and the catalogue whose earthquakes it marks.
    drum_->whenSettled([this, path, size, done] {
        snapshot::afterCatalogue(neicQueryController_.get(), this, [this, path, size, done] {
            snapshot::finish(done, helicorderView()->hasSamples(),
                             QStringLiteral("no data arrived for the helicorder; the system log "
                                            "on standard error names each failed request"),
                             [&](QString* why) { return writeHelicorderImage(path, size, why); });
        });
    });
}
