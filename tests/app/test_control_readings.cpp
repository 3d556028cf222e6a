// The settings as the operations read them from the controls, and the small control helpers the
// controller hands its work to: no windows are built, only the controls themselves.
#include "LogCapture.h"

#include "acquisition/MonitorSession.h"
#include "app/ControlValues.h"
#include "app/MonitorControls.h"
#include "app/Outlets.h"
#include "app/SettingsReader.h"
#include "app/UserDefaults.h"
#include "channels/ChannelFinderLookup.h"
#include "channels/ChannelTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <vector>

namespace {

// Every text field and check box the readings look at, each a real control.
struct Controls {
    std::vector<std::unique_ptr<QWidget>> owned;
    Outlets o;

    Controls() {
        for (QLineEdit** f : {&o.monitorRequestDurationTField,
                              &o.eventRequestDurationTField,
                              &o.updateIntervalTField,
                              &o.transferDeadlineTField,
                              &o.maxConcurrentDownloadsTField,
                              &o.minMagTField,
                              &o.LP_lpcTField,
                              &o.LP_hpcTField,
                              &o.LP_decimationFactorTField,
                              &o.BB_lpcTField,
                              &o.BB_hpcTField,
                              &o.BB_decimationFactorTField,
                              &o.stationServiceURLTField,
                              &o.timeSeriesServiceURLTField,
                              &o.seedLinkServerTField,
                              &o.networkTField,
                              &o.stationTField,
                              &o.siteCodeTField,
                              &o.channelTField,
                              &o.plotTitleTField})
            *f = own(new QLineEdit);
        for (QCheckBox** b :
             {&o.LP_applyFilterButton, &o.LP_wwlpButton, &o.LP_decimateButton,
              &o.LP_integrateButton, &o.BB_applyFilterButton, &o.BB_wwlpButton, &o.BB_wwspButton,
              &o.BB_decimateButton, &o.BB_integrateButton, &o.incrementalUpdatesButton})
            *b = own(new QCheckBox);
        o.finderSourcePopUp = own(new QComboBox);
        o.finderSourcePopUp->addItems(
            {QStringLiteral("station service"), QStringLiteral("SeedLink")});
    }
    template <class W> W* own(W* w) {
        owned.emplace_back(w);
        return w;
    }
};

class ControlReadings : public ::testing::Test {
protected:
    ControlReadings() : settings(defaults) {
        settings.registerDefaults();
        QObject context;
        settings.bind(c.o, &context);
    }
    UserDefaults defaults;
    SettingsReader settings;
    Controls c;
    LogCapture log;
};

} // namespace

TEST_F(ControlReadings, LengthsAndPeriodsAreWholeAndInRangeAndWhatIsUsedIsWhatIsLogged) {
    struct Case {
        const char* typed;
        int minutes;
        bool logged;
    };
    for (const Case& k : {Case{"60", 60, false}, Case{"7.9", 7, false}, Case{"1e12", 43200, true},
                          Case{"1e308", 43200, true}, Case{"0", 1, true}, Case{"-5", 1, true},
                          Case{"soon", 1, true}}) {
        log.clear();
        c.o.monitorRequestDurationTField->setText(QString::fromLatin1(k.typed));
        EXPECT_EQ(settings.monitorMinutes(), k.minutes) << k.typed;
        ASSERT_EQ(log.lines().size(), k.logged ? 1 : 0) << k.typed;
        if (k.logged) {
            EXPECT_TRUE(log.lines().front().endsWith(QStringLiteral("using %1.").arg(k.minutes)))
                << log.lines().front().toStdString();
        }
    }
    // An earthquake window keeps its fraction, within the same 30 days.
    c.o.eventRequestDurationTField->setText(QStringLiteral("2.5"));
    EXPECT_DOUBLE_EQ(settings.eventMinutes(), 2.5);
    c.o.eventRequestDurationTField->setText(QStringLiteral("1e9"));
    EXPECT_DOUBLE_EQ(settings.eventMinutes(), MonitorSession::kMaxMinutes);

    // The auto-update period: at least 10 s, said when raised; no longer than a timer holds.
    log.clear();
    c.o.updateIntervalTField->setText(QStringLiteral("120"));
    EXPECT_EQ(settings.autoUpdatePeriod().count(), 120000);
    EXPECT_TRUE(log.lines().isEmpty());
    c.o.updateIntervalTField->setText(QStringLiteral("5"));
    EXPECT_EQ(settings.autoUpdatePeriod().count(), 10000);
    EXPECT_EQ(log.lines(), QStringList{QStringLiteral(
                               "Auto-update period of 5 seconds is too short; using 10 seconds.")});
    c.o.updateIntervalTField->setText(QStringLiteral("1e12"));
    EXPECT_LE(settings.autoUpdatePeriod().count(), INT_MAX);
    EXPECT_GT(settings.autoUpdatePeriod().count(), INT_MAX - 1000);
    // The drum's period comes from the same field, held to a day.
    c.o.updateIntervalTField->setText(QStringLiteral("5"));
    EXPECT_EQ(settings.drumPeriod().count(), 10000);
    c.o.updateIntervalTField->setText(QStringLiteral("1e12"));
    EXPECT_EQ(settings.drumPeriod().count(), 86400000);
    c.o.updateIntervalTField->setText(QStringLiteral("30.7"));
    EXPECT_EQ(settings.drumPeriod().count(), 30000);
}

TEST_F(ControlReadings, TransfersKeepTheirBaseAndTakeTheDeadlineAndConcurrencyInRange) {
    HttpOptions base;
    base.userAgent = QStringLiteral("agent");
    base.idleTimeoutSeconds = 7;
    for (const auto& [typed, seconds] : {std::pair{"1", 2L}, std::pair{"45", 45L},
                                         std::pair{"99999", 3600L}, std::pair{"soon", 2L}}) {
        c.o.transferDeadlineTField->setText(QString::fromLatin1(typed));
        const HttpOptions used = settings.transferOptions(base);
        EXPECT_EQ(used.deadlineSeconds, seconds) << typed;
        EXPECT_EQ(used.userAgent, QStringLiteral("agent"));
        EXPECT_EQ(used.idleTimeoutSeconds, 7);
    }
    for (const auto& [typed, n] :
         {std::pair{"0", 1}, std::pair{"3", 3}, std::pair{"5", 5}, std::pair{"10", 5}}) {
        c.o.maxConcurrentDownloadsTField->setText(QString::fromLatin1(typed));
        EXPECT_EQ(settings.maxConcurrentDownloads(), n) << typed;
    }
    c.o.minMagTField->setText(QStringLiteral("11"));
    EXPECT_FLOAT_EQ(settings.minMagnitude(), 10.0f);
    c.o.minMagTField->setText(QStringLiteral("-1.5"));
    EXPECT_FLOAT_EQ(settings.minMagnitude(), -1.5f);
    // Text without a number reads as 0, as the field would read it, and is said even where 0 is
    // in range; a number with text after it is the number.
    for (const char* typed : {"NaN", "abc", "", " - ", ".e5"}) {
        log.clear();
        c.o.minMagTField->setText(QString::fromLatin1(typed));
        EXPECT_FLOAT_EQ(settings.minMagnitude(), 0.0f) << typed;
        EXPECT_EQ(log.lines(),
                  QStringList{QStringLiteral("The setting minMagnitude of \"%1\" is not a number; "
                                             "using 0.")
                                  .arg(QString::fromLatin1(typed))})
            << typed;
    }
    for (const char* typed : {"4.5", " +.5 ", "-1e0", "6 or so"}) {
        log.clear();
        c.o.minMagTField->setText(QString::fromLatin1(typed));
        settings.minMagnitude();
        EXPECT_TRUE(log.lines().isEmpty()) << typed;
    }
}

TEST_F(ControlReadings, EachProcessingControlLandsInItsOwnSetAndStep) {
    c.o.LP_lpcTField->setText(QStringLiteral("0.11"));
    c.o.LP_hpcTField->setText(QStringLiteral("0.012"));
    c.o.LP_decimationFactorTField->setText(QStringLiteral("3"));
    c.o.BB_lpcTField->setText(QStringLiteral("0.44"));
    c.o.BB_hpcTField->setText(QStringLiteral("0.055"));
    c.o.BB_decimationFactorTField->setText(QStringLiteral("1e9"));
    const std::vector<QCheckBox*> boxes = {
        c.o.LP_applyFilterButton, c.o.LP_wwlpButton,        c.o.LP_decimateButton,
        c.o.LP_integrateButton,   c.o.BB_applyFilterButton, c.o.BB_wwlpButton,
        c.o.BB_wwspButton,        c.o.BB_decimateButton,    c.o.BB_integrateButton};
    // Only `box` on (none with nullptr).
    auto on = [&](QCheckBox* box) {
        for (QCheckBox* b : boxes)
            b->setChecked(b == box);
        return settings.processingOptions();
    };
    const ProcessingOptions none = on(nullptr);
    EXPECT_FALSE(none.longPeriod.filter || none.longPeriod.longPeriodInstrument ||
                 none.longPeriod.decimate || none.longPeriod.integrate);
    EXPECT_FALSE(none.broadband.filter || none.broadband.longPeriodInstrument ||
                 none.broadband.shortPeriodInstrument || none.broadband.decimate ||
                 none.broadband.integrate);
    EXPECT_FLOAT_EQ(none.longPeriod.lowPassCorner, 0.11f);
    EXPECT_FLOAT_EQ(none.longPeriod.highPassCorner, 0.012f);
    EXPECT_EQ(none.longPeriod.decimationFactor, 3);
    EXPECT_FLOAT_EQ(none.broadband.lowPassCorner, 0.44f);
    EXPECT_FLOAT_EQ(none.broadband.highPassCorner, 0.055f);
    EXPECT_EQ(none.broadband.decimationFactor, 1000);

    // Each box turns on its own step only.
    auto count = [](const ProcessingOptions& p) {
        const auto& l = p.longPeriod;
        const auto& b = p.broadband;
        return l.filter + l.longPeriodInstrument + l.shortPeriodInstrument + l.decimate +
               l.integrate + b.filter + b.longPeriodInstrument + b.shortPeriodInstrument +
               b.decimate + b.integrate;
    };
    EXPECT_TRUE(on(c.o.LP_applyFilterButton).longPeriod.filter);
    EXPECT_TRUE(on(c.o.LP_wwlpButton).longPeriod.longPeriodInstrument);
    EXPECT_TRUE(on(c.o.LP_decimateButton).longPeriod.decimate);
    EXPECT_TRUE(on(c.o.LP_integrateButton).longPeriod.integrate);
    EXPECT_TRUE(on(c.o.BB_applyFilterButton).broadband.filter);
    EXPECT_TRUE(on(c.o.BB_wwlpButton).broadband.longPeriodInstrument);
    EXPECT_TRUE(on(c.o.BB_wwspButton).broadband.shortPeriodInstrument);
    EXPECT_TRUE(on(c.o.BB_decimateButton).broadband.decimate);
    EXPECT_TRUE(on(c.o.BB_integrateButton).broadband.integrate);
    for (QCheckBox* b : boxes)
        EXPECT_EQ(count(on(b)), 1) << b;
}

TEST_F(ControlReadings, TheFinderAsksTheStationServiceOrTheSeedLinkServersAsChosen) {
    c.o.stationServiceURLTField->setText(QStringLiteral("http://127.0.0.1:1"));
    c.o.networkTField->setText(QStringLiteral("IU"));
    c.o.stationTField->setText(QStringLiteral("ANMO"));
    c.o.siteCodeTField->setText(QStringLiteral("00"));
    c.o.channelTField->setText(QStringLiteral("BHZ"));
    c.o.finderSourcePopUp->setCurrentIndex(0);
    auto service = settings.finderQuery();
    ASSERT_TRUE(service);
    EXPECT_TRUE(service->seedLinkServers.empty());
    EXPECT_TRUE(service->channelQuery.startsWith(QStringLiteral("http://127.0.0.1:1/")))
        << service->channelQuery.toStdString();
    EXPECT_TRUE(service->channelQuery.contains(QStringLiteral("ANMO")));

    c.o.finderSourcePopUp->setCurrentIndex(1);
    c.o.seedLinkServerTField->setText(QStringLiteral("127.0.0.1:18000"));
    auto stream = settings.finderQuery();
    ASSERT_TRUE(stream);
    ASSERT_EQ(stream->seedLinkServers.size(), 1u);
    EXPECT_EQ(stream->seedLinkServers.front().second, 18000);
    EXPECT_EQ(stream->patterns, (QStringList{"IU", "ANMO", "00", "BHZ"}));

    log.clear();
    c.o.seedLinkServerTField->setText(QStringLiteral("no port here"));
    EXPECT_FALSE(settings.finderQuery());
    EXPECT_EQ(log.lines(), QStringList{QStringLiteral("Channel finder: the SeedLink server \"no "
                                                      "port here\" is not written as host:port.")});
}

TEST_F(ControlReadings, TheSessionTakesTheSourceTheLiveChoiceAndANewTable) {
    MonitorSession session;
    session.setInline(true);
    c.o.plotTitleTField->setText(QStringLiteral("My list"));
    ChannelTable table{{"IU"}, {"ANMO"}, {"BHZ"}, {"00"}, {"ANMO"}};
    defaults.setObject(QStringLiteral("seedLink"), QStringLiteral("dataSource"));
    defaults.setObject(QStringLiteral("window"), QStringLiteral("liveProcessing"));
    settings.configure(session, HttpOptions{}, table);
    EXPECT_EQ(session.source(), MonitorSession::Source::SeedLink);
    EXPECT_EQ(session.liveProcessing(), MonitorSession::LiveProcessing::Window);
    EXPECT_TRUE(session.channels() == table);

    defaults.setObject(QStringLiteral("webService"), QStringLiteral("dataSource"));
    defaults.setObject(QStringLiteral("causal"), QStringLiteral("liveProcessing"));
    table.stations = QStringList{QStringLiteral("COLA")};
    settings.configure(session, HttpOptions{}, table);
    EXPECT_EQ(session.source(), MonitorSession::Source::WebService);
    EXPECT_EQ(session.liveProcessing(), MonitorSession::LiveProcessing::Causal);
    EXPECT_TRUE(session.channels() == table);
}

TEST(MonitorControls, ALengthOfItsOwnGetsOneItemThatGoesWhenAPresetIsShown) {
    QComboBox popup;
    for (int m : {10, 30, 60})
        popup.addItem(QStringLiteral("Last %1 minutes").arg(m), m);
    monitorcontrols::showLength(&popup, 30);
    EXPECT_EQ(popup.count(), 3);
    EXPECT_EQ(popup.currentData().toInt(), 30);
    monitorcontrols::showLength(&popup, 45);
    EXPECT_EQ(popup.count(), 4);
    EXPECT_EQ(popup.currentText(), QStringLiteral("Last 45 minutes"));
    monitorcontrols::showLength(&popup, 90); // replaces 45, not beside it
    EXPECT_EQ(popup.count(), 4);
    EXPECT_EQ(popup.currentData().toInt(), 90);
    EXPECT_EQ(popup.findData(45), -1);
    monitorcontrols::showLength(&popup, 90); // shown again: still one item
    EXPECT_EQ(popup.count(), 4);
    monitorcontrols::showLength(&popup, 10);
    EXPECT_EQ(popup.count(), 3);
    EXPECT_EQ(popup.currentIndex(), 0);
    monitorcontrols::showLength(nullptr, 10);

    // What a pop-up chooses, within 1 to the most; anything else chooses nothing.
    EXPECT_EQ(monitorcontrols::chosenLength(&popup, 60), 10);
    popup.addItem(QStringLiteral("Last 2 days"), 2880);
    popup.setCurrentIndex(popup.count() - 1);
    EXPECT_FALSE(monitorcontrols::chosenLength(&popup, 1440));
    EXPECT_EQ(monitorcontrols::chosenLength(&popup, 2880), 2880);
    popup.addItem(QStringLiteral("none"), 0);
    popup.setCurrentIndex(popup.count() - 1);
    EXPECT_FALSE(monitorcontrols::chosenLength(&popup, 60));
    QLineEdit notAPopUp;
    EXPECT_FALSE(monitorcontrols::chosenLength(&notAPopUp, 60));
    EXPECT_FALSE(monitorcontrols::chosenLength(nullptr, 60));
}

TEST(MonitorControls, RunningShowsStopAndTheIndicatorStoppedHidesThemAndTheProgress) {
    QWidget window;
    QPushButton button;
    QLineEdit indicator;
    QProgressBar progress;
    Outlets o;
    o.autoUpdateButton = &button;
    o.monitorIndicatorTField = &indicator;
    o.networkProgressIndicator = &progress;
    progress.setParent(&window);
    indicator.setParent(&window);
    window.show();
    progress.show();
    monitorcontrols::showRunning(o, true);
    EXPECT_EQ(button.text(), QStringLiteral("Stop"));
    EXPECT_FALSE(indicator.isHidden());
    EXPECT_FALSE(progress.isHidden()); // a refresh may be under way
    monitorcontrols::showRunning(o, false);
    EXPECT_EQ(button.text(), QStringLiteral("Start"));
    EXPECT_TRUE(indicator.isHidden());
    EXPECT_TRUE(progress.isHidden());
    monitorcontrols::showRunning(Outlets{}, true);
}

TEST(ControlHelpers, TheSelectedRowTheTypedTextAndTheLogsEnd) {
    QStandardItemModel model(5, 1);
    QTableView table;
    EXPECT_EQ(selectedRow(&table), -1); // no model, no selection
    table.setModel(&model);
    table.setSelectionBehavior(QAbstractItemView::SelectRows);
    EXPECT_EQ(selectedRow(&table), -1);
    table.selectRow(3);
    EXPECT_EQ(selectedRow(&table), 3);
    EXPECT_EQ(selectedRow(nullptr), -1);

    // A no-break space and each line feed stay as typed.
    QPlainTextEdit view;
    view.setPlainText(QStringLiteral("IU ANMO\u00a0BHZ\nII PFO BHZ"));
    EXPECT_EQ(typedText(&view), QStringLiteral("IU ANMO\u00a0BHZ\nII PFO BHZ"));
    EXPECT_EQ(typedText(nullptr), QString());

    QPlainTextEdit log;
    appendLine(&log, QStringLiteral("one"));
    appendLine(&log, QStringLiteral("two"));
    EXPECT_EQ(log.toPlainText(), QStringLiteral("one\ntwo\n"));
    EXPECT_EQ(log.textCursor().blockNumber(), 1); // at the last line written
    appendLine(nullptr, QStringLiteral("nowhere"));
}
