// The application shell: the controller's state, accessors, teardown and the wiring of its
// controls; the start-up sequence and the window commands; seismogram files opened as a typed
// window.
#include "app/groundswayController.h"

#include "acquisition/MonitorSession.h"
#include "acquisition/RetrievalCycle.h"
#include "acquisition/SeismogramFiles.h"
#include "acquisition/TimeSeriesSource.h"
#include "acquisition/TraceList.h"
#include "app/ActionWiring.h"
#include "app/FileOpening.h"
#include "app/LiveChoice.h"
#include "app/MonitorControls.h"
#include "app/ServiceChoice.h"
#include "app/SettingsReader.h"
#include "app/WindowPlacement.h"
#include "base/AsciiFile.h"
#include "base/Background.h"
#include "base/DataDirectory.h"
#include "base/SystemLog.h"
#include "channels/StationPlaces.h"
#include "components/NEIC_QueryController.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/TraceInspector.h"
#include "components/sac/SacObject.h"
#include "display/DrumSession.h"
#include "store/TraceStore.h"

#include <QComboBox>
#include <QFileInfo>
#include <QFont>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTimer>

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
    neicQueryController_->setHttpOptions(http_);
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
    settheSeismgrmUpdateTimer(nullptr);
    setTheWaveforms(nullptr); // the view is left drawing no list rather than one that is gone
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

void groundswayController::setHttpIdleTimeoutSeconds(long seconds) {
    http_.idleTimeoutSeconds = seconds;
    if (neicQueryController_)
        neicQueryController_->setHttpOptions(http_);
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

void groundswayController::awakeFromNib() {
    // 1. The seismogram window's opacity can change later; Qt needs nothing more for that.
    // 2-3. The view draws our own list from now on.
    if (o_.seisView) {
        o_.seisView->setWvfrmsArray(theWaveforms_.get());
        o_.seisView->setXLabelString(QStringLiteral("Time (seconds)"));
        o_.seisView->setDrawOriginTimes(true);
    }
    // 4. Courier, or a monospace face where it is missing.
    QFont font(QStringLiteral("Courier"), 11);
    font.setStyleHint(QFont::TypeWriter);
    for (QPlainTextEdit* view : {o_.connectionLogTView, o_.channelListTView, o_.channelFinderTView})
        if (view)
            view->setFont(font);
    // 5. The earthquake component is the table's data source and acts on its selection.
    if (neicQueryController_) {
        neicQueryController_->setEventTableView(o_.eventListTblView);
        if (o_.eventListTblView)
            o_.eventListTblView->setModel(neicQueryController_.get());
    }
    // 6.
    adjustWaveformPlotGain(nullptr);
    settings_->showChoices(actions_);
    setAmplitudeMode(actions_.amplitudeModePopUp);
    sortByDistance_ = defaults_.boolForKey(QStringLiteral("sortByDistance"));
    syncMonitorPopUp();
    servicechoice::bind(o_.timeSeriesServicePopUp, defaults_);
    settings_->choice(livechoice::kKey, livechoice::choices());
    livechoice::bind(o_.liveProcessingPopUp, defaults_, [this] { configureSession(); });
    // 7. The XDG data folder, or the one earlier versions read while it is still empty.
    const DataDirectory data = chooseDataDirectory();
    setSupportDirectory(std::make_shared<QString>(data.path));
    systemLog(data.logLine());
    // 8-9.
    systemLog(QStringLiteral("Loading initial channel information."));
    setUpChannelListMenu();
    // 10. The name file's whole content, line feed and all, is the file name.
    if (const auto name =
            readAsciiFile(*supportDirectory_ + QStringLiteral("/defaultChannelListName.txt")))
        loadChannelListFromFile(*name);
    // 11.
    setupChannels(nullptr);
    // 12.
    if (QFileInfo::exists(*supportDirectory_ + QStringLiteral("/autoUpdate.txt"))) {
        systemLog(QStringLiteral("Turned on auto update."));
        toggleAutoUpdate(this);
    }
    // 13.
    systemLog(QStringLiteral("Done Waking."));
}

void groundswayController::applicationDidFinishLaunching() {
    // The settings open from the menu only: at launch they would stand behind the seismograms.
    placement::bringToFront(o_.seismogramWindow);
    // The plot, not the first field, has the keyboard: a field would take Ctrl+E and the
    // other window shortcuts for its own line editing.
    if (o_.seisView)
        o_.seisView->setFocus(Qt::OtherFocusReason);
    systemLog(QStringLiteral("Application has finished launching."));
}

void groundswayController::showSettingsWindow(QObject*) {
    placement::bringToFront(o_.settingsWindow, true);
}

void groundswayController::showLogWindow(QObject*) {
    placement::bringToFront(o_.logWindow, true);
}

void groundswayController::showHelpWindow(QObject*) {
    placement::bringToFront(o_.helpWindow, true);
}

void groundswayController::chooseSeismogramFiles(QObject*) {
    const QStringList paths = fileopening::choose(o_.seismogramWindow);
    if (!paths.isEmpty())
        openSeismogramFiles(paths);
}

void groundswayController::openSeismogramFiles(const QStringList& paths,
                                               std::function<void(bool)> done) {
    fileopening::read(this, o_.seismogramWindow, inline_, paths, processingOptions(),
                      [this, done = std::move(done)](fileopening::Read r) {
                          const seismogramfiles::Opened& f = r.opened;
                          if (f.channels.empty() || !f.start || !f.end) {
                              if (done)
                                  done(false);
                              return;
                          }
                          // A typed window over the files: monitoring stops, the table names their
                          // channels.
                          if (theSeismgrmUpdateTimer_)
                              toggleAutoUpdate(nullptr);
                          session_->cancel();
                          setChannelTable(seismogramfiles::tableOf(f));
                          eventOrigin_ = f.origin;
                          const auto frame = seismogramfiles::frameOf(f, r.rows);
                          monitorcontrols::showWindowTimes(o_, frame->window, frame->title);
                          session_->setChannels(channelTable(), frame->title);
                          applyFrame(frame);
                          if (done)
                              done(true);
                      });
}
