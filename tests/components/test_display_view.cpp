// The seismogram display rendered offscreen into an image, and its properties read back from the
// pixels.
#include "base/Time.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "components/plot/TimeAxis.h"
#include "components/sac/SacObject.h"

#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <numbers>

namespace {

using Date = SacObject::Date;
const Date kRef = civil::dateOf(2024, 5, 1, 12, 0, 0);
const QSize kSize(900, 600);

std::unique_ptr<SacObject> trace(double startOffset, double seconds, double delta = 0.5,
                                 double amplitude = 1.0, const std::string& label = "trace") {
    const auto n = static_cast<std::size_t>(seconds / delta) + 1;
    std::vector<float> x(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = static_cast<float>(
            amplitude * std::sqrt(2.0) *
            std::sin(2 * std::numbers::pi * static_cast<double>(i) * delta / 20.0));
    auto s = std::make_unique<SacObject>(
        SacObject::fromSamples(std::move(x), delta, civil::addSeconds(kRef, startOffset)));
    s->setLabelString(label);
    return s;
}

QImage render(QuilmRealTimeDisplayView02& view) {
    QImage image(kSize, QImage::Format_RGB32);
    QPainter p(&image);
    view.render(p, kSize);
    return image;
}

bool isInk(QRgb c, QColor fg) {
    return std::abs(qGray(c) - qGray(fg.rgb())) < 90;
}

// Rows [top, bottom) of the plot that hold trace ink in columns [x0, x1).
std::pair<int, int> inkRows(const QImage& img, int x0, int x1, int top, int bottom, QColor fg) {
    int first = -1, last = -1;
    for (int y = top; y < bottom; ++y)
        for (int x = x0; x < x1; ++x)
            if (isInk(img.pixel(x, y), fg)) {
                if (first < 0)
                    first = y;
                last = y;
                break;
            }
    return {first, last};
}

int inkColumns(const QImage& img, int x0, int x1, int y0, int y1, QColor fg) {
    int count = 0;
    for (int x = x0; x < x1; ++x)
        for (int y = y0; y < y1; ++y)
            if (isInk(img.pixel(x, y), fg)) {
                ++count;
                break;
            }
    return count;
}

class DisplayView : public ::testing::Test {
protected:
    QuilmRealTimeDisplayView02 view;
    QuilmRealTimeDisplayView02::WaveformList list;
    QRect plot = view.plotRect(kSize);
    void SetUp() override {
        view.setWvfrmsArray(&list);
        view.setRefDate(kRef);
        view.setTitle("Title");
        view.setXLabelString("Time (seconds)");
    }
    int xOf(double t) {
        return static_cast<int>(std::lround(
            QuilmRealTimeDisplayView02::timeToX(t, view.axisLeft(), view.axisRight(), plot)));
    }
};

} // namespace

TEST_F(DisplayView, AnEmptyListStillDrawsTheAxisAndTitle) {
    using List = QuilmRealTimeDisplayView02::WaveformList;
    for (const List* l : std::initializer_list<const List*>{&list, nullptr}) {
        view.setWvfrmsArray(l);
        view.computePlotLimits();
        const QImage img = render(view);
        EXPECT_GT(inkColumns(img, 0, kSize.width(), 0, plot.top() - 2, Qt::black), 10); // title
        EXPECT_GT(inkColumns(img, plot.left(), plot.right(), plot.bottom() + 2, kSize.height(),
                             Qt::black),
                  50); // numbers
        EXPECT_EQ(inkColumns(img, plot.left() + 5, plot.right() - 5, plot.top() + 5,
                             plot.bottom() - 5, Qt::black),
                  0);
    }
}

TEST_F(DisplayView, EachTraceIsDrawnInItsOwnBandInListOrder) {
    list.push_back(trace(0, 600, 0.5, 0.3, "first"));
    list.push_back(trace(0, 600, 0.5, 0.3, "second"));
    list.push_back(trace(0, 600, 0.5, 0.3, "third"));
    view.computePlotLimits();
    const QImage img = render(view);
    const int band = plot.height() / 3;
    for (int k = 0; k < 3; ++k) {
        const auto rows =
            inkRows(img, plot.left() + 10, plot.right() - 10, plot.top() + k * band + 2,
                    plot.top() + (k + 1) * band - 2, Qt::black);
        ASSERT_GE(rows.first, 0) << k;
        // Centred in the band.
        EXPECT_NEAR((rows.first + rows.second) / 2.0, plot.top() + (k + 0.5) * band, 3) << k;
        // Its label at the left, level with it.
        EXPECT_GT(inkColumns(img, 2, plot.left() - 4, plot.top() + k * band + band / 2 - 8,
                             plot.top() + k * band + band / 2 + 8, Qt::black),
                  5)
            << k;
    }
}

TEST_F(DisplayView, ATraceThatStartsLaterStartsFurtherRight) {
    list.push_back(trace(0, 1000));
    list.push_back(trace(500, 500));
    view.computePlotLimits();
    EXPECT_DOUBLE_EQ(view.axisLeft(), 0);
    EXPECT_DOUBLE_EQ(view.axisRight(), 1000);
    const QImage img = render(view);
    const int band = plot.height() / 2;
    const int top2 = plot.top() + band + 2, bottom2 = plot.bottom() - 2;
    EXPECT_EQ(inkColumns(img, plot.left() + 2, xOf(500) - 2, top2, bottom2, Qt::black), 0);
    EXPECT_GT(inkColumns(img, xOf(500) + 2, plot.right() - 2, top2, bottom2, Qt::black),
              (xOf(1000) - xOf(500)) * 9 / 10);
    EXPECT_GT(inkColumns(img, plot.left() + 2, xOf(500) - 2, plot.top() + 2, plot.top() + band - 2,
                         Qt::black),
              (xOf(500) - plot.left()) * 9 / 10);
}

TEST_F(DisplayView, OriginMarksLandAtTheirTimeRelativeToTheReference) {
    list.push_back(trace(0, 1000, 0.5, 0.05));
    view.computePlotLimits();
    SeismicOrigin inside, outside;
    inside.originTime = civil::addSeconds(kRef, 250);
    inside.mag = 6.1;
    outside.originTime = civil::addSeconds(kRef, -3600);
    view.setEventOrigins({inside, outside});
    view.setDrawOriginTimes(true);
    const QImage img = render(view);
    auto reddish = [](QRgb c) { return qRed(c) > 150 && qGreen(c) < 120 && qBlue(c) < 120; };
    int redColumn = -1;
    for (int x = plot.left(); x < plot.right(); ++x)
        if (reddish(img.pixel(x, plot.top() + plot.height() / 4)))
            redColumn = redColumn < 0 ? x : redColumn;
    EXPECT_NEAR(redColumn, xOf(250), 1);
    view.setDrawOriginTimes(false);
    const QImage off = render(view);
    EXPECT_FALSE(reddish(off.pixel(xOf(250), plot.top() + plot.height() / 4)));
}

TEST_F(DisplayView, WithTheOriginOnTheRightZeroSecondsIsTheRightEdge) {
    list.push_back(trace(-3600, 3600, 1.0));
    view.computePlotLimits();
    view.setXLimitsMin(-3600, 0);
    view.setOriginOnRight(true);
    EXPECT_DOUBLE_EQ(view.axisLeft(), -3600);
    EXPECT_DOUBLE_EQ(view.axisRight(), 0);
    EXPECT_EQ(xOf(0), plot.left() + plot.width());
    // Limits set after the computed ones win; origin off puts 0 on the left.
    view.setOriginOnRight(false);
    view.setXmin(0);
    EXPECT_DOUBLE_EQ(view.axisLeft(), 0);
}

TEST_F(DisplayView, TheColourSchemeRepaintsTheBackground) {
    EXPECT_EQ(render(view).pixel(3, 3), QColor(Qt::white).rgb());
    view.setBackGroundColor(Qt::black);
    view.setDrawingColor(Qt::white);
    list.push_back(trace(0, 100, 0.5, 0.3));
    view.computePlotLimits();
    const QImage img = render(view);
    EXPECT_EQ(img.pixel(3, 3), QColor(Qt::black).rgb());
    EXPECT_GT(inkColumns(img, plot.left() + 5, plot.right() - 5, plot.top() + 2, plot.bottom() - 2,
                         Qt::white),
              plot.width() / 2);
}

TEST_F(DisplayView, GainTwoDoublesTheDrawnAmplitude) {
    list.push_back(trace(0, 400, 0.5, 0.4));
    view.computePlotLimits();
    auto height = [&] {
        const auto [a, b] = inkRows(render(view), plot.left() + 10, plot.right() - 10,
                                    plot.top() + 1, plot.bottom() - 1, Qt::black);
        return b - a;
    };
    view.setWaveformGain(1.0f);
    const int one = height();
    view.setWaveformGain(2.0f);
    const int two = height();
    EXPECT_GT(one, 20);
    EXPECT_NEAR(two, 2 * one, 5); // each edge may round by a pixel
}

TEST_F(DisplayView, LongTracesAreReducedToTheirEnvelopeWithoutLosingPeaks) {
    // One day at 100 samples/s with a single spike: the spike must still show.
    auto s = trace(0, 86400, 0.01, 0.01);
    std::vector<float> x(s->samples().begin(), s->samples().end());
    x[4'321'000] = 2.0f;
    list.push_back(std::make_unique<SacObject>(SacObject::fromSamples(std::move(x), 0.01, kRef)));
    view.computePlotLimits();
    const QImage img = render(view);
    const int spikeX = xOf(43210);
    const auto [top, bottom] =
        inkRows(img, spikeX - 1, spikeX + 2, plot.top() + 1, plot.bottom() - 1, Qt::black);
    EXPECT_LT(top, plot.top() + plot.height() / 2 - 100);
    (void)bottom;
}

TEST_F(DisplayView, BadSamplesAndOddSettingsDoNotStopTheDrawing) {
    auto s = trace(0, 100);
    std::vector<float> x(s->samples().begin(), s->samples().end());
    x[3] = std::numeric_limits<float>::quiet_NaN();
    x[7] = std::numeric_limits<float>::infinity();
    x[9] = -std::numeric_limits<float>::infinity();
    list.push_back(std::make_unique<SacObject>(SacObject::fromSamples(std::move(x), 0.5, kRef)));
    list.push_back(std::make_unique<SacObject>()); // nothing at all
    list.push_back(std::make_unique<SacObject>(SacObject::fromSamples({1.0f}, 0.5, kRef)));
    list.push_back(std::make_unique<SacObject>(
        SacObject::fromSamples({std::numeric_limits<float>::quiet_NaN()}, 0.5, kRef)));
    view.computePlotLimits();
    for (float gain : {0.0f, -3.0f, 1e30f, std::numeric_limits<float>::quiet_NaN()}) {
        view.setWaveformGain(gain);
        EXPECT_EQ(render(view).pixel(3, 3), QColor(Qt::white).rgb()) << gain; // drawn through
    }
    // At a sane gain the first trace runs across its band: the bad samples leave small holes.
    view.setWaveformGain(1.0f);
    const int band = plot.height() / 4;
    EXPECT_GT(inkColumns(render(view), plot.left() + 2, plot.right() - 2, plot.top() + 2,
                         plot.top() + band - 2, Qt::black),
              plot.width() * 9 / 10);
    // Limits that are no span, no number or beyond any axis still give a span to draw on.
    const std::pair<float, float> limits[] = {
        {5.0f, 5.0f},
        {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()},
        {-1e30f, 1e30f}};
    for (const auto& [low, high] : limits) {
        view.setXLimitsMin(low, high);
        EXPECT_EQ(render(view).pixel(3, 3), QColor(Qt::white).rgb()) << low;
        EXPECT_TRUE(std::isfinite(view.axisLeft()) && std::isfinite(view.axisRight())) << low;
        EXPECT_LT(view.axisLeft(), view.axisRight()) << low;
    }
    QImage tiny(QSize(3, 3), QImage::Format_RGB32);
    tiny.fill(Qt::red);
    QPainter p(&tiny);
    view.render(p, tiny.size());
    p.end();
    EXPECT_NE(tiny.pixel(0, 0), QColor(Qt::red).rgb()); // painted, however little fits
}

TEST_F(DisplayView, NoReferenceDateKeepsThePreviousOne) {
    view.setRefDate(std::nullopt);
    EXPECT_EQ(view.refDate(), kRef);
}

TEST(DisplayViewMapping, TimeAndPixelMapBackAndForth) {
    const QRect plot(100, 20, 800, 400);
    for (double t : {-3600.0, -1800.0, 0.0})
        EXPECT_NEAR(QuilmRealTimeDisplayView02::xToTime(
                        QuilmRealTimeDisplayView02::timeToX(t, -3600, 0, plot), -3600, 0, plot),
                    t, 1e-9);
    EXPECT_DOUBLE_EQ(QuilmRealTimeDisplayView02::timeToX(-3600, -3600, 0, plot), 100);
    EXPECT_DOUBLE_EQ(QuilmRealTimeDisplayView02::timeToX(0, -3600, 0, plot), 900);
}

// A tiny span far from zero: the step is below the resolution of the tick times.
TEST_F(DisplayView, AxisLimitsBeyondTheResolutionOfTheirTicksStillDraw) {
    view.setXLimitsMin(1e15f, 1e15f + 1.0f);
    view.setXmin(1e15);
    render(view);
    const auto ticks = plot::tickTimes(1e15, 1e15 + 1e-3, 10);
    EXPECT_LE(ticks.size(), 200u);
    const auto usual = plot::tickTimes(-3600, 0, 12);
    EXPECT_EQ(usual.size(), 19u); // every 200 s, both ends included
    EXPECT_DOUBLE_EQ(usual.front(), -3600);
    EXPECT_DOUBLE_EQ(usual.back(), 0);
}

// Zooming about the pointer keeps the time under it where it was; panning moves the span;
// resetting returns to the retrieval's axis. The span is held in absolute time, so a refresh
// that moves the reference does not move it.
TEST_F(DisplayView, ZoomKeepsTheTimeUnderThePointerAndSurvivesANewReference) {
    list.push_back(trace(0, 600));
    view.computePlotLimits();
    const double x = plot.left() + 300.0;
    const double before =
        QuilmRealTimeDisplayView02::xToTime(x, view.axisLeft(), view.axisRight(), plot);
    view.zoomBy(0.25, before);
    EXPECT_TRUE(view.isZoomed());
    EXPECT_NEAR(QuilmRealTimeDisplayView02::xToTime(x, view.axisLeft(), view.axisRight(), plot),
                before, 1e-6);
    EXPECT_NEAR(view.axisRight() - view.axisLeft(), 150.0, 1e-6);
    const double left = view.axisLeft();
    view.panBy(30);
    EXPECT_NEAR(view.axisLeft(), left + 30, 1e-6);
    view.setRefDate(civil::addSeconds(kRef, 120)); // a monitor refresh later
    EXPECT_NEAR(view.axisLeft(), left + 30 - 120, 1e-6);
    view.resetZoom();
    EXPECT_FALSE(view.isZoomed());
    EXPECT_DOUBLE_EQ(view.axisLeft(), 0.0);
    const auto zoomed = plot::zoomedAbout({-3600, 0}, 0.5, -600);
    EXPECT_DOUBLE_EQ(zoomed.left, -2100);
    EXPECT_DOUBLE_EQ(zoomed.right, -300);
}

// What a person does with the mouse and the keys, sent to the widget as the window system would
// send it: the wheel zooms about the pointer (away from you: in), a drag pulls the traces along
// with the pointer, Shift and a drag zooms to the span dragged over, + - left right zoom and pan,
// Home and a double-click on the time axis go back to the whole window.
TEST_F(DisplayView, TheWheelDragKeysAndShiftDragMoveTheAxisTheWayThePointerGoes) {
    list.push_back(trace(0, 600));
    view.computePlotLimits();
    view.resize(kSize);
    ASSERT_EQ(view.axisLeft(), 0.0);
    ASSERT_EQ(view.axisRight(), 600.0);
    const double perPixel = 600.0 / plot.width();
    auto at = [&](double seconds) {
        return QPointF(QuilmRealTimeDisplayView02::timeToX(seconds, 0, 600, plot),
                       plot.top() + plot.height() / 2.0);
    };
    auto send = [&](QEvent&& e) { QCoreApplication::sendEvent(&view, &e); };
    auto wheel = [&](double seconds, int angle) {
        send(QWheelEvent(at(seconds), at(seconds), QPoint(), QPoint(0, angle), Qt::NoButton,
                         Qt::NoModifier, Qt::NoScrollPhase, false));
    };
    // Pressed at `from`, moved through `path`, released at its last point.
    auto dragThrough = [&](QPointF from, const std::vector<QPointF>& path,
                           Qt::KeyboardModifiers modifiers) {
        send(QMouseEvent(QEvent::MouseButtonPress, from, from, Qt::LeftButton, Qt::LeftButton,
                         modifiers));
        for (const QPointF& p : path)
            send(QMouseEvent(QEvent::MouseMove, p, p, Qt::NoButton, Qt::LeftButton, modifiers));
        send(QMouseEvent(QEvent::MouseButtonRelease, path.back(), path.back(), Qt::LeftButton,
                         Qt::NoButton, modifiers));
    };
    auto drag = [&](QPointF from, QPointF to, Qt::KeyboardModifiers modifiers) {
        dragThrough(from, {(from + to) / 2, to}, modifiers);
    };
    auto key = [&](int k) { send(QKeyEvent(QEvent::KeyPress, k, Qt::NoModifier)); };
    const QPointF axis(plot.center().x(), plot.bottom() + 10.0);
    struct Row {
        const char* what;
        std::function<void()> act;
        double left, right;
    };
    const Row rows[] = {
        {"wheel away about 150 s", [&] { wheel(150, 120); }, 150 - 150 * 0.8, 150 + 450 * 0.8},
        {"wheel towards about 150 s", [&] { wheel(150, -120); }, 150 - 150 * 1.25,
         150 + 450 * 1.25},
        {"two notches away about 450 s", [&] { wheel(450, 240); }, 450 - 450 * 0.64,
         450 + 150 * 0.64},
        {"drag 100 px right", [&] { drag(at(300), at(300) + QPointF(100, 0), Qt::NoModifier); },
         -100 * perPixel, 600 - 100 * perPixel},
        {"drag 100 px left", [&] { drag(at(300), at(300) - QPointF(100, 0), Qt::NoModifier); },
         100 * perPixel, 600 + 100 * perPixel},
        {"shift-drag over 100 to 250 s", [&] { drag(at(100), at(250), Qt::ShiftModifier); }, 100,
         250},
        {"shift-drag back over 250 to 100 s", [&] { drag(at(250), at(100), Qt::ShiftModifier); },
         100, 250},
        // Out to one side of the press and then across it: the span is between the press and
        // the release, not as far as the pointer went.
        {"shift-drag from 200 s out to 100 s, then over to 300 s",
         [&] {
             dragThrough(at(200), {at(100), at(300)}, Qt::ShiftModifier);
         },
         200, 300},
        {"shift-drag from 200 s out to 300 s, then back to 100 s",
         [&] {
             dragThrough(at(200), {at(300), at(100)}, Qt::ShiftModifier);
         },
         100, 200},
        {"+", [&] { key(Qt::Key_Plus); }, 150, 450},
        {"-", [&] { key(Qt::Key_Minus); }, -300, 900},
        {"left", [&] { key(Qt::Key_Left); }, -60, 540},
        {"right", [&] { key(Qt::Key_Right); }, 60, 660},
    };
    for (const Row& r : rows) {
        view.resetZoom();
        r.act();
        EXPECT_TRUE(view.isZoomed()) << r.what;
        EXPECT_NEAR(view.axisLeft(), r.left, 1e-6) << r.what;
        EXPECT_NEAR(view.axisRight(), r.right, 1e-6) << r.what;
    }
    // A shift-click that hardly moves is no span; Home and a double-click on the axis reset.
    view.resetZoom();
    drag(at(100), at(100) + QPointF(2, 0), Qt::ShiftModifier);
    EXPECT_FALSE(view.isZoomed());
    key(Qt::Key_Plus);
    key(Qt::Key_Home);
    EXPECT_FALSE(view.isZoomed());
    EXPECT_EQ(view.axisRight(), 600.0);
    key(Qt::Key_Plus);
    send(QMouseEvent(QEvent::MouseButtonDblClick, axis, axis, Qt::LeftButton, Qt::LeftButton,
                     Qt::NoModifier));
    EXPECT_FALSE(view.isZoomed());
    EXPECT_EQ(view.axisLeft(), 0.0);
}

TEST_F(DisplayView, TheReadOutNamesTheTimeTheTraceAndTheValueUnderThePointer) {
    std::vector<float> ramp(601);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<float>(i);
    auto s = std::make_unique<SacObject>(SacObject::fromSamples(std::move(ramp), 1.0, kRef));
    s->header()->setText(sac::text::KNETWK, "IU");
    s->header()->setText(sac::text::KSTNM, "ANMO");
    s->header()->setText(sac::text::KHOLE, "00");
    s->header()->setText(sac::text::KCMPNM, "BHZ");
    s->setLabelString("Albuquerque");
    list.push_back(std::move(s));
    list.push_back(trace(0, 600));
    view.computePlotLimits();
    const double x = QuilmRealTimeDisplayView02::timeToX(250, 0, 600, plot);
    const auto r = view.readoutAt(QPointF(x, plot.top() + plot.height() / 4.0), kSize);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->trace, 0);
    EXPECT_NEAR(r->seconds, 250, 0.5);
    EXPECT_EQ(r->seedId, u"IU.ANMO.00.BHZ");
    EXPECT_NEAR(*r->value, 250, 1.0);
    EXPECT_TRUE(QuilmRealTimeDisplayView02::readoutText(*r).startsWith(u"2024-05-01 12:04:1"));
    EXPECT_FALSE(view.readoutAt(QPointF(5, 5), kSize)); // outside the plot
    EXPECT_EQ(QuilmRealTimeDisplayView02::fullLabel(*list[0]), u"ANMO  Albuquerque");
    // A header that leaves the station undefined puts no code before the label.
    EXPECT_EQ(QuilmRealTimeDisplayView02::fullLabel(*list[1]), u"trace");
}

TEST_F(DisplayView, ClippingKeepsEveryTraceInsideItsBand) {
    list.push_back(trace(0, 600, 0.5, 50.0)); // far larger than its band
    list.push_back(trace(0, 600, 0.5, 1.0));  // well inside its own
    view.computePlotLimits();
    const int half = plot.height() / 4; // each band is two of these
    // Rows between the bands' edge and where the quiet trace reaches: only the loud one's ink.
    const int from = plot.top() + 2 * half + 3, to = plot.top() + 3 * half - half / 2;
    auto spills = [&] {
        const QImage img = render(view);
        return inkRows(img, plot.left() + 5, plot.right() - 5, from, to, Qt::black).first >= 0;
    };
    EXPECT_TRUE(spills()); // unit RMS at gain 1: a loud trace covers its neighbour
    view.setAmplitudeMode(QuilmRealTimeDisplayView02::AmplitudeMode::ClipToBand);
    EXPECT_FALSE(spills());
}

TEST_F(DisplayView, AnEmptyListShowsItsGuidanceInsteadOfAnEmptyFrame) {
    view.setPlaceholder("Demo", "Press Start to watch the last hour of the 4 channels of 'Demo'.");
    const QImage img = render(view);
    // No frame: the plot's left edge has no line through it.
    EXPECT_EQ(
        inkRows(img, plot.left(), plot.left() + 1, plot.top() + 20, plot.top() + 60, Qt::black)
            .first,
        -1);
    EXPECT_GT(inkColumns(img, plot.left(), plot.right(), plot.center().y() - 40,
                         plot.center().y() + 40, Qt::black),
              50);
}

TEST_F(DisplayView, AChannelWithGapsIsOneRowOfPiecesWithTheGapsMarked) {
    // Row 0: 0-300 s, 400-600 s, 700-1000 s (two gaps); row 1 whole.
    list.push_back(trace(0, 300, 0.5, 0.3, "gappy"));
    list.push_back(trace(400, 200, 0.5, 0.3, "gappy"));
    list.push_back(trace(700, 300, 0.5, 0.3, "gappy"));
    list.push_back(trace(0, 1000, 0.5, 0.3, "whole"));
    view.setTraceRows({0, 0, 0, 1});
    view.computePlotLimits();
    ASSERT_EQ(view.rowCount(), 2);
    const QImage img = render(view);
    const int band = plot.height() / 2;
    const int y0 = plot.top() + 3, y1 = plot.top() + band - 3;
    auto inkAt = [&](double t) {
        return inkColumns(img, xOf(t) - 1, xOf(t) + 2, y0, y1, Qt::black) > 0;
    };
    auto markedAt = [&](double t) {
        int marked = 0;
        for (int y = y0; y < y1; ++y)
            marked += qGray(img.pixel(xOf(t), y)) < 250;
        return marked > (y1 - y0) / 4;
    };
    for (const double t : {5.0, 150.0, 295.0, 405.0, 595.0, 705.0, 995.0})
        EXPECT_TRUE(inkAt(t)) << "no trace at " << t << " s";
    for (const double t : {305.0, 350.0, 395.0, 605.0, 650.0, 695.0}) {
        EXPECT_FALSE(inkAt(t)) << "a trace in the gap at " << t << " s";
        EXPECT_TRUE(markedAt(t)) << "the gap at " << t << " s is not marked";
    }
    EXPECT_FALSE(markedAt(150.0)); // where samples are, no shading
    const auto gaps = view.rowGaps(0);
    ASSERT_EQ(gaps.size(), 2u);
    EXPECT_NEAR(gaps[0].first, 300.5, 1e-6); // the next sample after the last one held
    EXPECT_NEAR(gaps[0].second, 400, 1e-6);
    EXPECT_TRUE(view.rowGaps(1).empty());
    // The pointer over a gap finds the nearest piece of that row; over row 1, its one trace.
    const QPointF inGap(xOf(380), plot.top() + band / 2);
    EXPECT_EQ(view.rowAt(inGap, kSize), 0);
    EXPECT_EQ(view.traceAt(inGap, kSize), 1);
    EXPECT_EQ(view.traceAt(QPointF(xOf(380), plot.top() + band * 1.5), kSize), 3);
    // Without rows (or rows that do not match the list) every trace has its own.
    view.setTraceRows({0, 0});
    EXPECT_EQ(view.rowCount(), 4);
}

// Long place names widen the label column (up to a quarter of the view), and when one still
// does not fit the station code stays whole and only the place is cut short.
TEST_F(DisplayView, TheLabelColumnFollowsTheLongestLabelAndTheCodeIsNeverCut) {
    auto named = [&](const char* station, const char* label) {
        auto s = trace(0, 600);
        s->header()->setText(sac::text::KSTNM, station);
        s->setLabelString(label);
        list.push_back(std::move(s));
    };
    named("ANMO", "Albuquerque, New Mexico, USA");
    named("KDAK", "Kodiak Island, Alaska, USA");
    view.computePlotLimits();
    const QSize wide(1600, 600);
    QImage image(wide, QImage::Format_RGB32);
    QPainter p(&image);
    view.render(p, wide);
    const QFontMetrics fm(p.font());
    p.end();
    const int needed = fm.horizontalAdvance(QuilmRealTimeDisplayView02::fullLabel(*list[0]));
    const QRect widened = view.plotRect(wide);
    EXPECT_GT(widened.left(), needed);           // the whole label fits
    EXPECT_GT(widened.left(), plot.left());      // wider than the short labels' column
    EXPECT_LE(widened.left(), wide.width() / 4); // within its limit
    EXPECT_EQ(widened.right(), wide.width() - 1 - (kSize.width() - 1 - plot.right()));

    // Too narrow for the place: the code whole, the place elided.
    const QString fitted = QuilmRealTimeDisplayView02::fittedLabel(
        *list[0], fm, fm.horizontalAdvance(QStringLiteral("ANMO  Albuq…")));
    EXPECT_TRUE(fitted.startsWith(u"ANMO  ")) << fitted.toStdString();
    EXPECT_TRUE(fitted.endsWith(u"…")) << fitted.toStdString();
    const QString squeezed = QuilmRealTimeDisplayView02::fittedLabel(*list[1], fm, 10);
    EXPECT_TRUE(squeezed.startsWith(u"KDAK")) << squeezed.toStdString();
}

// In a scroll area only the visible part is exposed. A clipped render draws only the rows that
// reach into the clip, and those pixels are the ones a whole render gives: a loud trace whose
// band lies below the clip still covers its neighbours there.
TEST_F(DisplayView, AClippedRenderDrawsOnlyTheRowsThatReachIntoItAndTheSamePixels) {
    constexpr int kRows = 40;
    for (int k = 0; k < kRows; ++k)
        list.push_back(trace(0, 600, 0.05, k == 24 ? 40.0 : 0.3, "row " + std::to_string(k)));
    view.computePlotLimits();
    const double band = static_cast<double>(plot.height()) / kRows;
    // Down to row 15's band; row 24's trace reaches up to about row 11.
    const QRect clip(0, 0, kSize.width(), static_cast<int>(plot.top() + 16 * band));
    const QColor untouched(200, 10, 200);

    QImage clipped(kSize, QImage::Format_RGB32);
    clipped.fill(untouched);
    {
        QPainter p(&clipped);
        p.setClipRect(clip);
        view.render(p, kSize);
    }
    const int drawnClipped = view.rowsDrawn();
    const QImage whole = render(view);
    EXPECT_EQ(view.rowsDrawn(), kRows);
    EXPECT_GT(drawnClipped, 10);
    EXPECT_LT(drawnClipped, 24);

    int differing = 0;
    for (int y = clip.top(); y <= clip.bottom(); ++y)
        for (int x = clip.left(); x <= clip.right(); ++x)
            differing += clipped.pixel(x, y) != whole.pixel(x, y);
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(clipped.pixel(5, kSize.height() - 5), untouched.rgb()); // the clip held
    // Row 24's trace is what covers the rows above its band.
    const int above = static_cast<int>(plot.top() + 16 * band) - 3;
    EXPECT_GE(inkRows(whole, plot.left() + 5, plot.right() - 5, above - 10, above, Qt::black).first,
              0);
}

// Label widths are remembered by their text: a label that changes is measured again.
TEST_F(DisplayView, ALabelThatGrowsWidensTheColumnAtTheNextRender) {
    list.push_back(trace(0, 600, 0.5, 1.0, "short"));
    view.computePlotLimits();
    const QSize wide(1600, 600);
    auto marginAfterRender = [&] {
        QImage image(wide, QImage::Format_RGB32);
        QPainter p(&image);
        view.render(p, wide);
        return view.plotRect(wide).left();
    };
    const int before = marginAfterRender();
    list[0]->setLabelString("a much longer place name, Somewhere Far Away, Country");
    EXPECT_GT(marginAfterRender(), before);
    list[0]->setLabelString("short");
    EXPECT_EQ(marginAfterRender(), before);
}

// More rows than fit at their least height: the view grows taller than the scroll area's
// window and scrolls there.
TEST_F(DisplayView, ManyRowsGrowTheViewTallerThanItsScrollArea) {
    QScrollArea area;
    area.setWidgetResizable(true);
    auto* scrolled = new QuilmRealTimeDisplayView02;
    area.setWidget(scrolled);
    area.resize(900, 600);
    area.show();
    for (int k = 0; k < 100; ++k)
        list.push_back(trace(0, 600, 0.5, 0.3, "row " + std::to_string(k)));
    scrolled->setWvfrmsArray(&list);
    scrolled->setRefDate(kRef);
    scrolled->computePlotLimits();
    scrolled->setNeedsDisplay(true);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_GE(scrolled->height(), 100 * QuilmRealTimeDisplayView02::kMinRowHeight);
    EXPECT_GT(scrolled->height(), area.viewport()->height());
    EXPECT_GT(area.verticalScrollBar()->maximum(), 0);
    // Fewer rows again: back to the window's height.
    list.resize(3);
    scrolled->setNeedsDisplay(true);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(scrolled->height(), area.viewport()->height());
    scrolled->setWvfrmsArray(nullptr);
}

// Scrolled to the top of many rows, the time scale stays at the bottom of what is visible:
// below its line only the times and the axis label, no traces.
TEST_F(DisplayView, TheTimeScaleStaysInSightWhenTheRowsScroll) {
    QScrollArea area;
    area.setWidgetResizable(true);
    auto* scrolled = new QuilmRealTimeDisplayView02;
    area.setWidget(scrolled);
    area.resize(900, 600);
    area.show();
    for (int k = 0; k < 100; ++k)
        list.push_back(trace(0, 600, 0.05, 0.3, "row " + std::to_string(k)));
    scrolled->setWvfrmsArray(&list);
    scrolled->setRefDate(kRef);
    scrolled->setXLabelString("Time (seconds)");
    scrolled->computePlotLimits();
    scrolled->setNeedsDisplay(true);
    QCoreApplication::processEvents();
    ASSERT_GT(scrolled->height(), area.viewport()->height());
    const QRect inView = scrolled->plotRect(scrolled->size());
    const int margin = scrolled->height() - 1 - inView.bottom(); // below the plot
    auto strip = [&](const QImage& shown) {
        const int h = shown.height();
        return inkColumns(shown, inView.left() + 2, inView.right() - 2, h - margin + 8, h - 2,
                          Qt::black);
    };
    const QImage top = area.viewport()->grab().toImage();
    const int columns = inView.width() - 4;
    EXPECT_GT(strip(top), 10);             // the times
    EXPECT_LT(strip(top), columns * 6 / 10); // and no trace
    // At the bottom the scale is where it always was.
    area.verticalScrollBar()->setValue(area.verticalScrollBar()->maximum());
    QCoreApplication::processEvents();
    const QImage bottom = area.viewport()->grab().toImage();
    EXPECT_GT(strip(bottom), 10);
    EXPECT_LT(strip(bottom), columns * 6 / 10);
    // Double-clicking the scale returns to the whole axis.
    scrolled->zoomTo(10, 20);
    area.verticalScrollBar()->setValue(0);
    QCoreApplication::processEvents();
    const QPoint onScale(inView.center().x(), area.viewport()->height() - margin / 2);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(onScale), scrolled->mapToGlobal(QPointF(onScale)),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(scrolled, &dbl);
    EXPECT_FALSE(scrolled->isZoomed());
    scrolled->setWvfrmsArray(nullptr);
}

// Many rows make thin bands: a row's note keeps to its own band, losing the lines that do not
// fit (the label stays), and the row below is never written over. Every other row is left
// without label or note so that any ink in its part of the label column came from above.
TEST_F(DisplayView, ANoteKeepsToItsRowHoweverThinTheRows) {
    constexpr int kRows = 34;
    std::vector<QuilmRealTimeDisplayView02::TraceAnnotation> notes(kRows);
    for (int row = 0; row < kRows; ++row) {
        const bool labelled = row % 2 == 0;
        list.push_back(trace(0, 600, 0.5, 0.3, labelled ? "Albuquerque" : ""));
        list.back()->header()->setText(sac::text::KSTNM, labelled ? "ANMO" : "");
        if (labelled)
            notes[static_cast<std::size_t>(row)].note =
                QStringLiteral("12.3\u00b0  BAz 45\u00b0\nlatency 3 s");
    }
    view.setTraceAnnotations(notes);
    view.computePlotLimits();
    // Runs of ink rows (lines of text) in the label column between y0 and y1.
    auto textLines = [](const QImage& img, int x1, int y0, int y1) {
        int runs = 0;
        bool inRun = false;
        for (int y = y0; y < y1; ++y) {
            const bool ink = inkColumns(img, 2, x1, y, y + 1, Qt::black) > 0;
            runs += ink && !inRun;
            inRun = ink;
        }
        return runs;
    };
    for (int band = QuilmRealTimeDisplayView02::kMinRowHeight; band <= 60; ++band) {
        const int height = band * kRows + (kSize.height() - plot.height());
        const QSize size(kSize.width(), height);
        QImage img(size, QImage::Format_RGB32);
        {
            QPainter p(&img);
            view.render(p, size);
        }
        const QRect area = view.plotRect(size);
        ASSERT_EQ(area.height(), band * kRows);
        for (int row = 0; row < kRows; ++row) {
            const int top = area.top() + row * band, bottom = top + band;
            const int lines = textLines(img, area.left() - 4, top, bottom);
            if (row % 2 == 0)
                // Room for more than the label from 60 px on: the note's first line too.
                EXPECT_GE(lines, band >= 60 ? 2 : 1) << "in a row " << band << " px tall";
            else
                EXPECT_EQ(lines, 0) << "the note above spills into a row " << band
                                    << " px tall";
        }
    }
    // Given room, the note is there in full: the label and both of its lines.
    QuilmRealTimeDisplayView02::WaveformList one;
    one.push_back(trace(0, 600, 0.5, 0.3, "Albuquerque"));
    view.setWvfrmsArray(&one);
    view.setTraceAnnotations({notes[0]});
    const QImage img = render(view);
    const QRect area = view.plotRect(kSize);
    EXPECT_EQ(textLines(img, area.left() - 4, area.top(), area.bottom()), 3);
}

// A view that follows the present keeps the envelopes it made while the axis moves over them in
// whole columns, and makes only the columns that scrolled in; what it draws is what a view that
// made everything afresh draws. A trace that changed, or is another, is made again.
TEST_F(DisplayView, ScrollingReusesTheEnvelopesAndDrawsWhatAFreshViewDraws) {
    constexpr int kTraces = 5;
    std::uint32_t seed = 12345;
    for (int k = 0; k < kTraces; ++k) {
        std::vector<float> x(12001);
        for (std::size_t i = 0; i < x.size(); ++i) {
            seed = seed * 1664525u + 1013904223u;
            x[i] = static_cast<float>(std::sin(static_cast<double>(i) * (0.01 + 0.003 * k))) +
                   static_cast<float>(seed >> 8) / static_cast<float>(1u << 24) - 0.5f;
        }
        list.push_back(std::make_unique<SacObject>(
            SacObject::fromSamples(std::move(x), 0.05, civil::addSeconds(kRef, -660.0 + 10 * k))));
    }
    view.setXLimitsMin(-600, 0);
    view.setOriginOnRight(true);
    const double colSpan = 600.0 / plot.width();
    Date now = kRef;
    auto fresh = [&] {
        QuilmRealTimeDisplayView02 other;
        other.setWvfrmsArray(&list);
        other.setRefDate(now);
        other.setTitle("Title");
        other.setXLabelString("Time (seconds)");
        other.setXLimitsMin(-600, 0);
        other.setOriginOnRight(true);
        return render(other);
    };
    auto differing = [](const QImage& a, const QImage& b) {
        int n = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                n += a.pixel(x, y) != b.pixel(x, y);
        return n;
    };
    auto scrollTo = [&](double columns) {
        now = civil::addSeconds(kRef, columns * colSpan);
        view.setRefDate(now);
    };

    render(view);
    EXPECT_EQ(view.columnsMade(), kTraces * plot.width());
    EXPECT_EQ(differing(render(view), fresh()), 0);
    EXPECT_EQ(view.columnsMade(), 0) << "nothing moved: nothing made";

    scrollTo(3);
    QImage scrolled = render(view);
    EXPECT_EQ(view.columnsMade(), kTraces * 3);
    EXPECT_EQ(differing(scrolled, fresh()), 0);

    scrollTo(1); // back
    scrolled = render(view);
    EXPECT_EQ(view.columnsMade(), kTraces * 2);
    EXPECT_EQ(differing(scrolled, fresh()), 0);

    (*list[2]).ScaleAmplitudes(2.0f); // new samples in the same trace
    scrollTo(2);
    scrolled = render(view);
    EXPECT_EQ(view.columnsMade(), (kTraces - 1) * 1 + plot.width());
    EXPECT_EQ(differing(scrolled, fresh()), 0);

    list[4] = trace(-300, 300, 0.05); // another trace in the row
    scrolled = render(view);
    EXPECT_EQ(view.columnsMade(), plot.width());
    EXPECT_EQ(differing(scrolled, fresh()), 0);

    scrollTo(2 + plot.width()); // further than the plot is wide
    scrolled = render(view);
    EXPECT_EQ(view.columnsMade(), kTraces * plot.width());
    EXPECT_EQ(differing(scrolled, fresh()), 0);
}

// Without a reference date the axis counts from the first trace: another first trace moves every
// other trace, unchanged as they are, and they are drawn where they now lie.
TEST(DisplayViewEnvelopes, AnotherFirstTraceMovesTheRestWithoutAReferenceDate) {
    QuilmRealTimeDisplayView02::WaveformList list;
    list.push_back(trace(0, 600, 0.05));
    list.push_back(trace(100, 500, 0.05));
    auto fresh = [&] {
        QuilmRealTimeDisplayView02 other;
        other.setWvfrmsArray(&list);
        other.setXLimitsMin(0, 800);
        return render(other);
    };
    QuilmRealTimeDisplayView02 view;
    view.setWvfrmsArray(&list);
    view.setXLimitsMin(0, 800);
    render(view);
    list.insert(list.begin(), trace(-50, 10, 0.05)); // the axis now starts 50 s earlier
    const QImage moved = render(view);
    const QImage expected = fresh();
    int differing = 0;
    for (int y = 0; y < moved.height(); ++y)
        for (int x = 0; x < moved.width(); ++x)
            differing += moved.pixel(x, y) != expected.pixel(x, y);
    EXPECT_EQ(differing, 0);
}
