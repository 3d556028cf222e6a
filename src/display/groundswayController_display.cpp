// Auto-update and the display controls; looking closer and keeping what is on screen: amplitude
// modes, zoom and the present, full screen, the system log window, the trace inspector, image
// and seismogram export, snapshots.
#include "app/groundswayController.h"

#include "acquisition/MonitorSession.h"
#include "acquisition/TraceList.h"
#include "app/ControlValues.h"
#include "app/ExportFailure.h"
#include "app/Guidance.h"
#include "app/ImageExport.h"
#include "app/MonitorControls.h"
#include "app/SaveImageDialog.h"
#include "app/SeismogramExport.h"
#include "app/SettingsReader.h"
#include "app/Snapshot.h"
#include "app/WindowPlacement.h"
#include "base/SystemLog.h"
#include "components/NEIC_QueryController.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/TraceInspector.h"
#include "components/sac/SacObject.h"
#include "display/FrameView.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

void groundswayController::toggleAutoUpdate(QObject*) {
    const bool start = !theSeismgrmUpdateTimer_;
    monitorcontrols::showRunning(o_, start);
    if (start) {
        getAutoUpdateTimer();
        // The monitor's whole window is asked for once, from either source, unzoomed.
        configureSession();
        session_->startMonitoring(settings_->monitorMinutes());
    } else {
        settheSeismgrmUpdateTimer(nullptr);
        session_->stopMonitoring();
        cancelAcquisition(); // a refresh under way ends here; what is drawn stays
        updateGuidance();
    }
    updateFollowNow();
    if (start)
        update(); // the first refresh does not wait a whole period
}

void groundswayController::getAutoUpdateTimer() {
    auto timer = std::make_unique<QTimer>();
    timer->setSingleShot(false);
    timer->setInterval(settings_->autoUpdatePeriod());
    connect(timer.get(), &QTimer::timeout, this, &groundswayController::update);
    timer->start();
    theSeismgrmUpdateTimer_ = std::move(timer);
}

void groundswayController::settheSeismgrmUpdateTimer(std::unique_ptr<QTimer> timer) {
    if (timer.get() == theSeismgrmUpdateTimer_.get())
        return;
    theSeismgrmUpdateTimer_ = std::move(timer);
}

// One refresh at a time: a tick that falls due while the previous refresh (or any retrieval)
// still runs is skipped, and the system log says so. A tick keeps its order of work: the
// catalogue first, then the seismograms, drawn with that list's origins.
void groundswayController::update() {
    if (tickWaitingForCatalogue_ || session_->cycle().isRunning()) {
        systemLog(QStringLiteral(
            "Skipped an auto-update tick: the previous retrieval is still running."));
        return;
    }
    tickWaitingForCatalogue_ = true;
    loadNEICInfo(nullptr); // goes on in continueTick once the list has loaded (or failed)
}

void groundswayController::continueTick() {
    if (!tickWaitingForCatalogue_)
        return;
    tickWaitingForCatalogue_ = false;
    if (o_.seisView && neicQueryController_)
        o_.seisView->setEventOrigins(neicQueryController_->seismicOrigins());
    lastNMinutes(nullptr);
}

void groundswayController::setSeismogramWindowOpacity(QObject* sender) {
    if (o_.seismogramWindow)
        o_.seismogramWindow->setWindowOpacity(controlFloatValue(sender) / 100.0f);
}

void groundswayController::toggleColorScheme(QObject* sender) {
    if (!o_.seisView)
        return;
    const bool dark = isOn(sender);
    o_.seisView->setBackGroundColor(dark ? Qt::black : Qt::white);
    o_.seisView->setDrawingColor(dark ? Qt::white : Qt::black);
    o_.seisView->setNeedsDisplay(true);
}

void groundswayController::toggleShowOrigins(QObject* sender) {
    if (!o_.seisView)
        return;
    o_.seisView->setDrawOriginTimes(isOn(sender));
    o_.seisView->setNeedsDisplay(true);
}

void groundswayController::adjustWaveformPlotGain(QObject*) {
    if (!o_.seisView)
        return;
    o_.seisView->setWaveformGain(controlFloatValue(o_.plotGainSlider) / 25.0f);
    o_.seisView->setNeedsDisplay(true);
}

void groundswayController::setAmplitudeMode(QObject* sender) {
    const auto* popup = qobject_cast<const QComboBox*>(sender);
    if (!popup || !o_.seisView)
        return;
    const int mode = std::clamp(popup->currentIndex(), 0, 2);
    o_.seisView->setAmplitudeMode(static_cast<QuilmRealTimeDisplayView02::AmplitudeMode>(mode));
    defaults_.setObject(mode, QStringLiteral("amplitudeMode"));
}

void groundswayController::followNow(QObject*) {
    if (o_.seisView)
        o_.seisView->resetZoom();
}

void groundswayController::updateFollowNow() {
    // Zoomed while monitoring, the view stops following the present; this button returns.
    if (actions_.followNowButton)
        actions_.followNowButton->setVisible(o_.seisView && o_.seisView->isZoomed() &&
                                             theSeismgrmUpdateTimer_);
}

void groundswayController::toggleFullScreen(QObject*) {
    placement::toggleFullScreen(o_.seismogramWindow, actions_.fullScreenAction);
}

void groundswayController::showSystemLogWindow(QObject*) {
    placement::bringToFront(o_.systemLogWindow);
}

bool groundswayController::eventFilter(QObject* watched, QEvent* event) {
    // The warning names the system log; a click on it opens it.
    if (watched == o_.queryWarningTField && event->type() == QEvent::MouseButtonPress) {
        showSystemLogWindow(nullptr);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void groundswayController::inspectTrace(int index) {
    const auto i = static_cast<std::size_t>(index);
    if (!o_.seisView || index < 0 || i >= theWaveforms_->size() || !(*theWaveforms_)[i])
        return;
    const SacObject& processed = *(*theWaveforms_)[i];
    const Time ref = o_.seisView->refDate().value_or(processed.referenceTime());
    if (!inspector_) {
        inspector_ = std::make_unique<TraceInspector>();
        inspector_->setInline(inline_);
        placement::manage(inspector_.get(), QStringLiteral("traceInspector"), o_.seismogramWindow);
    }
    inspector_->inspect(QuilmRealTimeDisplayView02::fullLabel(processed), traces_->raw(i),
                        processed, civil::addSeconds(ref, o_.seisView->axisLeft()),
                        civil::addSeconds(ref, o_.seisView->axisRight()));
    placement::bringToFront(inspector_.get());
}

QImage groundswayController::seismogramImage(QSize size) {
    return imageexport::image(size, frameview::drawing(o_.seisView));
}

bool groundswayController::writeImage(const QString& path, QSize size, QString* why) {
    return imageexport::write(path, size, frameview::drawing(o_.seisView),
                              o_.seisView ? o_.seisView->title() : QString(), why);
}

bool groundswayController::writeSeismograms(const QString& folder, QString* why) {
    return seismogramexport::write(folder, traces_->shown(), why);
}

void groundswayController::saveImage(QObject*) {
    SaveImageDialog::ask(
        o_.seismogramWindow, tr("Save Image"), QDir::homePath() + QStringLiteral("/groundsway.png"),
        o_.seisView ? o_.seisView->size() : QSize(1600, 1000), tr("The image was not saved"),
        [this](const QString& path, QSize size, QString* why) {
            return writeImage(path, size, why);
        });
}

void groundswayController::copyImage(QObject*) {
    if (o_.seisView)
        QApplication::clipboard()->setImage(seismogramImage(o_.seisView->size()));
}

void groundswayController::saveSeismograms(QObject*) {
    const QString folder = QFileDialog::getExistingDirectory(
        o_.seismogramWindow, tr("Save Seismograms Into"), QDir::homePath());
    if (folder.isEmpty())
        return;
    QString why;
    if (!writeSeismograms(folder, &why))
        reportExportFailure(o_.seismogramWindow, tr("The seismograms were not saved"), why);
}

void groundswayController::takeSnapshot(const QString& path, QSize size,
                                        const std::optional<QString>& list,
                                        std::function<void(int)> done) {
    if (list) {
        if (!o_.channelFileListPopUp ||
            o_.channelFileListPopUp->findText(*list, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0)
            return snapshot::fail(
                done,
                QStringLiteral("no saved channel list is titled %1").arg(quotedForLog(*list)));
        loadChannelListFromFile(*list + QStringLiteral(".txt"));
        setupChannels(nullptr);
    }
    snapshot::atFirstTraces(*session_, this, [this, path, size, done] {
        snapshot::finish(done, traces_->anyDrawn(),
                         QStringLiteral("no trace could be drawn; the system log on standard "
                                        "error names each failed request"),
                         [&](QString* why) { return writeImage(path, size, why); });
    });
    // One monitor refresh, as auto-update makes them; with autoUpdate.txt one already runs.
    if (!theSeismgrmUpdateTimer_)
        toggleAutoUpdate(this);
}

void groundswayController::updateGuidance() {
    if (!o_.seisView || retrievedOnce_)
        return;
    const QString title = o_.plotTitleTField && !o_.plotTitleTField->text().isEmpty()
                              ? o_.plotTitleTField->text()
                              : QStringLiteral("Groundsway");
    o_.seisView->setPlaceholder(title, guidanceLine(title, theStations_->size(),
                                                    settings_->monitorMinutes(), session_->busy()));
}

void groundswayController::syncMonitorPopUp() {
    monitorcontrols::showLength(actions_.monitorDurationPopUp, settings_->monitorMinutes());
    updateGuidance();
}
