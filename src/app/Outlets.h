#pragma once

class QAbstractButton;
class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
namespace fileopening {
class DropTarget;
}
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class QTableView;
class QWidget;
class HelicorderWindow;
class QuilmRealTimeDisplayView02;

// The controls the controller works with, named as the controller knows them. The window layout
// fills this in; the controller never creates a control.
struct Outlets {
    // Windows.
    QWidget* seismogramWindow = nullptr;
    QWidget* settingsWindow = nullptr;
    QWidget* logWindow = nullptr;
    QWidget* helpWindow = nullptr;
    QWidget* eventListWindow = nullptr;
    QWidget* channelFinderWindow = nullptr;
    QWidget* systemLogWindow = nullptr;
    HelicorderWindow* helicorderWindow = nullptr;

    // History log and channel lists.
    QPlainTextEdit* connectionLogTView = nullptr;
    QPlainTextEdit* channelListTView = nullptr;
    QComboBox* channelFileListPopUp = nullptr;
    QLineEdit* plotTitleTField = nullptr;

    // Channel finder.
    QPlainTextEdit* channelFinderTView = nullptr;
    QPushButton* loadChannelInfoButton = nullptr;
    QProgressBar* channelListProgressIndicator = nullptr;
    QLineEdit* networkTField = nullptr;
    QLineEdit* stationTField = nullptr;
    QLineEdit* siteCodeTField = nullptr;
    QLineEdit* channelTField = nullptr;
    QComboBox* finderSourcePopUp = nullptr; // 0: the station service, 1: the SeedLink server

    // Seismogram window.
    QuilmRealTimeDisplayView02* seisView = nullptr;
    QLineEdit* startTField = nullptr;
    QLineEdit* endTField = nullptr;
    QLineEdit* queryWarningTField = nullptr;
    QProgressBar* networkProgressIndicator = nullptr;
    QLineEdit* monitorIndicatorTField = nullptr;
    QPushButton* autoUpdateButton = nullptr;
    QButtonGroup* seisServerMatrix = nullptr;
    QSlider* plotGainSlider = nullptr;

    // Settings.
    QLineEdit* updateIntervalTField = nullptr;
    QLineEdit* monitorRequestDurationTField = nullptr;
    QLineEdit* LP_lpcTField = nullptr;
    QLineEdit* LP_hpcTField = nullptr;
    QCheckBox* LP_applyFilterButton = nullptr;
    QCheckBox* LP_decimateButton = nullptr;
    QCheckBox* LP_integrateButton = nullptr;
    QLineEdit* LP_decimationFactorTField = nullptr;
    QCheckBox* LP_wwlpButton = nullptr;
    QLineEdit* BB_lpcTField = nullptr;
    QLineEdit* BB_hpcTField = nullptr;
    QCheckBox* BB_applyFilterButton = nullptr;
    QCheckBox* BB_decimateButton = nullptr;
    QCheckBox* BB_integrateButton = nullptr;
    QLineEdit* BB_decimationFactorTField = nullptr;
    QCheckBox* BB_wwspButton = nullptr;
    QCheckBox* BB_wwlpButton = nullptr;
    QLineEdit* timeSeriesServiceURLTField = nullptr;
    QComboBox* timeSeriesServicePopUp = nullptr; // SAC or dataselect
    QComboBox* liveProcessingPopUp = nullptr;    // causal or whole window, for the stream
    QLineEdit* eventServiceURLTField = nullptr;
    QLineEdit* stationServiceURLTField = nullptr;
    QLineEdit* seedLinkServerTField = nullptr;
    QLineEdit* statusPageURLTField = nullptr;
    QLineEdit* maxConcurrentDownloadsTField = nullptr;
    QLineEdit* transferDeadlineTField = nullptr;
    QCheckBox* incrementalUpdatesButton = nullptr;

    // Earthquake list.
    QTableView* eventListTblView = nullptr;
    QLineEdit* eventRequestDurationTField = nullptr;
    QLineEdit* minMagTField = nullptr;
};

// The buttons, pop-ups, sliders and menu commands through which the user invokes operations.
struct ActionControls {
    QPushButton* retrieveButton = nullptr;
    QComboBox* monitorDurationPopUp = nullptr;
    QSlider* opacitySlider = nullptr;
    QCheckBox* darkSchemeCheckBox = nullptr;
    QCheckBox* originMarksCheckBox = nullptr;
    QPushButton* setupChannelsButton = nullptr;
    QPushButton* markHistoryButton = nullptr;
    QPushButton* clearHistoryButton = nullptr;
    QPushButton* statusPageButton = nullptr;
    QPushButton* reloadEventsButton = nullptr;
    QPushButton* eventSeismogramsButton = nullptr;
    QPushButton* eventPageButton = nullptr;
    QPushButton* eventMapButton = nullptr;
    QPushButton* listChannelsButton = nullptr;

    QAction* showSettingsAction = nullptr;
    QAction* showLogAction = nullptr;
    QAction* showHelpAction = nullptr;
    QAction* showEventListAction = nullptr;
    QAction* showChannelFinderAction = nullptr;
    QAction* retrieveAction = nullptr;
    QAction* toggleAutoUpdateAction = nullptr;
    QAction* setupChannelsAction = nullptr;
    QAction* markHistoryAction = nullptr;
    QAction* clearHistoryAction = nullptr;
    QAction* statusPageAction = nullptr;
    QAction* quitAction = nullptr;
    QAction* showSystemLogAction = nullptr;
    QAction* showHelicorderAction = nullptr;
    QAction* openFilesAction = nullptr;
    fileopening::DropTarget* fileDrop = nullptr; // files dropped onto the seismogram window
    QAction* saveImageAction = nullptr;
    QAction* copyImageAction = nullptr;
    QAction* saveSeismogramsAction = nullptr;
    QAction* fullScreenAction = nullptr;
    QPushButton* followNowButton = nullptr;
    QComboBox* amplitudeModePopUp = nullptr;
    QCheckBox* sortByDistanceButton = nullptr;
    QComboBox* travelTimeModelPopUp = nullptr;
    QComboBox* dataSourcePopUp = nullptr;
    QMenu* inspectTraceMenu = nullptr; // Seismograms → Inspect Trace, one item per trace
    QAction* showAboutAction = nullptr;
};
