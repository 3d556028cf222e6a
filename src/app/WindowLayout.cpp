#include "app/WindowLayout.h"

#include "app/AboutDialog.h"
#include "app/FileOpening.h"
#include "app/ServicePresets.h"
#include "app/HelicorderWindow.h"
#include "app/SettingsDialog.h"
#include "app/WindowPlacement.h"
#include "app/SystemLogWindow.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "ui_ChannelFinderWindow.h"
#include "ui_EventListWindow.h"
#include "ui_HelpWindow.h"
#include "ui_LogWindow.h"
#include "ui_SeismogramWindow.h"
#include "ui_SettingsWindow.h"

#include <QAction>
#include <QButtonGroup>
#include <QHeaderView>
#include <QMainWindow>

struct WindowLayout::Forms {
    QMainWindow seismogramWindow;
    SettingsDialog settingsWindow;
    QWidget logWindow, eventListWindow, helpWindow, channelFinderWindow;
    SystemLogWindow systemLogWindow;
    AboutDialog aboutWindow;
    HelicorderWindow helicorderWindow;
    Ui::SeismogramWindow seismogram;
    Ui::SettingsWindow settings;
    Ui::LogWindow log;
    Ui::EventListWindow eventList;
    Ui::HelpWindow help;
    Ui::ChannelFinderWindow finder;
};

// The help page is compiled into the static core library; its resource must be registered
// (outside any namespace, as Q_INIT_RESOURCE requires).
static void initialiseResources() {
    Q_INIT_RESOURCE(help);
}

WindowLayout::WindowLayout() : forms_((initialiseResources(), std::make_unique<Forms>())) {
    Forms& f = *forms_;
    f.seismogram.setupUi(&f.seismogramWindow);
    f.settings.setupUi(&f.settingsWindow);
    // The controller works with the settings last applied; the form shows the edits.
    // The presets fill the form's own editors, which then wait for Apply like any edit.
    servicepresets::bind(f.settings.servicePresetPopUp,
                         {f.settings.timeSeriesServiceURLTField, f.settings.timeSeriesServicePopUp,
                          f.settings.stationServiceURLTField, f.settings.eventServiceURLTField,
                          f.settings.seedLinkServerTField});
    f.settingsWindow.adopt(f.settings.settingsButtonBox, f.settings.channelListTView,
                           f.settings.channelFileListPopUp);
    f.settingsWindow.showOffAtOrBelowZero({f.settings.LP_lpcTField, f.settings.LP_hpcTField,
                                           f.settings.BB_lpcTField, f.settings.BB_hpcTField});
    f.log.setupUi(&f.logWindow);
    f.eventList.setupUi(&f.eventListWindow);
    f.help.setupUi(&f.helpWindow);
    f.finder.setupUi(&f.channelFinderWindow);
    // Closing the seismogram window quits; the others only hide.
    for (QWidget* w : {static_cast<QWidget*>(&f.settingsWindow), &f.logWindow, &f.eventListWindow, &f.helpWindow,
                       &f.channelFinderWindow, static_cast<QWidget*>(&f.systemLogWindow),
                       static_cast<QWidget*>(&f.helicorderWindow)})
        w->setAttribute(Qt::WA_QuitOnClose, false);

    // The monitor durations, tagged with their minutes.
    const std::pair<const char*, int> durations[] = {
        {"Last 10 minutes", 10}, {"Last 30 minutes", 30}, {"Last hour", 60}, {"Last 2 hours", 120}};
    for (const auto& [text, minutes] : durations)
        f.seismogram.monitorDurationPopUp->addItem(QObject::tr(text), minutes);
    f.seismogram.monitorDurationPopUp->setCurrentIndex(2);

    // The matrix's cells carry their tags as a property; the group's ids are the tags.
    auto* matrix = new QButtonGroup(&f.seismogramWindow);
    matrix->setObjectName(QStringLiteral("seisServerMatrix"));
    for (QRadioButton* cell : {f.seismogram.monitorWindowCell, f.seismogram.chosenWindowCell})
        matrix->addButton(cell, cell->property("tag").toInt());

    f.eventList.eventListTblView->horizontalHeader()->setSectionResizeMode(
        QHeaderView::ResizeToContents);

    Outlets& o = outlets_;
    o.seismogramWindow = &f.seismogramWindow;
    o.settingsWindow = &f.settingsWindow;
    o.logWindow = &f.logWindow;
    o.helpWindow = &f.helpWindow;
    o.eventListWindow = &f.eventListWindow;
    o.channelFinderWindow = &f.channelFinderWindow;
    o.systemLogWindow = &f.systemLogWindow;
    o.helicorderWindow = &f.helicorderWindow;

    o.connectionLogTView = f.log.connectionLogTView;
    o.channelListTView = f.settings.channelListTView;
    o.channelFileListPopUp = f.settings.channelFileListPopUp;
    o.plotTitleTField = f.settingsWindow.applied(f.settings.plotTitleTField);

    o.channelFinderTView = f.finder.channelFinderTView;
    o.loadChannelInfoButton = f.finder.loadChannelInfoButton;
    o.channelListProgressIndicator = f.finder.channelListProgressIndicator;
    o.networkTField = f.finder.networkTField;
    o.stationTField = f.finder.stationTField;
    o.siteCodeTField = f.finder.siteCodeTField;
    o.channelTField = f.finder.channelTField;
    o.finderSourcePopUp = f.finder.finderSourcePopUp;

    o.seisView = f.seismogram.seisView;
    o.startTField = f.seismogram.startTField;
    o.endTField = f.seismogram.endTField;
    o.queryWarningTField = f.seismogram.queryWarningTField;
    o.networkProgressIndicator = f.seismogram.networkProgressIndicator;
    o.monitorIndicatorTField = f.seismogram.monitorIndicatorTField;
    o.autoUpdateButton = f.seismogram.autoUpdateButton;
    o.seisServerMatrix = matrix;
    o.plotGainSlider = f.seismogram.plotGainSlider;

    o.updateIntervalTField = f.settingsWindow.applied(f.settings.updateIntervalTField);
    o.monitorRequestDurationTField = f.settingsWindow.applied(f.settings.monitorRequestDurationTField);
    o.LP_lpcTField = f.settingsWindow.applied(f.settings.LP_lpcTField);
    o.LP_hpcTField = f.settingsWindow.applied(f.settings.LP_hpcTField);
    o.LP_applyFilterButton = f.settingsWindow.applied(f.settings.LP_applyFilterButton);
    o.LP_decimateButton = f.settingsWindow.applied(f.settings.LP_decimateButton);
    o.LP_integrateButton = f.settingsWindow.applied(f.settings.LP_integrateButton);
    o.LP_decimationFactorTField = f.settingsWindow.applied(f.settings.LP_decimationFactorTField);
    o.LP_wwlpButton = f.settingsWindow.applied(f.settings.LP_wwlpButton);
    o.BB_lpcTField = f.settingsWindow.applied(f.settings.BB_lpcTField);
    o.BB_hpcTField = f.settingsWindow.applied(f.settings.BB_hpcTField);
    o.BB_applyFilterButton = f.settingsWindow.applied(f.settings.BB_applyFilterButton);
    o.BB_decimateButton = f.settingsWindow.applied(f.settings.BB_decimateButton);
    o.BB_integrateButton = f.settingsWindow.applied(f.settings.BB_integrateButton);
    o.BB_decimationFactorTField = f.settingsWindow.applied(f.settings.BB_decimationFactorTField);
    o.BB_wwspButton = f.settingsWindow.applied(f.settings.BB_wwspButton);
    o.BB_wwlpButton = f.settingsWindow.applied(f.settings.BB_wwlpButton);
    o.timeSeriesServiceURLTField = f.settingsWindow.applied(f.settings.timeSeriesServiceURLTField);
    o.timeSeriesServicePopUp = f.settingsWindow.applied(f.settings.timeSeriesServicePopUp);
    o.liveProcessingPopUp = f.settingsWindow.applied(f.settings.liveProcessingPopUp);
    o.eventServiceURLTField = f.settingsWindow.applied(f.settings.eventServiceURLTField);
    o.stationServiceURLTField = f.settingsWindow.applied(f.settings.stationServiceURLTField);
    o.seedLinkServerTField = f.settingsWindow.applied(f.settings.seedLinkServerTField);
    o.statusPageURLTField = f.settingsWindow.applied(f.settings.statusPageURLTField);
    o.maxConcurrentDownloadsTField = f.settingsWindow.applied(f.settings.maxConcurrentDownloadsTField);
    o.transferDeadlineTField = f.settingsWindow.applied(f.settings.transferDeadlineTField);
    o.incrementalUpdatesButton = f.settingsWindow.applied(f.settings.incrementalUpdatesButton);

    o.eventListTblView = f.eventList.eventListTblView;
    o.eventRequestDurationTField = f.eventList.eventRequestDurationTField;
    o.minMagTField = f.eventList.minMagTField;

    // Each window fits the screen it opens on and comes back where it was left.
    const std::pair<QWidget*, const char*> windows[] = {
        {&f.seismogramWindow, "seismogram"}, {&f.settingsWindow, "settings"},
        {&f.logWindow, "log"},               {&f.eventListWindow, "earthquakeList"},
        {&f.helpWindow, "help"},             {&f.channelFinderWindow, "channelFinder"},
        {&f.systemLogWindow, "systemLog"},   {&f.helicorderWindow, "helicorder"},
        {&f.aboutWindow, "about"}};
    for (const auto& [window, key] : windows)
        placement::manage(window, QString::fromLatin1(key), &f.seismogramWindow);

    ActionControls& a = actions_;
    a.retrieveButton = f.seismogram.retrieveButton;
    a.monitorDurationPopUp = f.seismogram.monitorDurationPopUp;
    a.opacitySlider = f.seismogram.opacitySlider;
    a.darkSchemeCheckBox = f.seismogram.darkSchemeCheckBox;
    a.originMarksCheckBox = f.seismogram.originMarksCheckBox;
    a.markHistoryButton = f.log.markHistoryButton;
    a.clearHistoryButton = f.log.clearHistoryButton;
    a.statusPageButton = f.log.statusPageButton;
    a.reloadEventsButton = f.eventList.reloadEventsButton;
    a.eventSeismogramsButton = f.eventList.eventSeismogramsButton;
    a.eventPageButton = f.eventList.eventPageButton;
    servicepresets::bindEventPageButton(a.eventPageButton, o.eventServiceURLTField);
    a.eventMapButton = f.eventList.eventMapButton;
    a.listChannelsButton = f.finder.listChannelsButton;
    a.showSettingsAction = f.seismogram.showSettingsAction;
    a.showLogAction = f.seismogram.showLogAction;
    a.showHelpAction = f.seismogram.showHelpAction;
    a.showEventListAction = f.seismogram.showEventListAction;
    a.showChannelFinderAction = f.seismogram.showChannelFinderAction;
    a.retrieveAction = f.seismogram.retrieveAction;
    a.toggleAutoUpdateAction = f.seismogram.toggleAutoUpdateAction;
    a.setupChannelsAction = f.seismogram.setupChannelsAction;
    a.markHistoryAction = f.seismogram.markHistoryAction;
    a.clearHistoryAction = f.seismogram.clearHistoryAction;
    a.statusPageAction = f.seismogram.statusPageAction;
    a.quitAction = f.seismogram.quitAction;
    a.showSystemLogAction = f.seismogram.showSystemLogAction;
    a.showHelicorderAction = f.seismogram.showHelicorderAction;
    a.openFilesAction = f.seismogram.openFilesAction;
    a.fileDrop = new fileopening::DropTarget(&f.seismogramWindow);
    a.saveImageAction = f.seismogram.saveImageAction;
    a.copyImageAction = f.seismogram.copyImageAction;
    a.saveSeismogramsAction = f.seismogram.saveSeismogramsAction;
    a.fullScreenAction = f.seismogram.fullScreenAction;
    a.followNowButton = f.seismogram.followNowButton;
    a.amplitudeModePopUp = f.seismogram.amplitudeModePopUp;
    a.sortByDistanceButton = f.seismogram.sortByDistanceButton;
    a.travelTimeModelPopUp = f.settingsWindow.applied(f.settings.travelTimeModelPopUp);
    a.dataSourcePopUp = f.seismogram.dataSourcePopUp;
    a.inspectTraceMenu = f.seismogram.inspectTraceMenu;
    a.showAboutAction = f.seismogram.showAboutAction;
    // The commands of the application as a whole answer their keys whichever of its windows has
    // the focus (the menus live in the seismogram window); the others stay with that window.
    for (QAction* action :
         {a.quitAction, a.showSettingsAction, a.showLogAction, a.showHelpAction,
          a.showEventListAction, a.showChannelFinderAction, a.showSystemLogAction,
          a.showHelicorderAction, a.showAboutAction, a.retrieveAction, a.toggleAutoUpdateAction,
          a.setupChannelsAction, a.markHistoryAction})
        if (action)
            action->setShortcutContext(Qt::ApplicationShortcut);
    // The About box needs nothing of the controller.
    f.aboutWindow.setAttribute(Qt::WA_QuitOnClose, false);
    QObject::connect(a.showAboutAction, &QAction::triggered, &f.aboutWindow, [&f] {
        f.aboutWindow.show();
        f.aboutWindow.raise();
        f.aboutWindow.activateWindow();
    });
}

WindowLayout::~WindowLayout() = default;

QMainWindow* WindowLayout::seismogramWindow() const {
    return &forms_->seismogramWindow;
}

QWidget* WindowLayout::aboutWindow() const {
    return &forms_->aboutWindow;
}
