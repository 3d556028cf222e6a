// Keeping and looking closer at what is on screen: images and SAC files written and read back,
// the snapshot mode of the real binary, the system log window, the Monitor pop-up, the trace
// inspector's spectra.
#include "AppHarness.h"
#include "RunSnapshot.h"
#include "QtPrinters.h"
#include "SeismogramServer.h"
#include "app/SystemLogWindow.h"
#include "app/TraceMenus.h"
#include "base/SystemLog.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/TraceInspector.h"
#include "components/sac/SacObject.h"
#include "components/sac/Spectrum.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <numbers>

namespace {

class LookCloser : public ::testing::Test {
protected:
    SeismogramServer server;
    AppHarness app;
    groundswayController& c = app.controller();
    QTemporaryDir dir;

    void SetUp() override {
        server.start();
        app.useServices(server.baseUrl());
        c.awakeFromNib();
        app.typeWindow();
        app.setChannelList(QStringLiteral("IU;ANMO;BHZ;00;Albuquerque\nII;KDAK;LHZ;00;Kodiak\n"));
        c.retrieveSeismograms(nullptr);
    }
};

SacObject readSac(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    const QByteArray b = f.readAll();
    SacObject s;
    EXPECT_TRUE(s.initWithNSData(std::as_bytes(std::span(b.constData(), static_cast<std::size_t>(b.size()))), ""));
    return s;
}

} // namespace

TEST_F(LookCloser, SeismogramsAreWrittenRawAndProcessedAndReadBackTheSame) {
    ASSERT_EQ(c.theWaveforms()->size(), 2u);
    ASSERT_TRUE(c.writeSeismograms(dir.path()));
    const QStringList processed = QDir(dir.filePath("processed")).entryList(QDir::Files);
    EXPECT_EQ(processed, (QStringList{"II.KDAK.00.LHZ.20120615T100000Z.sac",
                                      "IU.ANMO.00.BHZ.20120615T100000Z.sac"}));
    const SacObject back = readSac(dir.filePath("processed/IU.ANMO.00.BHZ.20120615T100000Z.sac"));
    const SacObject& shown = *c.theWaveforms()->front();
    ASSERT_EQ(back.samples().size(), shown.samples().size());
    EXPECT_TRUE(std::equal(back.samples().begin(), back.samples().end(), shown.samples().begin()));
    EXPECT_LT(std::abs(civil::secondsBetween(back.startTime(), shown.startTime())), 1e-6);
    const SacObject raw = readSac(dir.filePath("raw/IU.ANMO.00.BHZ.20120615T100000Z.sac"));
    EXPECT_EQ(raw.samples().size(), shown.samples().size());
    EXPECT_NE(raw.samples()[100], shown.samples()[100]); // not the processed one
}

TEST_F(LookCloser, ImagesComeOutAtTheSizeAskedFor) {
    ASSERT_TRUE(c.writeImage(dir.filePath("a.png"), QSize(1200, 700)));
    EXPECT_EQ(QImage(dir.filePath("a.png")).size(), QSize(1200, 700));
    ASSERT_TRUE(c.writeImage(dir.filePath("a.svg"), QSize(800, 500)));
    QFile svg(dir.filePath("a.svg"));
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    const QByteArray text = svg.readAll();
    EXPECT_TRUE(text.contains("<svg") && text.contains("width=\"800\"")) << text.left(300).toStdString();
    EXPECT_FALSE(c.writeImage(QStringLiteral("/no/such/folder/x.png"), QSize(100, 100)));
}

TEST_F(LookCloser, TheSystemLogWindowShowsWhatWasWrittenAndWhatComesLater) {
    systemLog(QStringLiteral("before the window"));
    SystemLogWindow window;
    EXPECT_TRUE(window.view()->toPlainText().contains(u"Groundsway[") );
    EXPECT_TRUE(window.view()->toPlainText().contains(u"before the window"));
    systemLog(QStringLiteral("after it opened"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.view()->toPlainText().contains(u"after it opened"); }, 2000));
    EXPECT_TRUE(window.view()->toPlainText().endsWith(u"after it opened"));
    window.clearButton()->click();
    EXPECT_TRUE(window.view()->toPlainText().isEmpty());
}

TEST_F(LookCloser, TheMonitorPopUpShowsTheLengthTheSettingsAskFor) {
    auto* popup = app.actions().monitorDurationPopUp;
    app.o().monitorRequestDurationTField->setText(QStringLiteral("10"));
    EXPECT_EQ(popup->currentText(), u"Last 10 minutes");
    app.o().monitorRequestDurationTField->setText(QStringLiteral("45"));
    EXPECT_EQ(popup->currentText(), u"Last 45 minutes");
    EXPECT_EQ(popup->currentData().toInt(), 45);
    app.o().monitorRequestDurationTField->setText(QStringLiteral("60"));
    EXPECT_EQ(popup->currentText(), u"Last hour");
    EXPECT_EQ(popup->findText(QStringLiteral("Last 45 minutes")), -1);
}

TEST_F(LookCloser, TheInspectorShowsASinesFrequencyInItsSpectrumAndSpectrogram) {
    std::vector<float> x(4000);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<float>(3.0 * std::sin(2 * std::numbers::pi * 2.5 * static_cast<double>(i) * 0.05));
    const auto s = sac::dsp::amplitudeSpectrum(x, 0.05);
    const auto peak = std::max_element(s.amplitude.begin(), s.amplitude.end()) - s.amplitude.begin();
    EXPECT_NEAR(s.frequency[static_cast<std::size_t>(peak)], 2.5, 0.01);
    EXPECT_NEAR(s.amplitude[static_cast<std::size_t>(peak)], 3.0, 0.3);
    const auto g = sac::dsp::spectrogram(x, 0.05, 128, 0.5);
    ASSERT_GT(g.windows, 10u);
    std::size_t best = 0;
    for (std::size_t k = 0; k < g.bins; ++k)
        if (g.at(g.windows / 2, k) > g.at(g.windows / 2, best))
            best = k;
    EXPECT_NEAR(static_cast<double>(best) * g.binHz, 2.5, g.binHz);

    // Through the application: a double-click's operation opens it on the trace's visible span.
    c.inspectTrace(0);
    ASSERT_TRUE(c.traceInspector());
    EXPECT_TRUE(c.traceInspector()->isVisible());
    EXPECT_FALSE(c.traceInspector()->spectrum().frequency.empty());
    EXPECT_GT(c.traceInspector()->spectrogram().windows, 0u);
}

TEST_F(LookCloser, TheInspectorIsOnTheViewsContextMenuAndTheSeismogramsMenu) {
    QuilmRealTimeDisplayView02& view = *app.o().seisView;
    view.resize(900, 500);
    // Over the first trace's band, its own item; beside the traces, a list of them.
    const QRect plot = view.plotRect(view.size());
    const QPoint onFirst(plot.center().x(), plot.top() + plot.height() / 4);
    ASSERT_EQ(view.traceAt(onFirst, view.size()), 0);
    std::unique_ptr<QMenu> menu(tracemenus::contextMenu(
        &view, onFirst, {app.actions().saveImageAction}, [&](int k) { c.inspectTrace(k); }, nullptr));
    auto* inspect = menu->findChild<QAction*>("inspectThisTraceAction");
    ASSERT_NE(inspect, nullptr);
    EXPECT_TRUE(inspect->text().contains(u"ANMO")) << inspect->text().toStdString();
    EXPECT_TRUE(menu->actions().contains(app.actions().saveImageAction));
    inspect->trigger();
    ASSERT_TRUE(c.traceInspector());
    EXPECT_TRUE(c.traceInspector()->isVisible());
    EXPECT_TRUE(c.traceInspector()->windowTitle().contains(u"Inspector"));

    QMenu* traces = app.actions().inspectTraceMenu;
    ASSERT_NE(traces, nullptr);
    emit traces->aboutToShow();
    ASSERT_EQ(traces->actions().size(), 2);
    EXPECT_TRUE(traces->actions()[1]->text().contains(u"KDAK"));
    c.traceInspector()->hide();
    traces->actions()[1]->trigger();
    EXPECT_TRUE(c.traceInspector()->isVisible());
}

TEST(Snapshot, WritesTheImageOrSaysWhyNotWithItsExitCode) {
    SeismogramServer server;
    server.eventBody = eventText({});
    server.start();
    QTemporaryDir home;
    const QString support = home.path() + "/.local/share/Groundsway/ChannelLists/";
    QDir().mkpath(support);
    QDir().mkpath(home.path() + "/.config/Groundsway");
    QFile conf(home.path() + "/.config/Groundsway/Groundsway.conf");
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write(("[General]\ntimeSeriesServiceURL=" + server.baseUrl() + "\neventServiceURL=" +
                server.baseUrl() + "\nmonitorDurationMinutes=2\n").toUtf8());
    conf.close();
    for (const auto& [name, text] : {std::pair{"Good.txt", "IU;ANMO;BHZ;00;a\n"},
                                     std::pair{"Broken.txt", "IU;FAIL404;BHZ;00;b\n"}}) {
        QFile f(support + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    auto run = [&](const QStringList& args) { return runGroundsway(home.path(), args); };
    const QString out = home.filePath("shot.png");
    const auto good = run({"--snapshot", out, "--size", "1000x600", "--list", "Good"});
    EXPECT_EQ(good.first, 0) << good.second.toStdString();
    EXPECT_EQ(QImage(out).size(), QSize(1000, 600));
    const auto broken = run({"--snapshot", home.filePath("no.png"), "--list", "Broken"});
    EXPECT_EQ(broken.first, 1);
    EXPECT_TRUE(broken.second.contains(u"groundsway: no trace could be drawn")) << broken.second.toStdString();
    EXPECT_FALSE(QFile::exists(home.filePath("no.png")));
    EXPECT_EQ(run({"--snapshot", out, "--size", "huge"}).first, 2);
    EXPECT_EQ(run({"--size", "100x100"}).first, 2); // --size goes with --snapshot

    // The format is the one the name says, and success is quiet unless asked otherwise.
    const std::pair<const char*, QByteArray> formats[] = {
        {"shot.PNG", QByteArray("\x89PNG")}, {"shot.jpg", QByteArray("\xff\xd8\xff")},
        {"shot.jpeg", QByteArray("\xff\xd8\xff")}, {"shot.svg", QByteArray("<?xml")}};
    for (const auto& [name, magic] : formats) {
        const auto r = run({"--snapshot", home.filePath(name), "--size", "400x300", "--list", "Good"});
        EXPECT_EQ(r.first, 0) << name;
        EXPECT_TRUE(r.second.isEmpty()) << name << ": " << r.second.toStdString();
        QFile f(home.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name;
        EXPECT_TRUE(f.readAll().startsWith(magic)) << name;
    }
    const auto verbose = run({"--snapshot", home.filePath("v.png"), "--verbose", "--list", "Good"});
    EXPECT_EQ(verbose.first, 0);
    EXPECT_TRUE(verbose.second.contains(u"Groundsway[")) << verbose.second.toStdString();
    EXPECT_TRUE(broken.second.contains(u"The system log of this run:")); // a failure shows it
    EXPECT_TRUE(broken.second.contains(u"FAIL404"));
    const auto gif = run({"--snapshot", home.filePath("shot.gif"), "--list", "Good"});
    EXPECT_EQ(gif.first, 2);
    EXPECT_TRUE(gif.second.contains("not '" + home.filePath("shot.gif") + "'"));
    EXPECT_FALSE(QFile::exists(home.filePath("shot.gif")));
    // Into a folder that does not exist: said, exit 1, nothing left behind.
    const auto nowhere = run({"--snapshot", home.filePath("none/x.png"), "--list", "Good"});
    EXPECT_EQ(nowhere.first, 1);
    EXPECT_TRUE(nowhere.second.contains("Could not write " + home.filePath("none/x.png")))
        << nowhere.second.toStdString();
}
