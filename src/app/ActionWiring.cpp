#include "app/ActionWiring.h"

#include "app/FileOpening.h"
#include "app/Outlets.h"
#include "app/SettingsDialog.h"
#include "app/TraceMenus.h"
#include "app/groundswayController.h"
#include "components/QuilmRealTimeDisplayView02.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTableView>

#include <utility>

namespace actionwiring {

namespace {

using Op = void (groundswayController::*)(QObject*);

// Each control of the table, when it exists, runs its operation with itself as the sender.
template <class Control, class Signal, std::size_t N>
void wire(groundswayController& c, const std::pair<Control*, Op> (&table)[N], Signal signal) {
    for (const auto& entry : table)
        if (Control* control = entry.first)
            QObject::connect(control, signal, &c,
                             [&c, control, op = entry.second] { (c.*op)(control); });
}

} // namespace

void connect(groundswayController& c, const Outlets& o, const ActionControls& a) {
    using G = groundswayController;
    const std::pair<QAbstractButton*, Op> buttons[] = {
        {a.retrieveButton, &G::retrieveSeismograms},
        {o.autoUpdateButton, &G::toggleAutoUpdate},
        {a.setupChannelsButton, &G::setupChannels},
        {a.markHistoryButton, &G::markHistory},
        {a.clearHistoryButton, &G::clearHistory},
        {a.statusPageButton, &G::tamsyStatus},
        {a.reloadEventsButton, &G::loadNEICInfo},
        {a.eventSeismogramsButton, &G::getRecentEventSeismograms},
        {a.eventPageButton, &G::loadNEICEventPage},
        {a.eventMapButton, &G::openGoogleMaps},
        {o.loadChannelInfoButton, &G::acquireavailableChannels},
        {a.listChannelsButton, &G::updateChannelFinderList},
        {a.darkSchemeCheckBox, &G::toggleColorScheme},
        {a.originMarksCheckBox, &G::toggleShowOrigins},
        {a.followNowButton, &G::followNow},
        {a.sortByDistanceButton, &G::toggleSortByDistance},
    };
    wire(c, buttons, &QAbstractButton::clicked);
    const std::pair<QAction*, Op> commands[] = {
        {a.showSettingsAction, &G::showSettingsWindow},
        {a.showLogAction, &G::showLogWindow},
        {a.showHelpAction, &G::showHelpWindow},
        {a.showEventListAction, &G::showEventListWindow},
        {a.showChannelFinderAction, &G::showChannelFinderWindow},
        {a.retrieveAction, &G::retrieveSeismograms},
        {a.openFilesAction, &G::chooseSeismogramFiles},
        {a.toggleAutoUpdateAction, &G::toggleAutoUpdate},
        {a.setupChannelsAction, &G::setupChannels},
        {a.markHistoryAction, &G::markHistory},
        {a.clearHistoryAction, &G::clearHistory},
        {a.statusPageAction, &G::tamsyStatus},
        {a.showSystemLogAction, &G::showSystemLogWindow},
        {a.showHelicorderAction, &G::showHelicorderWindow},
        {a.saveImageAction, &G::saveImage},
        {a.copyImageAction, &G::copyImage},
        {a.saveSeismogramsAction, &G::saveSeismograms},
        {a.fullScreenAction, &G::toggleFullScreen},
    };
    wire(c, commands, &QAction::triggered);
    const std::pair<QComboBox*, Op> popUps[] = {
        {a.monitorDurationPopUp, &G::lastNMinutes},
        {o.channelFileListPopUp, &G::parseChannelList},
        {a.travelTimeModelPopUp, &G::setTravelTimeModel},
        {a.dataSourcePopUp, &G::setDataSource},
        {a.amplitudeModePopUp, &G::setAmplitudeMode},
    };
    wire(c, popUps, &QComboBox::activated);
    const std::pair<QSlider*, Op> sliders[] = {
        {a.opacitySlider, &G::setSeismogramWindowOpacity},
        {o.plotGainSlider, &G::adjustWaveformPlotGain},
    };
    wire(c, sliders, &QSlider::valueChanged);

    if (auto* settings = qobject_cast<SettingsDialog*>(o.settingsWindow))
        QObject::connect(settings, &SettingsDialog::channelListApplied, &c,
                         [&c, settings] { c.setupChannels(settings); });
    if (a.fileDrop)
        QObject::connect(a.fileDrop, &fileopening::DropTarget::filesDropped, &c,
                         [&c](const QStringList& paths) { c.openSeismogramFiles(paths); });
    if (a.quitAction)
        QObject::connect(a.quitAction, &QAction::triggered, qApp, &QCoreApplication::quit,
                         Qt::QueuedConnection);
    if (QTableView* table = o.eventListTblView)
        QObject::connect(table, &QTableView::doubleClicked, &c,
                         [&c, table] { c.getRecentEventSeismograms(table); });
    // The warning names the system log; a click on it opens it (the controller's event filter).
    if (o.queryWarningTField)
        o.queryWarningTField->installEventFilter(&c);
    if (QuilmRealTimeDisplayView02* view = o.seisView) {
        QObject::connect(view, &QuilmRealTimeDisplayView02::traceActivated, &c,
                         &G::inspectTrace);
        tracemenus::attach(view, a.inspectTraceMenu,
                           {a.saveImageAction, a.copyImageAction, a.saveSeismogramsAction},
                           [&c](int trace) { c.inspectTrace(trace); });
        if (auto* window = qobject_cast<QMainWindow*>(o.seismogramWindow)) {
            QStatusBar* bar = window->statusBar();
            QObject::connect(view, &QuilmRealTimeDisplayView02::readoutChanged, bar,
                             [bar](const QString& text) { bar->showMessage(text); });
        }
    }
}

} // namespace actionwiring
