// The controller's state, settings, accessors, teardown and the wiring of its controls.
#include "app/groundswayController.h"

#include "acquisition/MonitorSession.h"
#include "acquisition/RetrievalCycle.h"
#include "acquisition/TimeSeriesSource.h"
#include "acquisition/TraceList.h"
#include "app/FileOpening.h"
#include "app/SettingsDialog.h"
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

// The settings shown by text fields, with their registered defaults, and where each is shown.
struct TextSetting {
    const char* key;
    const char* fallback;
    QLineEdit* Outlets::*field;
};

constexpr TextSetting kTextSettings[] = {
    {"eventDurationMinutes", "90", &Outlets::eventRequestDurationTField},
    {"monitorDurationMinutes", "60", &Outlets::monitorRequestDurationTField},
    {"updateIntervalSeconds", "120", &Outlets::updateIntervalTField},
    {"bbDecimationFactor", "2", &Outlets::BB_decimationFactorTField},
    {"bbHighFrequencyCorner", "-10", &Outlets::BB_lpcTField},
    {"bbLowFrequencyCorner", "0.005", &Outlets::BB_hpcTField},
    {"lpDecimationFactor", "2", &Outlets::LP_decimationFactorTField},
    {"lpHighFrequencyCorner", "0.05", &Outlets::LP_lpcTField},
    {"lpLowFrequencyCorner", "0.002", &Outlets::LP_hpcTField},
    {"networkSearchString", "_US-TA", &Outlets::networkTField},
    {"siteCodeSearchString", "*", &Outlets::siteCodeTField},
    {"stationSearchString", "SSPA", &Outlets::stationTField},
    {"minMagnitude", "5", &Outlets::minMagTField},
    // Where the three services and the status page live.
    {"timeSeriesServiceURL", "https://service.iris.edu", &Outlets::timeSeriesServiceURLTField},
    {"eventServiceURL", "https://earthquake.usgs.gov", &Outlets::eventServiceURLTField},
    {"stationServiceURL", "https://service.iris.edu", &Outlets::stationServiceURLTField},
    {"statusPageURL", "http://www.iris.edu", &Outlets::statusPageURLTField},
    {"seedLinkServer", "rtserve.iris.washington.edu:18000", &Outlets::seedLinkServerTField},
    // How the transfers run.
    {"maxConcurrentDownloads", "4", &Outlets::maxConcurrentDownloadsTField},
    {"transferDeadlineSeconds", "120", &Outlets::transferDeadlineTField},
};

// The processing check boxes keep their state between runs too; first run: filters on.
struct BoxSetting {
    const char* key;
    bool fallback;
    QCheckBox* Outlets::*box;
};

constexpr BoxSetting kBoxSettings[] = {
    {"lpApplyFilter", true, &Outlets::LP_applyFilterButton},
    {"lpWWSSNLongPeriod", false, &Outlets::LP_wwlpButton},
    {"lpDecimate", false, &Outlets::LP_decimateButton},
    {"lpIntegrate", false, &Outlets::LP_integrateButton},
    {"bbApplyFilter", true, &Outlets::BB_applyFilterButton},
    {"bbWWSSNLongPeriod", false, &Outlets::BB_wwlpButton},
    {"bbWWSSNShortPeriod", false, &Outlets::BB_wwspButton},
    {"bbDecimate", false, &Outlets::BB_decimateButton},
    {"bbIntegrate", false, &Outlets::BB_integrateButton},
    {"incrementalUpdates", true, &Outlets::incrementalUpdatesButton},
};

// Settings of controls the tables above cannot bind, with their registered defaults.
const std::pair<const char*, const char*> kOtherSettings[] = {
    {"amplitudeMode", "0"},    {"sortByDistance", "false"}, {"travelTimeModel", "iasp91"},
    {"helicorderChannel", ""}, {"helicorderHours", "24"},   {"helicorderRowMinutes", "30"},
    {"helicorderGain", "25"},  {"helicorderClip", "false"}, {"dataSource", "webService"},
    {"timeSeriesService", "irisTimeSeries"}, {"liveProcessing", "causal"}};

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
    registerDefaults();
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

void groundswayController::registerDefaults() {
    QList<std::pair<QString, QVariant>> defaults;
    for (const TextSetting& s : kTextSettings)
        defaults.append({QString::fromLatin1(s.key), QString::fromLatin1(s.fallback)});
    for (const BoxSetting& s : kBoxSettings)
        defaults.append({QString::fromLatin1(s.key), s.fallback});
    for (const auto& [key, fallback] : kOtherSettings)
        defaults.append({QString::fromLatin1(key), QString::fromLatin1(fallback)});
    defaults_.registerDefaults(defaults);
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

void groundswayController::reportSetting(const QString& key, const QString& typed,
                                         const QString& message) const {
    if (reportedSettings_.value(key, QStringLiteral("\x01")) == typed)
        return;
    reportedSettings_.insert(key, typed);
    systemLog(message);
}

double groundswayController::checkedNumber(const QLineEdit* field, const char* key, double low,
                                           double high, double fallback, bool whole) const {
    const QString typed = field ? field->text() : QString::number(fallback);
    // Read as a real number, so "1e12" is a very long span (cut to the longest) and not 1; whole
    // settings then drop the fraction. What is logged is what is used, everywhere.
    const double asked = static_cast<double>(floatValue(typed));
    double used = std::isnan(asked) ? fallback : std::clamp(asked, low, high);
    if (whole)
        used = std::trunc(used);
    const QString memory = QString::fromLatin1(key) + (whole ? u'#' : u'.');
    if (std::isnan(asked))
        reportSetting(memory, typed,
                      QStringLiteral("The setting %1 of %2 is not a number; using %3.")
                          .arg(QString::fromLatin1(key), quotedForLog(typed))
                          .arg(used, 0, 'g', 10));
    else if (used != (whole ? std::trunc(asked) : asked))
        reportSetting(memory, typed,
                      QStringLiteral("The setting %1 of %2 is outside %3 to %4; using %5.")
                          .arg(QString::fromLatin1(key), quotedForLog(typed))
                          .arg(low, 0, 'g', 10)
                          .arg(high, 0, 'g', 10)
                          .arg(used, 0, 'g', 10));
    else
        reportedSettings_.remove(memory);
    return used;
}

int groundswayController::checkedSetting(const char* key, int low, int high, int fallback) const {
    const QString typed = defaults_.objectForKey(QString::fromLatin1(key)).toString();
    bool read = false;
    const double asked = typed.trimmed().toDouble(&read);
    const int used =
        !read || std::isnan(asked)
            ? fallback
            : static_cast<int>(std::clamp(std::trunc(asked), double(low), double(high)));
    if (!read || std::isnan(asked))
        reportSetting(QString::fromLatin1(key), typed,
                      QStringLiteral("The setting %1 of %2 is not a number; using %3.")
                          .arg(QString::fromLatin1(key), quotedForLog(typed))
                          .arg(used));
    else if (used != asked)
        reportSetting(QString::fromLatin1(key), typed,
                      QStringLiteral("The setting %1 of %2 is outside %3 to %4; using %5.")
                          .arg(QString::fromLatin1(key), quotedForLog(typed))
                          .arg(low)
                          .arg(high)
                          .arg(used));
    return used;
}

QString groundswayController::checkedChoice(const char* key, const QStringList& choices) const {
    const QString stored = defaults_.objectForKey(QString::fromLatin1(key)).toString();
    if (choices.isEmpty() || choices.contains(stored))
        return stored;
    reportSetting(QString::fromLatin1(key), stored,
                  QStringLiteral("The setting %1 of %2 is not one of %3; using %4.")
                      .arg(QString::fromLatin1(key), quotedForLog(stored),
                           choices.join(QStringLiteral(", ")), choices.front()));
    return choices.front();
}

int groundswayController::monitorMinutes() const {
    return static_cast<int>(checkedNumber(o_.monitorRequestDurationTField, "monitorDurationMinutes",
                                          1, kMaxWindowMinutes, 60, true));
}

float groundswayController::checkedCorner(const QLineEdit* field, const char* key) const {
    const QString typed = field ? field->text() : QString();
    const float asked = floatValue(typed);
    if (std::isfinite(asked))
        return asked;
    reportSetting(QString::fromLatin1(key), typed,
                  QStringLiteral("The setting %1 of %2 is not a frequency; the filter is "
                                 "left out.")
                      .arg(QString::fromLatin1(key), quotedForLog(typed)));
    return 0.0f;
}

QString groundswayController::checkedServiceBase(const QLineEdit* field, const char* key) const {
    const QString typed =
        field ? field->text() : defaults_.registeredValue(QString::fromLatin1(key)).toString();
    if (isPlainServiceBase(typed)) {
        reportedSettings_.remove(QString::fromLatin1(key));
        return typed;
    }
    reportSetting(QString::fromLatin1(key), typed,
                  QStringLiteral("The setting %1 of %2 is not a plain http or https address "
                                 "(scheme, host, port and path only); nothing is asked of it.")
                      .arg(QString::fromLatin1(key), quotedForLog(typed)));
    return {};
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
    connectActions(actions);
    setUpHelicorder();
    // The view's paints end the records' way to the screen.
    if (o_.seisView)
        connect(o_.seisView, &QuilmRealTimeDisplayView02::painted, session_.get(),
                &MonitorSession::framePainted);
}

void groundswayController::bindSettingsToControls() {
    for (const TextSetting& s : kTextSettings) {
        QLineEdit* field = o_.*(s.field);
        if (!field)
            continue;
        const QString key = QString::fromLatin1(s.key);
        field->setText(defaults_.stringForKey(key));
        connect(field, &QLineEdit::textEdited, this,
                [this, key](const QString& text) { defaults_.setObject(text, key); });
    }
    for (const BoxSetting& s : kBoxSettings) {
        QCheckBox* box = o_.*(s.box);
        if (!box)
            continue;
        const QString key = QString::fromLatin1(s.key);
        box->setChecked(defaults_.boolForKey(key));
        connect(box, &QCheckBox::toggled, this,
                [this, key](bool on) { defaults_.setObject(on, key); });
    }
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

void groundswayController::connectActions(const ActionControls& a) {
    // Each button or command hands itself to its operation as the sender.
    auto onClick = [this](QAbstractButton* b, void (groundswayController::*op)(QObject*)) {
        if (b)
            connect(b, &QAbstractButton::clicked, this, [this, b, op] { (this->*op)(b); });
    };
    auto onTrigger = [this](QAction* act, void (groundswayController::*op)(QObject*)) {
        if (act)
            connect(act, &QAction::triggered, this, [this, act, op] { (this->*op)(act); });
    };
    onClick(a.retrieveButton, &groundswayController::retrieveSeismograms);
    onClick(o_.autoUpdateButton, &groundswayController::toggleAutoUpdate);
    onClick(a.setupChannelsButton, &groundswayController::setupChannels);
    if (auto* settings = qobject_cast<SettingsDialog*>(o_.settingsWindow))
        connect(settings, &SettingsDialog::channelListApplied, this,
                [this, settings] { setupChannels(settings); });
    onClick(a.markHistoryButton, &groundswayController::markHistory);
    onClick(a.clearHistoryButton, &groundswayController::clearHistory);
    onClick(a.statusPageButton, &groundswayController::tamsyStatus);
    onClick(a.reloadEventsButton, &groundswayController::loadNEICInfo);
    onClick(a.eventSeismogramsButton, &groundswayController::getRecentEventSeismograms);
    onClick(a.eventPageButton, &groundswayController::loadNEICEventPage);
    onClick(a.eventMapButton, &groundswayController::openGoogleMaps);
    onClick(o_.loadChannelInfoButton, &groundswayController::acquireavailableChannels);
    onClick(a.listChannelsButton, &groundswayController::updateChannelFinderList);
    onClick(a.darkSchemeCheckBox, &groundswayController::toggleColorScheme);
    onClick(a.originMarksCheckBox, &groundswayController::toggleShowOrigins);

    onTrigger(a.showSettingsAction, &groundswayController::showSettingsWindow);
    onTrigger(a.showLogAction, &groundswayController::showLogWindow);
    onTrigger(a.showHelpAction, &groundswayController::showHelpWindow);
    onTrigger(a.showEventListAction, &groundswayController::showEventListWindow);
    onTrigger(a.showChannelFinderAction, &groundswayController::showChannelFinderWindow);
    onTrigger(a.retrieveAction, &groundswayController::retrieveSeismograms);
    onTrigger(a.openFilesAction, &groundswayController::chooseSeismogramFiles);
    if (a.fileDrop)
        connect(a.fileDrop, &fileopening::DropTarget::filesDropped, this,
                [this](const QStringList& paths) { openSeismogramFiles(paths); });
    onTrigger(a.toggleAutoUpdateAction, &groundswayController::toggleAutoUpdate);
    onTrigger(a.setupChannelsAction, &groundswayController::setupChannels);
    onTrigger(a.markHistoryAction, &groundswayController::markHistory);
    onTrigger(a.clearHistoryAction, &groundswayController::clearHistory);
    onTrigger(a.statusPageAction, &groundswayController::tamsyStatus);
    if (a.quitAction)
        connect(a.quitAction, &QAction::triggered, qApp, &QCoreApplication::quit,
                Qt::QueuedConnection);

    if (QComboBox* popup = a.monitorDurationPopUp)
        connect(popup, &QComboBox::activated, this, [this, popup] { lastNMinutes(popup); });
    if (QComboBox* popup = o_.channelFileListPopUp)
        connect(popup, &QComboBox::activated, this, [this, popup] { parseChannelList(popup); });
    if (QSlider* slider = a.opacitySlider)
        connect(slider, &QSlider::valueChanged, this,
                [this, slider] { setSeismogramWindowOpacity(slider); });
    if (QSlider* slider = o_.plotGainSlider)
        connect(slider, &QSlider::valueChanged, this,
                [this, slider] { adjustWaveformPlotGain(slider); });
    if (QTableView* table = o_.eventListTblView)
        connect(table, &QTableView::doubleClicked, this,
                [this, table] { getRecentEventSeismograms(table); });

    onTrigger(a.showSystemLogAction, &groundswayController::showSystemLogWindow);
    onTrigger(a.showHelicorderAction, &groundswayController::showHelicorderWindow);
    onTrigger(a.saveImageAction, &groundswayController::saveImage);
    onTrigger(a.copyImageAction, &groundswayController::copyImage);
    onTrigger(a.saveSeismogramsAction, &groundswayController::saveSeismograms);
    onTrigger(a.fullScreenAction, &groundswayController::toggleFullScreen);
    onClick(a.followNowButton, &groundswayController::followNow);
    onClick(a.sortByDistanceButton, &groundswayController::toggleSortByDistance);
    if (QComboBox* popup = a.travelTimeModelPopUp)
        connect(popup, &QComboBox::activated, this, [this, popup] { setTravelTimeModel(popup); });
    if (QComboBox* popup = a.dataSourcePopUp)
        connect(popup, &QComboBox::activated, this, [this, popup] { setDataSource(popup); });
    if (QComboBox* popup = a.amplitudeModePopUp)
        connect(popup, &QComboBox::activated, this, [this, popup] { setAmplitudeMode(popup); });
    if (o_.queryWarningTField)
        o_.queryWarningTField->installEventFilter(this);
    if (QuilmRealTimeDisplayView02* view = o_.seisView) {
        connect(view, &QuilmRealTimeDisplayView02::traceActivated, this,
                &groundswayController::inspectTrace);
        tracemenus::attach(view, a.inspectTraceMenu,
                           {a.saveImageAction, a.copyImageAction, a.saveSeismogramsAction},
                           [this](int trace) { inspectTrace(trace); });
        connect(view, &QuilmRealTimeDisplayView02::zoomChanged, this,
                &groundswayController::updateFollowNow);
        if (auto* window = qobject_cast<QMainWindow*>(o_.seismogramWindow)) {
            QStatusBar* bar = window->statusBar();
            connect(view, &QuilmRealTimeDisplayView02::readoutChanged, bar,
                    [bar](const QString& text) { bar->showMessage(text); });
        }
    }
    if (o_.monitorRequestDurationTField)
        connect(o_.monitorRequestDurationTField, &QLineEdit::textChanged, this,
                &groundswayController::syncMonitorPopUp);
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
