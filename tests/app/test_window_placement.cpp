// Windows that fit a small laptop's screen and come back where they were left. This program runs
// on an offscreen screen of 1366×768 (laptop-screen.json, given with -platform).
#include "AppHarness.h"
#include "QtPrinters.h"

#include "app/WindowPlacement.h"
#include "components/TraceInspector.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QScreen>
#include <QStatusBar>

#include <gtest/gtest.h>

namespace {

std::string str(const QRect& r) {
    return std::to_string(r.x()) + ',' + std::to_string(r.y()) + ' ' + std::to_string(r.width()) +
           'x' + std::to_string(r.height());
}

QRect screenArea() {
    return QGuiApplication::primaryScreen()->availableGeometry();
}

} // namespace

TEST(WindowPlacement, TheScreenIsALaptops) {
    EXPECT_EQ(str(QGuiApplication::primaryScreen()->geometry()), "0,0 1366x768");
}

TEST(WindowPlacement, AWindowTakesWhatItWantsUpToTheRoomOnItsScreen) {
    const QMargins frame(4, 32, 4, 4);
    const QRect laptop(0, 0, 1366, 768), second(1366, 0, 1920, 1080);
    const std::tuple<QSize, QSize, QRect, QRect> cases[] = {
        // Too tall for the laptop: the height it has, centred.
        {{1280, 860}, {600, 400}, laptop, {43, 32, 1280, 732}},
        // Small enough: as wanted, centred in the room.
        {{640, 420}, {100, 100}, laptop, {363, 188, 640, 420}},
        // On a second screen to the right, inside that one.
        {{1280, 860}, {600, 400}, second, {1686, 124, 1280, 860}},
        // A minimum larger than the room: as small as it can be, its title bar on the screen.
        {{2000, 2000}, {1400, 800}, laptop, {4, 32, 1400, 800}},
    };
    for (const auto& [preferred, minimum, available, expected] : cases)
        EXPECT_EQ(str(placement::fitted(preferred, minimum, available, frame)), str(expected))
            << preferred.width() << 'x' << preferred.height();
}

TEST(WindowPlacement, EveryWindowOpensInsideTheScreenWithItsBottomShowing) {
    AppHarness app;
    app.controller().awakeFromNib();
    app.controller().applicationDidFinishLaunching();
    auto* seismograms = qobject_cast<QMainWindow*>(app.o().seismogramWindow);
    ASSERT_NE(seismograms, nullptr);
    // The layout itself can shrink to the room.
    EXPECT_LE(seismograms->minimumSizeHint().height(), 768 - 36);
    app.controller().showSettingsWindow(nullptr);
    app.controller().showLogWindow(nullptr);
    app.controller().showHelpWindow(nullptr);
    app.controller().showEventListWindow(nullptr);
    app.controller().showChannelFinderWindow(nullptr);
    app.controller().showSystemLogWindow(nullptr);
    app.controller().showHelicorderWindow(nullptr);
    app.actions().showAboutAction->trigger();
    app.setChannelList("IU;ANMO;BHZ;00;Albuquerque\n");
    app.controller().inspectTrace(0); // nothing drawn yet: no inspector
    QCoreApplication::processEvents();
    int shown = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->isVisible() || w->inherits("QMenu"))
            continue;
        ++shown;
        EXPECT_TRUE(screenArea().contains(w->frameGeometry()))
            << w->objectName().toStdString() << " at " << str(w->frameGeometry());
    }
    EXPECT_GE(shown, 9);
    // The status bar, under the bottom trace and the time axis, is on the screen.
    const QStatusBar* bar = seismograms->statusBar();
    EXPECT_LE(bar->mapTo(seismograms, QPoint(0, bar->height())).y() + seismograms->y(), 768);
}

TEST(WindowPlacement, AWindowComesBackWhereItWasLeft) {
    {
        AppHarness app;
        app.controller().awakeFromNib();
        app.controller().applicationDidFinishLaunching();
        QWidget* w = app.o().seismogramWindow;
        w->setGeometry(120, 90, 900, 600);
        QCoreApplication::processEvents();
        w->hide();
        EXPECT_TRUE(placement::isRemembered("seismogram"));
        // A window never shown is not remembered.
        EXPECT_FALSE(placement::isRemembered("helicorder"));
    }
    AppHarness again;
    again.controller().awakeFromNib();
    again.controller().applicationDidFinishLaunching();
    EXPECT_EQ(str(again.o().seismogramWindow->geometry()), "120,90 900x600");
}
