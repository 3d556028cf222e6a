// Settings → Services → Data centre: the presets file built in, what a preset fills, and the
// event page link shown only for a catalogue that has pages.
#include "AppHarness.h"
#include "QtPrinters.h"

#include "app/ServicePresets.h"
#include "app/SettingsDialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

TEST(ServicePresets, TheFileInTheRepositoryParsesAndEveryEntryHasItsAddresses) {
    QFile file(QStringLiteral(GS_SOURCE_DIR "/data/service-presets/presets.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QString why;
    const auto presets = servicepresets::parse(file.readAll(), &why);
    ASSERT_TRUE(presets) << why.toStdString();
    EXPECT_GE(presets->size(), 5u);
    EXPECT_EQ(servicepresets::builtIn().size(), presets->size()) << "the file is the one built in";
    for (const auto& p : *presets) {
        for (const QString* a : {&p.waveform, &p.station, &p.event})
            EXPECT_TRUE(a->startsWith("http://") || a->startsWith("https://"))
                << p.name.toStdString();
        // Only the catalogue with event pages says so.
        EXPECT_EQ(p.eventPages, p.event == u"https://earthquake.usgs.gov") << p.name.toStdString();
    }
}

TEST(ServicePresets, AFileWithAFaultIsRefusedSayingWhy) {
    const auto entry = [](const char* fields) {
        return QByteArray(R"({"presets":[{"name":"A","waveform":"http://a","station":"http://a",)"
                          R"("event":"http://a","timeSeriesService":"fdsnDataselect")") +
               fields + "}]}";
    };
    EXPECT_TRUE(servicepresets::parse(entry("")));
    EXPECT_TRUE(servicepresets::parse(entry(R"(,"seedLink":"a:18000")")));
    const std::pair<QByteArray, const char*> cases[] = {
        {"not json", ""},
        {R"({"presets":[]})", "no list"},
        {entry(R"(,"seedLink":"a")"), "port"},
        {R"({"presets":[{"name":"A","waveform":"ftp://a","station":"http://a","event":"http://a","timeSeriesService":"fdsnDataselect"}]})",
         "no web address"},
        {R"({"presets":[{"name":"A","waveform":"http://a","station":"http://a","timeSeriesService":"fdsnDataselect"}]})",
         "no web address"},
        {R"({"presets":[{"name":"A","waveform":"http://a","station":"http://a","event":"http://a","timeSeriesService":"sac"}]})",
         "kind"},
        {R"({"presets":[{"name":"Custom","waveform":"http://a","station":"http://a","event":"http://a","timeSeriesService":"fdsnDataselect"}]})",
         "name"},
    };
    for (const auto& [json, message] : cases) {
        QString why;
        EXPECT_FALSE(servicepresets::parse(json, &why)) << json.toStdString();
        EXPECT_TRUE(why.contains(QLatin1StringView(message))) << why.toStdString();
    }
    QByteArray twice = entry("");
    twice.replace(
        "}]}",
        R"(},{"name":"A","waveform":"http://b","station":"http://b","event":"http://b","timeSeriesService":"irisTimeSeries"}]})");
    QString why;
    EXPECT_FALSE(servicepresets::parse(twice, &why));
    EXPECT_TRUE(why.contains("two presets")) << why.toStdString();
}

TEST(ServicePresets, OnlyAKnownCatalogueWithoutPagesHidesTheLink) {
    EXPECT_TRUE(servicepresets::hasEventPages("https://earthquake.usgs.gov"));
    EXPECT_TRUE(servicepresets::hasEventPages("http://earthquake.usgs.gov/"));
    EXPECT_FALSE(servicepresets::hasEventPages("https://geofon.gfz.de"));
    EXPECT_FALSE(servicepresets::hasEventPages("http://www.seismicportal.eu"));
    EXPECT_TRUE(servicepresets::hasEventPages("http://127.0.0.1:8080")) << "unknown: kept";
    EXPECT_TRUE(servicepresets::hasEventPages(""));
}

TEST(ServicePresets, APresetFillsTheFormAndAppliedHidesTheEventPageLink) {
    AppHarness app;
    groundswayController& c = app.controller();
    c.awakeFromNib();
    auto* dialog = qobject_cast<SettingsDialog*>(app.o().settingsWindow);
    ASSERT_NE(dialog, nullptr);
    c.showSettingsWindow(nullptr);
    QCoreApplication::processEvents();
    auto* popUp = dialog->findChild<QComboBox*>("servicePresetPopUp");
    ASSERT_NE(popUp, nullptr);
    const auto& presets = servicepresets::builtIn();
    ASSERT_EQ(popUp->count(), static_cast<int>(presets.size()) + 1);
    EXPECT_EQ(popUp->itemText(popUp->count() - 1), "Custom");
    auto* seedLink = dialog->findChild<QLineEdit*>("seedLinkServerTField");
    const QString seedLinkBefore = seedLink->text();
    // A centre without SeedLink leaves the server as it was.
    int without = -1, geofon = -1;
    for (std::size_t i = 0; i < presets.size(); ++i) {
        if (presets[i].seedLink.isEmpty() && without < 0)
            without = static_cast<int>(i);
        if (presets[i].name.startsWith("GEOFON"))
            geofon = static_cast<int>(i);
    }
    ASSERT_GE(without, 0);
    ASSERT_GE(geofon, 0);
    popUp->setCurrentIndex(without);
    Q_EMIT popUp->activated(without);
    EXPECT_EQ(seedLink->text(), seedLinkBefore);
    popUp->setCurrentIndex(geofon);
    Q_EMIT popUp->activated(geofon);
    const auto& g = presets[static_cast<std::size_t>(geofon)];
    EXPECT_EQ(dialog->findChild<QLineEdit*>("timeSeriesServiceURLTField")->text(), g.waveform);
    EXPECT_EQ(dialog->findChild<QLineEdit*>("stationServiceURLTField")->text(), g.station);
    EXPECT_EQ(dialog->findChild<QLineEdit*>("eventServiceURLTField")->text(), g.event);
    EXPECT_EQ(seedLink->text(), g.seedLink);
    EXPECT_EQ(dialog->findChild<QComboBox*>("timeSeriesServicePopUp")->currentIndex(), 1);
    QWidget* link = app.actions().eventPageButton;
    ASSERT_NE(link, nullptr);
    EXPECT_FALSE(link->isHidden()) << "nothing applied yet";
    dialog->findChild<QDialogButtonBox*>("settingsButtonBox")
        ->button(QDialogButtonBox::Apply)
        ->click();
    EXPECT_EQ(app.o().eventServiceURLTField->text(), g.event);
    EXPECT_TRUE(link->isHidden());
    EXPECT_EQ(c.userDefaults().stringForKey("timeSeriesService"), u"fdsnDataselect");
    // An address typed by hand is Custom again, and an unknown catalogue keeps its link.
    auto* event = dialog->findChild<QLineEdit*>("eventServiceURLTField");
    event->selectAll();
    QTest::keyClicks(event, "http://127.0.0.1:1");
    EXPECT_EQ(popUp->currentText(), "Custom");
    dialog->findChild<QDialogButtonBox*>("settingsButtonBox")
        ->button(QDialogButtonBox::Apply)
        ->click();
    EXPECT_FALSE(link->isHidden());
}
