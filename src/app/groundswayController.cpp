// The controller's state, settings, accessors, teardown and the wiring of its controls.
#include "app/groundswayController.h"

#include "acquisition/MonitorSession.h"
#include "acquisition/RetrievalCycle.h"
#include "acquisition/TimeSeriesSource.h"
#include "acquisition/TraceList.h"
#include "app/ActionWiring.h"
#include "app/SettingsDialog.h"
#include "app/SettingsReader.h"
#include "app/TraceMenus.h"
#include "base/Background.h"
#include "base/NumberReading.h"
#include "base/SystemLog.h"
#include "base/UrlText.h"
#include "channels/StationPlaces.h"
#include "components/NEIC_QueryController.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/TraceInspector.h"
#include "components/plot/TraceEnvelope.h"
#include "components/sac/SacObject.h"
#include "display/DrumSession.h"
#include "store/TraceStore.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>

namespace {

// Replaces a shared list unless it is the one already held (then it is not let go first).
template <class T> void replaceShared(std::shared_ptr<T>& held, std::shared_ptr<T> next) {
    if (held == next)
        return;
    held = std::move(next);
}

} // namespace

groundswayController::groundswayController(QObject* parent) : QObject(parent) {
    // Every date is written and read as UTC explicitly (base/DateText, the calendar in
    // base/Time.h); the process keeps the user's own zone for what shows local time.
    theNetworks_ = std::make_shared<QStringList>();
    theStations_ = std::make_shared<QStringList>();
    theChannels_ = std::make_shared<QStringList>();
    theChannelCodes_ = std::make_shared<QStringList>();
    theLabels_ = std::make_shared<QStringList>();
    theWaveforms_ = std::make_shared<WaveformList>();
    availableChannels_ = std::make_shared<ChannelList>();
    stationObjects_ = std::make_shared<QVariantList>();
    neicQueryController_ = std::make_shared<NEIC_QueryController>();
    http_.userAgent = UserAgent;
    neicQueryController_->setHttpOptions([this] {
        HttpOptions o = http_;
        o.maxBodyBytes = std::size_t{64} << 20;
        return o;
    }());
    settings_ = std::make_unique<SettingsReader>(defaults_);
    session_ = std::make_unique<MonitorSession>();
    traces_ = std::make_unique<TraceList>(theWaveforms_);
    finder_ = std::make_unique<Background>();
    places_ = std::make_unique<StationPlaces>();
    connect(places_.get(), &StationPlaces::located, this, [this](bool learnt) {
        if (learnt)
            updateTraceContext();
    });
    connectSession();
    connect(neicQueryController_.get(), &NEIC_QueryController::listLoaded, this,
            &groundswayController::continueTick);
    systemLog(QStringLiteral("Initializing Controller."));
    settings_->registerDefaults();
}

groundswayController::~groundswayController() {
    cancelAcquisition();
    if (theSeismgrmUpdateTimer_)
        theSeismgrmUpdateTimer_->stop();
    settheSeismgrmUpdateTimer(nullptr);
    setTheWaveforms(nullptr);
    setNeicQueryController(nullptr);
    setavailableChannels(nullptr);
    setStationObjects(nullptr);
    setTheStations(nullptr);
    setTheNetworks(nullptr);
    setTheLabels(nullptr);
    setTheChannelCodes(nullptr);
    setSupportDirectory(nullptr);
    theChannels_.reset();
}

void groundswayController::setTheWaveforms(std::shared_ptr<WaveformList> list) {
    if (theWaveforms_ == list)
        return;
    // The view draws this very list; it must never be left holding one that is gone.
    if (o_.seisView && o_.seisView->wvfrmsArray() == theWaveforms_.get())
        o_.seisView->setWvfrmsArray(list.get());
    theWaveforms_ = std::move(list);
    if (traces_ && theWaveforms_)
        traces_->setTraces(theWaveforms_);
}

void groundswayController::setNeicQueryController(std::shared_ptr<NEIC_QueryController> c) {
    if (neicQueryController_ == c)
        return;
    neicQueryController_ = std::move(c);
    if (neicQueryController_) {
        neicQueryController_->setInline(inline_);
        connect(neicQueryController_.get(), &NEIC_QueryController::listLoaded, this,
                &groundswayController::continueTick);
    }
}
void groundswayController::setavailableChannels(std::shared_ptr<ChannelList> list) {
    replaceShared(availableChannels_, std::move(list));
}
void groundswayController::setStationObjects(std::shared_ptr<QVariantList> list) {
    replaceShared(stationObjects_, std::move(list));
}
void groundswayController::setTheStations(std::shared_ptr<QStringList> list) {
    replaceShared(theStations_, std::move(list));
}
void groundswayController::setTheNetworks(std::shared_ptr<QStringList> list) {
    replaceShared(theNetworks_, std::move(list));
}
void groundswayController::setTheLabels(std::shared_ptr<QStringList> list) {
    replaceShared(theLabels_, std::move(list));
}
void groundswayController::setTheChannelCodes(std::shared_ptr<QStringList> list) {
    replaceShared(theChannelCodes_, std::move(list));
}
void groundswayController::setSupportDirectory(std::shared_ptr<QString> path) {
    replaceShared(supportDirectory_, std::move(path));
}

void groundswayController::setInlineAcquisition(bool on) {
    inline_ = on;
    session_->setInline(on);
    finder_->setInline(on);
    places_->setInline(on);
    if (drum_)
        drum_->setInline(on);
    if (neicQueryController_)
        neicQueryController_->setInline(on);
}

RetrievalCycle& groundswayController::retrievalCycle() {
    return session_->cycle();
}
TraceStore& groundswayController::traceStore() {
    return session_->store();
}
TimeSeriesSource& groundswayController::timeSeriesSource() {
    return session_->timeSeries();
}

void groundswayController::cancelAcquisition() {
    session_->cancel();
    finder_->cancel();
    places_->cancel();
    if (drum_)
        drum_->cancel();
    if (tickWaitingForCatalogue_ && neicQueryController_)
        neicQueryController_->cancelLoad();
    tickWaitingForCatalogue_ = false;
}

int groundswayController::monitorMinutes() const {
    return static_cast<int>(settings_->number(o_.monitorRequestDurationTField, "monitorDurationMinutes",
                                          1, kMaxWindowMinutes, 60, true));
}

void groundswayController::setHttpIdleTimeoutSeconds(long seconds) {
    http_.idleTimeoutSeconds = seconds;
    if (neicQueryController_) {
        HttpOptions o = http_;
        o.maxBodyBytes = std::size_t{64} << 20;
        neicQueryController_->setHttpOptions(o);
    }
}

void groundswayController::connectOutlets(const Outlets& outlets, const ActionControls& actions) {
    o_ = outlets;
    actions_ = actions;
    bindSettingsToControls();
    actionwiring::connect(*this, o_, actions);
    if (QuilmRealTimeDisplayView02* view = o_.seisView)
        connect(view, &QuilmRealTimeDisplayView02::zoomChanged, this,
                &groundswayController::updateFollowNow);
    if (o_.monitorRequestDurationTField)
        connect(o_.monitorRequestDurationTField, &QLineEdit::textChanged, this,
                &groundswayController::syncMonitorPopUp);
    setUpHelicorder();
    // The view's paints end the records' way to the screen.
    if (o_.seisView)
        connect(o_.seisView, &QuilmRealTimeDisplayView02::painted, session_.get(),
                &MonitorSession::framePainted);
}

void groundswayController::bindSettingsToControls() {
    settings_->bind(o_, this);
    if (o_.channelListTView) {
        connect(o_.channelListTView, &QPlainTextEdit::textChanged, this, [this] {
            if (!fillingChannelList_)
                channelListText_.reset(); // edited: what the view shows is the list now
        });
    }
    if (o_.eventServiceURLTField && neicQueryController_) {
        neicQueryController_->setServiceURL(o_.eventServiceURLTField->text());
        connect(o_.eventServiceURLTField, &QLineEdit::textChanged, this,
                [this](const QString& url) {
                    if (neicQueryController_)
                        neicQueryController_->setServiceURL(url);
                });
    }
}

void groundswayController::showWindow(QWidget* window) {
    if (!window)
        return;
    window->show();
    window->raise();
    window->activateWindow();
}

void groundswayController::makeNoFirstResponder(QWidget* window) {
    if (!window)
        return;
    if (QWidget* focused = window->focusWidget())
        focused->clearFocus();
    // The window itself takes the focus, so activation hands it to no field.
    window->setFocus(Qt::OtherFocusReason);
}
