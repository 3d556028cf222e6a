// Settings → Services: the kind of seismogram service, stored under "timeSeriesService", and
// the retrieval asking that kind.
#include "AppHarness.h"
#include "QtPrinters.h"
#include "SeismogramServer.h"

#include "app/ServiceChoice.h"
#include "app/SettingsDialog.h"
#include "app/UserDefaults.h"
#include "components/sac/SacObject.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QPushButton>

#include <gtest/gtest.h>

TEST(ServiceChoice, OnlyTheDataselectKeyChoosesDataselect) {
    using S = TimeSeriesSource::Service;
    const std::pair<const char*, S> cases[] = {{"fdsnDataselect", S::Dataselect},
                                               {"irisTimeSeries", S::TimeSeries},
                                               {"", S::TimeSeries},
                                               {"FDSNDATASELECT", S::TimeSeries},
                                               {"fdsnDataselect ", S::TimeSeries}};
    for (const auto& [stored, service] : cases)
        EXPECT_EQ(servicechoice::serviceOf(QString::fromLatin1(stored)), service) << stored;
    for (const S s : {S::Dataselect, S::TimeSeries})
        EXPECT_EQ(servicechoice::serviceOf(servicechoice::keyOf(s)), s);
}

TEST(ServiceChoice, ThePopUpAppliedSwitchesTheRetrievalToDataselectAndIsStored) {
    SeismogramServer server;
    server.start();
    AppHarness app;
    groundswayController& c = app.controller();
    app.useServices(server.baseUrl());
    c.awakeFromNib();
    EXPECT_EQ(app.o().timeSeriesServicePopUp->currentIndex(), 0); // the default
    app.typeWindow("2012-06-15T10:00:00.0000Z", "2012-06-15T10:01:00.0000Z");
    app.setChannelList(QStringLiteral("IU;ANMO;BHZ;00;Albuquerque\nIU;GAPPY;BHZ;00;Gappy\n"));
    c.retrieveSeismograms(nullptr);
    EXPECT_EQ(server.seismogramTargets().size(), 2u);
    EXPECT_TRUE(server.dataselectTargets().empty());

    auto* dialog = qobject_cast<SettingsDialog*>(app.o().settingsWindow);
    ASSERT_NE(dialog, nullptr);
    c.showSettingsWindow(nullptr);
    QCoreApplication::processEvents();
    auto* popUp = dialog->findChild<QComboBox*>(QStringLiteral("timeSeriesServicePopUp"));
    ASSERT_NE(popUp, nullptr);
    popUp->setCurrentIndex(1);
    dialog->findChild<QDialogButtonBox*>(QStringLiteral("settingsButtonBox"))
        ->button(QDialogButtonBox::Apply)
        ->click();
    EXPECT_EQ(c.userDefaults().stringForKey("timeSeriesService"), u"fdsnDataselect");
    c.retrieveSeismograms(nullptr);
    EXPECT_EQ(server.dataselectTargets().size(), 2u);
    // Anmo whole, Gappy in two pieces of one row.
    ASSERT_EQ(c.theWaveforms()->size(), 3u);
    EXPECT_EQ((*c.theWaveforms())[0]->samples().size(), 1201u);
}
