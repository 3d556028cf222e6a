// Auto-update and the display controls.
#include "app/groundswayController.h"

#include "acquisition/MonitorSession.h"

#include "acquisition/RetrievalCycle.h"
#include "app/ControlValues.h"
#include "base/SystemLog.h"
#include "components/NEIC_QueryController.h"
#include "components/QuilmRealTimeDisplayView02.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include <climits>
#include <cmath>

namespace {
// The shortest auto-update period: each tick asks every service once per channel.
constexpr double kMinimumPeriodSeconds = 10.0;
constexpr double kMaximumPeriodSeconds = INT_MAX / 1000.0; // what QTimer can hold
} // namespace

void groundswayController::toggleAutoUpdate(QObject*) {
    if (!theSeismgrmUpdateTimer_) {
        getAutoUpdateTimer();
        if (o_.autoUpdateButton)
            o_.autoUpdateButton->setText(QStringLiteral("Stop"));
        if (o_.monitorIndicatorTField)
            o_.monitorIndicatorTField->setHidden(false);
        // The monitor's whole window is asked for once, from either source, unzoomed.
        configureSession();
        session_->startMonitoring(monitorMinutes());
        updateFollowNow();
        update(); // the first refresh does not wait a whole period
    } else {
        theSeismgrmUpdateTimer_->stop();
        settheSeismgrmUpdateTimer(nullptr);
        session_->stopMonitoring();
        // A refresh under way ends here; what is drawn stays.
        cancelAcquisition();
        updateGuidance();
        if (o_.networkProgressIndicator)
            o_.networkProgressIndicator->hide();
        if (o_.monitorIndicatorTField)
            o_.monitorIndicatorTField->setHidden(true);
        if (o_.autoUpdateButton)
            o_.autoUpdateButton->setText(QStringLiteral("Start"));
        updateFollowNow();
    }
}

void groundswayController::getAutoUpdateTimer() {
    double period = fieldFloatValue(o_.updateIntervalTField);
    if (!(period >= kMinimumPeriodSeconds)) {
        systemLog(QStringLiteral("Auto-update period of %1 seconds is too short; using %2 seconds.")
                      .arg(o_.updateIntervalTField ? o_.updateIntervalTField->text() : QString())
                      .arg(kMinimumPeriodSeconds));
        period = kMinimumPeriodSeconds;
    }
    period = std::min(period, kMaximumPeriodSeconds);
    auto timer = std::make_unique<QTimer>();
    timer->setSingleShot(false);
    timer->setInterval(static_cast<int>(std::lround(period * 1000.0)));
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
