// The whole start-up sequence with the real windows, a throwaway home and a real server.
#include "AppHarness.h"
#include "QtPrinters.h"
#include "SeismogramServer.h"
#include "acquisition/MonitorSession.h"
#include "app/AboutDialog.h"
#include "app/SettingsDialog.h"
#include "components/NEIC_QueryController.h"
#include "components/QuilmRealTimeDisplayView02.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTextBrowser>

#include <QCheckBox>

#include <gtest/gtest.h>

namespace {

QString readingFrom(const QString& folder) {
    return QStringLiteral("Reading the channel lists and start-up files from %1.").arg(folder);
}

// The home is the test's own, set once the process runs.
QStringList quietStart() {
    return {"Initializing Controller.", readingFrom(AppHarness::supportDirectory()),
            "Loading initial channel information.", "Done Waking."};
}

} // namespace

TEST(StartUp, WithNoSupportDirectoryThePresetListIsParsedAndNothingElseHappens) {
    AppHarness::removeSupportDirectory();
    AppHarness app;
    app.controller().awakeFromNib();
    EXPECT_EQ(app.log().lines(), quietStart());
    EXPECT_EQ(app.o().channelFileListPopUp->count(), 0);
    EXPECT_EQ(app.controller().theSeismgrmUpdateTimer(), nullptr);
    EXPECT_GE(app.controller().theStations()->size(), 4);
    EXPECT_EQ(*app.controller().supportDirectory(), QDir::homePath() + "/.local/share/Groundsway");
}

TEST(StartUp, SetsUpTheDisplayTheTableTheFontsAndTheGain) {
    AppHarness app;
    auto& c = app.controller();
    app.o().plotGainSlider->blockSignals(true);
    app.o().plotGainSlider->setValue(75);
    app.o().plotGainSlider->blockSignals(false);
    c.awakeFromNib();
    QuilmRealTimeDisplayView02& view = *app.o().seisView;
    EXPECT_EQ(view.wvfrmsArray(), c.theWaveforms().get());
    EXPECT_EQ(view.xLabel(), u"Time (seconds)");
    EXPECT_TRUE(view.drawOriginTimes());
    EXPECT_FLOAT_EQ(view.waveformGain(), 3.0f);
    EXPECT_EQ(app.o().eventListTblView->model(), c.neicQueryController().get());
    for (QPlainTextEdit* v :
         {app.o().connectionLogTView, app.o().channelListTView, app.o().channelFinderTView}) {
        EXPECT_EQ(v->font().family(), u"Courier") << v->objectName().toStdString();
        EXPECT_EQ(v->font().pointSize(), 11);
        EXPECT_EQ(v->font().styleHint(), QFont::TypeWriter);
    }
}

TEST(StartUp, WithTheMarkerFileTheMonitorStartsAndRefreshesBeforeDoneWaking) {
    SeismogramServer server;
    server.eventBody = eventText({"ev1|2026-12-07T20:00:00.000|10|20|33|||||mw|5|x|R"});
    server.start();
    AppHarness::writeSupportFile("autoUpdate.txt", "");
    AppHarness::writeSupportFile(
        "ChannelLists/Mine.txt",
        "Title;My monitor\nIU;ANMO;LHZ;00;Albuquerque\nIU;COLA;LHZ;00;College\n");
    AppHarness::writeSupportFile("defaultChannelListName.txt", "Mine.txt");
    AppHarness app;
    app.useServices(server.baseUrl());
    app.o().monitorRequestDurationTField->setText("10");
    // What the server had seen when each line was logged.
    std::vector<std::pair<QString, std::size_t>> seen;
    LogCapture log;
    const auto previous = setSystemLogObserver(
        [&](const QString& m) { seen.emplace_back(m, server.requests().size()); });
    app.controller().awakeFromNib();
    setSystemLogObserver(previous);
    QStringList lines;
    for (const auto& [line, count] : seen)
        lines << line;
    EXPECT_EQ(lines, (QStringList{readingFrom(AppHarness::supportDirectory()),
                                  "Loading initial channel information.", "Turned on auto update.",
                                  "Done Waking."}));
    EXPECT_EQ(seen[2].second, 0u);
    EXPECT_EQ(seen[3].second, 3u); // the catalogue and both channels before "Done Waking."
    EXPECT_EQ(server.requests()[0].path, "/fdsnws/event/1/query");
    EXPECT_NE(app.controller().theSeismgrmUpdateTimer(), nullptr);
    EXPECT_EQ(app.o().autoUpdateButton->text(), u"Stop");
    EXPECT_EQ(app.controller().theWaveforms()->size(), 2u);
    EXPECT_EQ(app.o().seisView->title(), u"My monitor");
    EXPECT_TRUE(app.o().seisView->originOnRight());
    EXPECT_EQ(app.o().seisView->eventOrigins().size(), 1u);
}

TEST(StartUp, FinishingTheLaunchBringsTheSeismogramWindowInFront) {
    AppHarness app;
    app.controller().awakeFromNib();
    app.controller().applicationDidFinishLaunching();
    EXPECT_FALSE(app.o().settingsWindow->isVisible()); // from the menu only
    EXPECT_TRUE(app.o().seismogramWindow->isVisible());
    EXPECT_EQ(app.o().seismogramWindow->focusWidget(), app.o().seisView);
    EXPECT_EQ(app.log().lines().value(app.log().lines().size() - 1),
              u"Application has finished launching.");
}

TEST(StartUp, TheWindowCommandsShowTheirWindowsWithNoFieldFocused) {
    AppHarness app;
    auto& c = app.controller();
    c.awakeFromNib();
    const std::pair<void (groundswayController::*)(QObject*), QWidget*> commands[] = {
        {&groundswayController::showSettingsWindow, app.o().settingsWindow},
        {&groundswayController::showLogWindow, app.o().logWindow},
        {&groundswayController::showHelpWindow, app.o().helpWindow},
    };
    for (const auto& [command, window] : commands) {
        // A field that held the keyboard before gives it up.
        window->show();
        QWidget* field = nullptr;
        for (QWidget* w : window->findChildren<QWidget*>())
            if (!field && w->focusPolicy() != Qt::NoFocus && w->isVisible())
                field = w;
        ASSERT_NE(field, nullptr) << window->objectName().toStdString();
        field->setFocus();
        ASSERT_EQ(window->focusWidget(), field);
        (c.*command)(nullptr);
        EXPECT_TRUE(window->isVisible()) << window->objectName().toStdString();
        QWidget* focus = window->focusWidget();
        EXPECT_TRUE(focus == nullptr || focus == window) << window->objectName().toStdString();
    }
}

TEST(StartUp, TheHelpIsThere) {
    AppHarness app;
    auto* browser = app.o().helpWindow->findChild<QTextBrowser*>("helpTextBrowser");
    ASSERT_NE(browser, nullptr);
    const QString help = browser->toPlainText();
    for (const char* topic :
         {"Channel lists", "Title;", "ChannelLists", "defaultChannelListName.txt", "autoUpdate.txt",
          "Monitor", "Earthquake", "Taper and filter", "WWSSN", "Decimate", "Integrate",
          "system log", "Looking closer", "trace inspector", "An earthquake's context",
          "helicorder"})
        EXPECT_TRUE(help.contains(QLatin1StringView(topic))) << topic;
}

TEST(StartUp, TheSeismogramWindowFitsALaptopScreenWithEveryIndicatorShowing) {
    AppHarness app;
    app.controller().awakeFromNib();
    app.controller().applicationDidFinishLaunching();
    app.o().monitorIndicatorTField->setVisible(true);
    app.o().networkProgressIndicator->setVisible(true);
    app.o().queryWarningTField->setVisible(true);
    app.actions().followNowButton->setVisible(true);
    QWidget* window = app.o().seismogramWindow;
    EXPECT_LE(window->minimumSizeHint().width(), 1280);
    // The monitoring mark is never squeezed into a fragment of its text.
    window->resize(window->minimumSizeHint());
    QCoreApplication::processEvents();
    const QLineEdit* mark = app.o().monitorIndicatorTField;
    EXPECT_GE(mark->width(), mark->fontMetrics().horizontalAdvance(mark->text()) + 4);
}

TEST(StartUp, HelpAboutNamesTheVersionTheLicencesAndWhereTheDataComeFrom) {
    AppHarness app;
    ASSERT_NE(app.actions().showAboutAction, nullptr);
    app.actions().showAboutAction->trigger();
    AboutDialog* about = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<AboutDialog*>(w); d && d->isVisible())
            about = d;
    ASSERT_NE(about, nullptr);
    const QString text = about->text();
    for (const char* needed :
         {GROUNDSWAY_VERSION, "Lesser General Public License", "FFTW", "libmseed", "libcurl",
          "Flinn-Engdahl", "iasp91", "ak135", "U.S. Geological Survey", "IRIS"})
        EXPECT_TRUE(text.contains(QLatin1StringView(needed))) << needed;
}

TEST(StartUp, TheEmptyLogAndChannelFinderSayWhatWillAppearThere) {
    AppHarness app;
    EXPECT_TRUE(app.o().connectionLogTView->toPlainText().isEmpty());
    EXPECT_TRUE(app.o().connectionLogTView->placeholderText().contains(u"auto-update is off"));
    EXPECT_TRUE(app.o().channelFinderTView->toPlainText().isEmpty());
    EXPECT_TRUE(app.o().channelFinderTView->placeholderText().contains(u"Find Channels"));
}

// Stored choices that name nothing the application has are brought to one it has, each said once
// with the value used: a number out of range, a model not offered, a source not known.
TEST(StartUp, StoredSettingsThatNameNothingAreSaidOnceWithTheValueUsed) {
    AppHarness app;
    auto& c = app.controller();
    c.userDefaults().setObject(QStringLiteral("7"), QStringLiteral("amplitudeMode"));
    c.userDefaults().setObject(QStringLiteral("prem"), QStringLiteral("travelTimeModel"));
    c.userDefaults().setObject(QStringLiteral("carrier pigeon"), QStringLiteral("dataSource"));
    app.log().clear();
    c.awakeFromNib();
    for (const char* line :
         {"The setting amplitudeMode of \"7\" is outside 0 to 2; using 2.",
          "The setting travelTimeModel of \"prem\" is not one of iasp91, ak135; using iasp91.",
          "The setting dataSource of \"carrier pigeon\" is not one of webService, seedLink; using "
          "webService."})
        EXPECT_EQ(app.log().lines().count(QString::fromLatin1(line)), 1) << line;
    EXPECT_EQ(app.actions().amplitudeModePopUp->currentIndex(), 2);
    EXPECT_EQ(app.actions().travelTimeModelPopUp->currentText(), u"iasp91");
    EXPECT_EQ(app.actions().dataSourcePopUp->currentIndex(), 0);
    EXPECT_FALSE(c.streamChosen());

    // Stored choices that name something are shown as they are, in every pop-up and switch.
    c.userDefaults().setObject(QStringLiteral("1"), QStringLiteral("amplitudeMode"));
    c.userDefaults().setObject(QStringLiteral("ak135"), QStringLiteral("travelTimeModel"));
    c.userDefaults().setObject(QStringLiteral("seedLink"), QStringLiteral("dataSource"));
    c.userDefaults().setObject(true, QStringLiteral("sortByDistance"));
    app.log().clear();
    c.awakeFromNib();
    EXPECT_EQ(app.actions().amplitudeModePopUp->currentIndex(), 1);
    EXPECT_EQ(app.actions().travelTimeModelPopUp->currentText(), u"ak135");
    EXPECT_EQ(app.actions().dataSourcePopUp->currentIndex(), 1);
    EXPECT_TRUE(app.actions().sortByDistanceButton->isChecked());
    EXPECT_TRUE(c.streamChosen());
    const QString said = app.log().lines().join(u'\n');
    EXPECT_FALSE(said.contains(u"The setting")) << said.toStdString();
}

// How streamed rows are processed: a stored value that names neither way is said once, and the
// session and the settings pop-up take the causal default; a choice applied there is stored and
// reaches the session at once.
TEST(StartUp, TheStoredLiveProcessingReachesTheSessionOrIsSaidOnceAndDefaulted) {
    SeismogramServer server;
    server.start();
    AppHarness app;
    auto& c = app.controller();
    app.useServices(server.baseUrl());
    c.userDefaults().setObject(QStringLiteral("psychic"), QStringLiteral("liveProcessing"));
    app.log().clear();
    c.awakeFromNib();
    app.typeWindow();
    c.retrieveSeismograms(nullptr);
    c.retrieveSeismograms(nullptr);
    const QString line = QStringLiteral(
        "The setting liveProcessing of \"psychic\" is not one of causal, window; using causal.");
    EXPECT_EQ(app.log().lines().count(line), 1);
    EXPECT_EQ(c.monitorSession().liveProcessing(), MonitorSession::LiveProcessing::Causal);
    EXPECT_EQ(app.o().liveProcessingPopUp->currentIndex(), 0);

    auto* dialog = qobject_cast<SettingsDialog*>(app.o().settingsWindow);
    ASSERT_NE(dialog, nullptr);
    c.showSettingsWindow(nullptr);
    QCoreApplication::processEvents();
    auto* popUp = dialog->findChild<QComboBox*>(QStringLiteral("liveProcessingPopUp"));
    ASSERT_NE(popUp, nullptr);
    popUp->setCurrentIndex(1);
    dialog->findChild<QDialogButtonBox*>(QStringLiteral("settingsButtonBox"))
        ->button(QDialogButtonBox::Apply)
        ->click();
    EXPECT_EQ(c.userDefaults().stringForKey("liveProcessing"), u"window");
    EXPECT_EQ(c.monitorSession().liveProcessing(), MonitorSession::LiveProcessing::Window);
}
