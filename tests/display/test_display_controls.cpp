// Opacity, colour scheme, origin marks and gain, driven through their real controls.
#include "AppHarness.h"
#include "QtPrinters.h"
#include "components/QuilmRealTimeDisplayView02.h"

#include <QCheckBox>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class DisplayControls : public ::testing::Test {
protected:
    AppHarness app;
    groundswayController& c = app.controller();
    QuilmRealTimeDisplayView02& view = *app.o().seisView;
    void SetUp() override { c.awakeFromNib(); }
};

} // namespace

TEST_F(DisplayControls, OpacityIsTheSlidersPercentage) {
    app.actions().opacitySlider->setValue(50);
    EXPECT_NEAR(app.o().seismogramWindow->windowOpacity(), 0.5, 1e-2);
    app.actions().opacitySlider->setValue(100);
    EXPECT_NEAR(app.o().seismogramWindow->windowOpacity(), 1.0, 1e-2);
}

TEST_F(DisplayControls, GainIsTheSliderOverTwentyFive) {
    EXPECT_FLOAT_EQ(view.waveformGain(), 1.0f); // start-up applied the slider's 25
    app.o().plotGainSlider->setValue(50);
    EXPECT_FLOAT_EQ(view.waveformGain(), 2.0f);
    app.o().plotGainSlider->setValue(1);
    EXPECT_FLOAT_EQ(view.waveformGain(), 0.04f);
}

TEST_F(DisplayControls, OnlyTheOnStateMakesTheSchemeDark) {
    QCheckBox* dark = app.actions().darkSchemeCheckBox;
    QTest::mouseClick(dark, Qt::LeftButton);
    EXPECT_EQ(view.backgroundColor(), QColor(Qt::black));
    EXPECT_EQ(view.drawingColor(), QColor(Qt::white));
    dark->setTristate(true);
    dark->setCheckState(Qt::PartiallyChecked);
    c.toggleColorScheme(dark);
    EXPECT_EQ(view.backgroundColor(), QColor(Qt::white));
    EXPECT_EQ(view.drawingColor(), QColor(Qt::black));
}

TEST_F(DisplayControls, OriginMarksToggleWithoutReloadingTheEarthquakes) {
    SeismicOrigin o;
    o.eventId = "kept";
    view.setEventOrigins({o});
    QCheckBox* marks = app.actions().originMarksCheckBox;
    EXPECT_TRUE(view.drawOriginTimes());
    QTest::mouseClick(marks, Qt::LeftButton);
    EXPECT_FALSE(view.drawOriginTimes());
    QTest::mouseClick(marks, Qt::LeftButton);
    EXPECT_TRUE(view.drawOriginTimes());
    ASSERT_EQ(view.eventOrigins().size(), 1u);
    EXPECT_EQ(view.eventOrigins()[0].eventId, u"kept");
}
