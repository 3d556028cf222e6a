// The controller's construction, settings and lists, with the real windows.
#include "AppHarness.h"
#include "QtPrinters.h"

#include "components/NEIC_QueryController.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/sac/SacObject.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

namespace {

struct Row {
    const char* key;
    const char* fallback;
    QLineEdit* Outlets::*field;
};

const Row kSettings[] = {
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
    {"timeSeriesServiceURL", "https://service.iris.edu", &Outlets::timeSeriesServiceURLTField},
    {"eventServiceURL", "https://earthquake.usgs.gov", &Outlets::eventServiceURLTField},
    {"stationServiceURL", "https://service.iris.edu", &Outlets::stationServiceURLTField},
    {"statusPageURL", "http://www.iris.edu", &Outlets::statusPageURLTField},
};

QString settingsFile() {
    return QDir::homePath() + QStringLiteral("/.config/Groundsway/Groundsway.conf");
}

} // namespace

TEST(ControllerState, ConstructionLogsAndLeavesTheUsersZoneAlone) {
    const std::string zone = std::getenv("TZ");
    LogCapture log;
    groundswayController c;
    EXPECT_EQ(log.lines(), QStringList{QStringLiteral("Initializing Controller.")});
    EXPECT_EQ(std::getenv("TZ"), zone); // dates are UTC by their own writing, not by the process
    for (const auto* list : {c.theNetworks().get(), c.theStations().get(), c.theChannels().get(),
                             c.theChannelCodes().get(), c.theLabels().get()})
        EXPECT_TRUE(list && list->isEmpty());
    EXPECT_TRUE(c.theWaveforms() && c.theWaveforms()->empty());
    EXPECT_TRUE(c.availableChannels() && c.availableChannels()->empty());
    EXPECT_TRUE(c.stationObjects() && c.stationObjects()->isEmpty());
    ASSERT_TRUE(c.neicQueryController());
    EXPECT_EQ(c.neicQueryController()->rowCount(), 0);
    EXPECT_EQ(c.theSeismgrmUpdateTimer(), nullptr);
}

TEST(ControllerState, AFirstRunShowsEveryRegisteredDefault) {
    AppHarness app;
    for (const Row& r : kSettings)
        EXPECT_EQ((app.o().*(r.field))->text(), QString::fromLatin1(r.fallback)) << r.key;
    EXPECT_TRUE(app.o().LP_applyFilterButton->isChecked());
    EXPECT_TRUE(app.o().BB_applyFilterButton->isChecked());
    for (QCheckBox* off : {app.o().LP_wwlpButton, app.o().LP_decimateButton,
                           app.o().LP_integrateButton, app.o().BB_wwlpButton, app.o().BB_wwspButton,
                           app.o().BB_decimateButton, app.o().BB_integrateButton})
        EXPECT_FALSE(off->isChecked()) << off->objectName().toStdString();
    // Defaults are a fallback in memory only.
    app.controller().userDefaults().synchronize();
    EXPECT_FALSE(QSettings(settingsFile(), QSettings::NativeFormat)
                     .contains(QStringLiteral("minMagnitude")));
}

TEST(ControllerState, AUsersEditsSurviveARestart) {
    {
        AppHarness app;
        app.o().minMagTField->clear();
        QTest::keyClicks(app.o().minMagTField, QStringLiteral("6.5"));
        app.o().updateIntervalTField->selectAll();
        QTest::keyClicks(app.o().updateIntervalTField, QStringLiteral("300"));
        QTest::mouseClick(app.o().BB_applyFilterButton, Qt::LeftButton);
        QTest::mouseClick(app.o().LP_integrateButton, Qt::LeftButton);
    }
    // Written to the file the platform names, under [General].
    QFile file(settingsFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString content = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(content.contains(QStringLiteral("[General]")));
    EXPECT_TRUE(content.contains(QStringLiteral("minMagnitude=6.5")));
    {
        AppHarness again;
        EXPECT_EQ(again.o().minMagTField->text(), u"6.5");
        EXPECT_EQ(again.o().updateIntervalTField->text(), u"300");
        EXPECT_FALSE(again.o().BB_applyFilterButton->isChecked());
        EXPECT_TRUE(again.o().LP_integrateButton->isChecked());
        EXPECT_EQ(again.o().monitorRequestDurationTField->text(), u"60"); // untouched: default
    }
}

// A settings file edited by hand: two SeedLink servers written with a comma and no quotes are
// read as the text written, not lost as a list the field cannot show.
TEST(ControllerState, AHandWrittenListOfServersIsReadAsWritten) {
    QDir().mkpath(QFileInfo(settingsFile()).path());
    QFile file(settingsFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[General]\nseedLinkServer=127.0.0.1:18101,127.0.0.1:18102\n");
    file.close();
    AppHarness app;
    EXPECT_EQ(app.o().seedLinkServerTField->text(), u"127.0.0.1:18101,127.0.0.1:18102");
}

TEST(ControllerState, ProgrammaticTextIsNotStoredOnlyTheUsersEdit) {
    AppHarness app;
    app.o().plotTitleTField->setText(QStringLiteral("not a setting"));
    app.o().startTField->setText(QStringLiteral("2012-06-15T10:00:00.0000Z"));
    app.o().minMagTField->setText(QStringLiteral("7")); // set by code, not typed
    app.controller().userDefaults().synchronize();
    EXPECT_FALSE(app.controller().userDefaults().isStored(QStringLiteral("minMagnitude")));
}

TEST(ControllerState, SettingAListToTheOneItHoldsLeavesItUntouched) {
    groundswayController c;
    c.theStations()->append(QStringLiteral("ANMO"));
    const auto held = c.theStations();
    c.setTheStations(held);
    EXPECT_EQ(c.theStations(), held);
    EXPECT_EQ(*c.theStations(), QStringList{QStringLiteral("ANMO")});

    auto replacement = std::make_shared<QStringList>(QStringList{QStringLiteral("COLA")});
    c.setTheStations(replacement);
    EXPECT_EQ(c.theStations(), replacement);
    EXPECT_EQ(*held,
              QStringList{QStringLiteral("ANMO")}); // the old list lives on with its other holder
}

TEST(ControllerState, ReplacingTheWaveformListKeepsTheViewOnTheControllersList) {
    AppHarness app;
    app.controller().awakeFromNib();
    EXPECT_EQ(app.o().seisView->wvfrmsArray(), app.controller().theWaveforms().get());
    auto next = std::make_shared<groundswayController::WaveformList>();
    app.controller().setTheWaveforms(next);
    EXPECT_EQ(app.o().seisView->wvfrmsArray(), next.get());
    app.controller().setTheWaveforms(nullptr);
    EXPECT_EQ(app.o().seisView->wvfrmsArray(), nullptr);
}

TEST(ControllerState, TeardownStopsTheTimerAndLetsTheListsGo) {
    auto c = std::make_unique<groundswayController>();
    std::weak_ptr<NEIC_QueryController> neic = c->neicQueryController();
    std::weak_ptr<QStringList> stations = c->theStations();
    c.reset();
    EXPECT_TRUE(neic.expired());
    EXPECT_TRUE(stations.expired());
}

TEST(ControllerState, TheWindowsHoldEveryControlUnderItsName) {
    AppHarness app;
    const Outlets& o = app.o();
    const std::pair<QObject*, const char*> named[] = {
        {o.connectionLogTView, "connectionLogTView"},
        {o.channelListTView, "channelListTView"},
        {o.channelFinderTView, "channelFinderTView"},
        {o.loadChannelInfoButton, "loadChannelInfoButton"},
        {o.channelListProgressIndicator, "channelListProgressIndicator"},
        {o.networkTField, "networkTField"},
        {o.stationTField, "stationTField"},
        {o.siteCodeTField, "siteCodeTField"},
        {o.channelTField, "channelTField"},
        {o.channelFinderWindow, "channelFinderWindow"},
        {o.seisView, "seisView"},
        {o.startTField, "startTField"},
        {o.endTField, "endTField"},
        {o.queryWarningTField, "queryWarningTField"},
        {o.networkProgressIndicator, "networkProgressIndicator"},
        {o.monitorIndicatorTField, "monitorIndicatorTField"},
        {o.autoUpdateButton, "autoUpdateButton"},
        {o.updateIntervalTField, "updateIntervalTField"},
        {o.seisServerMatrix, "seisServerMatrix"},
        {o.LP_lpcTField, "LP_lpcTField"},
        {o.LP_hpcTField, "LP_hpcTField"},
        {o.LP_applyFilterButton, "LP_applyFilterButton"},
        {o.LP_decimateButton, "LP_decimateButton"},
        {o.LP_integrateButton, "LP_integrateButton"},
        {o.LP_decimationFactorTField, "LP_decimationFactorTField"},
        {o.LP_wwlpButton, "LP_wwlpButton"},
        {o.BB_lpcTField, "BB_lpcTField"},
        {o.BB_hpcTField, "BB_hpcTField"},
        {o.BB_applyFilterButton, "BB_applyFilterButton"},
        {o.BB_decimateButton, "BB_decimateButton"},
        {o.BB_integrateButton, "BB_integrateButton"},
        {o.BB_decimationFactorTField, "BB_decimationFactorTField"},
        {o.BB_wwspButton, "BB_wwspButton"},
        {o.BB_wwlpButton, "BB_wwlpButton"},
        {o.plotGainSlider, "plotGainSlider"},
        {o.eventListTblView, "eventListTblView"},
        {o.eventListWindow, "eventListWindow"},
        {o.eventRequestDurationTField, "eventRequestDurationTField"},
        {o.minMagTField, "minMagTField"},
        {o.monitorRequestDurationTField, "monitorRequestDurationTField"},
        {o.plotTitleTField, "plotTitleTField"},
        {o.channelFileListPopUp, "channelFileListPopUp"},
        {o.settingsWindow, "settingsWindow"},
        {o.logWindow, "logWindow"},
        {o.helpWindow, "helpWindow"},
        {o.seismogramWindow, "seismogramWindow"},
    };
    for (const auto& [control, name] : named) {
        ASSERT_NE(control, nullptr) << name;
        EXPECT_EQ(control->objectName(), QString::fromLatin1(name));
    }
    EXPECT_STREQ(o.seisView->metaObject()->className(), "QuilmRealTimeDisplayView02");
    ASSERT_NE(o.seisServerMatrix->button(20), nullptr);
    const ActionControls& a = app.actions();
    for (QObject* command : std::initializer_list<QObject*>{
             a.showSettingsAction, a.showLogAction, a.showHelpAction, a.showEventListAction,
             a.showChannelFinderAction, a.retrieveButton, a.monitorDurationPopUp})
        EXPECT_NE(command, nullptr);
}
