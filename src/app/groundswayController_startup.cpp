// Start-up sequence and the window commands.
#include "app/groundswayController.h"

#include "app/LiveChoice.h"
#include "app/SettingsReader.h"
#include "app/ServiceChoice.h"

#include "base/AsciiFile.h"
#include "base/DataDirectory.h"
#include "base/SystemLog.h"
#include "components/NEIC_QueryController.h"
#include "components/QuilmRealTimeDisplayView02.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFont>
#include <QPlainTextEdit>
#include <QTableView>

#include <algorithm>

namespace {

void setLogFont(QPlainTextEdit* view) {
    if (!view)
        return;
    QFont font(QStringLiteral("Courier"), 11);
    font.setStyleHint(QFont::TypeWriter); // a monospace face where Courier is missing
    view->setFont(font);
}

} // namespace

void groundswayController::awakeFromNib() {
    // 1. The seismogram window's opacity can change later; Qt needs nothing more for that.
    // 2-3. The view draws our own list from now on.
    if (o_.seisView) {
        o_.seisView->setWvfrmsArray(theWaveforms_.get());
        o_.seisView->setXLabelString(QStringLiteral("Time (seconds)"));
        o_.seisView->setDrawOriginTimes(true);
    }
    // 4.
    setLogFont(o_.connectionLogTView);
    setLogFont(o_.channelListTView);
    setLogFont(o_.channelFinderTView);
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
    // 8.
    systemLog(QStringLiteral("Loading initial channel information."));
    // 9.
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
    showWindow(o_.seismogramWindow);
    // The plot, not the first field, has the keyboard: a field would take Ctrl+E and the
    // other window shortcuts for its own line editing.
    if (o_.seisView)
        o_.seisView->setFocus(Qt::OtherFocusReason);
    systemLog(QStringLiteral("Application has finished launching."));
}

void groundswayController::showSettingsWindow(QObject*) {
    showWindow(o_.settingsWindow);
    makeNoFirstResponder(o_.settingsWindow);
}

void groundswayController::showLogWindow(QObject*) {
    showWindow(o_.logWindow);
    makeNoFirstResponder(o_.logWindow);
}

void groundswayController::showHelpWindow(QObject*) {
    showWindow(o_.helpWindow);
    makeNoFirstResponder(o_.helpWindow);
}
