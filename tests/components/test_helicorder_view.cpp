// The drum: where a time falls, one scale for every row, redrawing only what changed, marks on
// their rows, and choosing a span with the mouse.
#include "QtPrinters.h"
#include "base/DateText.h"
#include "components/HelicorderView.h"

#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

namespace {

Time at(const char* text) {
    return *datetext::parseCatalogTime(QString::fromLatin1(text));
}

// A processed run of `seconds` at 10 samples/s: a sine of the given amplitude.
std::shared_ptr<const Segment> sine(Time start, double seconds, float amplitude) {
    auto s = std::make_shared<Segment>();
    s->start = start;
    s->delta = 0.1;
    s->samples.resize(static_cast<std::size_t>(seconds * 10));
    for (std::size_t i = 0; i < s->samples.size(); ++i)
        s->samples[i] = amplitude * static_cast<float>(std::sin(0.05 * static_cast<double>(i)));
    return s;
}

// How many pixel rows within `reach` row spacings of a row's line hold any ink.
int inkHeight(const QImage& image, const QRect& plot, int rows, int row, double reach) {
    const double spacing = static_cast<double>(plot.height()) / rows;
    const double centre = plot.top() + (row + 0.5) * spacing;
    int top = static_cast<int>(centre), bottom = top;
    for (int y = plot.top(); y < plot.bottom(); ++y)
        for (int x = plot.left() + 20; x < plot.right() - 20; x += 3)
            if (qGray(image.pixel(x, y)) < 200 && std::abs(y - centre) < spacing * reach) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    return bottom - top;
}

} // namespace

TEST(HelicorderRows, RowsEndWithTheOneHoldingNowAndCrossMidnight) {
    using Rows = HelicorderView::Rows;
    const Rows r = Rows::ending(at("2026-12-08T00:10:00"), 24, 30);
    EXPECT_EQ(r.count, 48);
    EXPECT_EQ(r.first, at("2026-12-07T00:30:00"));
    EXPECT_EQ(r.rowStart(47), at("2026-12-08T00:00:00"));
    EXPECT_EQ(r.end(), at("2026-12-08T00:30:00"));
    const auto beforeMidnight = r.position(at("2026-12-07T23:59:45"));
    ASSERT_TRUE(beforeMidnight);
    EXPECT_EQ(beforeMidnight->first, 46);
    EXPECT_NEAR(beforeMidnight->second, 1 - 15.0 / 1800, 1e-9);
    const auto midnight = r.position(at("2026-12-08T00:00:00"));
    ASSERT_TRUE(midnight);
    EXPECT_EQ(midnight->first, 47);
    EXPECT_DOUBLE_EQ(midnight->second, 0.0);
    EXPECT_FALSE(r.position(at("2026-12-07T00:29:59")));
    EXPECT_FALSE(r.position(r.end()));
    EXPECT_EQ(r.timeAt(46, 0.5), at("2026-12-07T23:45:00"));
    for (const auto& [hours, minutes, count] :
         {std::tuple{24, 10, 144}, std::tuple{24, 15, 96}, std::tuple{24, 60, 24},
          std::tuple{48, 10, 288}, std::tuple{1, 60, 1}}) {
        const Rows k = Rows::ending(at("2026-12-08T00:10:00"), hours, minutes);
        EXPECT_EQ(k.count, count);
        EXPECT_TRUE(k.position(at("2026-12-08T00:10:00"))) << minutes; // now is on the drum
        EXPECT_EQ(k.position(at("2026-12-08T00:10:00"))->first, count - 1);
    }
}

class Drum : public ::testing::Test {
protected:
    HelicorderView view;
    HelicorderView::Rows rows = HelicorderView::Rows::ending(at("2026-12-08T05:50:00"), 6, 30);
    void SetUp() override {
        view.resize(1000, 700);
        view.setRows(rows);
        view.setCommonRms(1.0);
        // Six hourly blocks; the fourth ten times louder.
        for (int h = 0; h < 6; ++h) {
            const Time from = civil::addSeconds(rows.first, h * 3600.0);
            view.setBlock(from, civil::addSeconds(from, 3600), {sine(from, 3600, h == 3 ? 1.0f : 0.1f)});
        }
    }
    QImage drawn() { return view.grab().toImage(); }
};

TEST_F(Drum, EveryRowIsOnOneScaleAndClippingStopsAtTheNextRow) {
    const QRect plot = HelicorderView::plotRect(view.size());
    const QImage image = drawn();
    const int quiet = inkHeight(image, plot, rows.count, 2, 0.5);
    const int loud = inkHeight(image, plot, rows.count, 6, 0.5);
    EXPECT_GT(loud, 5 * std::max(quiet, 1)) << quiet << " " << loud; // not each row to its own RMS
    // Alone on the drum and much amplified, the loud row reaches two rows either way, or only
    // one when clipped.
    view.clearBlocks();
    const Time from = rows.rowStart(6);
    view.setBlock(from, civil::addSeconds(from, 3600), {sine(from, 1800, 1.0f)}); // row 6 only
    view.setGain(20);
    const double spacing = static_cast<double>(plot.height()) / rows.count;
    EXPECT_GT(inkHeight(view.grab().toImage(), plot, rows.count, 6, 5), 3 * spacing);
    view.setClip(true);
    EXPECT_LE(inkHeight(view.grab().toImage(), plot, rows.count, 6, 5), 2 * spacing + 6);
}

TEST_F(Drum, ANewMinuteRedrawsOnlyTheNewestRow) {
    drawn();
    const int before = view.summaryBuilds();
    // The last block again with a minute more, changed only near its end.
    const Time from = civil::addSeconds(rows.first, 5 * 3600.0);
    view.setBlock(from, civil::addSeconds(from, 3600), {sine(from, 3000, 0.1f)},
                  civil::addSeconds(from, 2700));
    drawn();
    EXPECT_EQ(view.summaryBuilds(), before + 1);
    const QRect plot = HelicorderView::plotRect(view.size());
    const double spacing = static_cast<double>(plot.height()) / rows.count;
    EXPECT_GE(view.lastRepaint().top(), plot.top() + (rows.count - 2) * spacing);
}

TEST_F(Drum, AnOriginIsMarkedOnItsRowAtItsTime) {
    const Time origin = civil::addSeconds(rows.rowStart(7), 0.25 * rows.seconds);
    view.setMarks({{origin, QStringLiteral("M6.1"), QColor(200, 0, 0)}});
    const QImage image = drawn();
    const QRect plot = HelicorderView::plotRect(view.size());
    const double spacing = static_cast<double>(plot.height()) / rows.count;
    const int x = static_cast<int>(std::lround(plot.left() + 0.25 * plot.width()));
    auto red = [&](int row) {
        int n = 0;
        const int top = static_cast<int>(plot.top() + row * spacing);
        for (int y = top; y < top + spacing; ++y)
            for (int dx = -1; dx <= 1; ++dx) {
                const QColor c = image.pixelColor(x + dx, y);
                n += c.red() > 150 && c.green() < 80 && c.blue() < 80;
            }
        return n;
    };
    EXPECT_GT(red(7), 5);
    EXPECT_EQ(red(8), 0);
}

TEST_F(Drum, AClickChoosesTheRowAndADragPartOfIt) {
    drawn();
    QSignalSpy chosen(&view, &HelicorderView::spanChosen);
    const QRect plot = HelicorderView::plotRect(view.size());
    const double spacing = static_cast<double>(plot.height()) / rows.count;
    const int y = static_cast<int>(plot.top() + 3.5 * spacing);
    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(plot.left() + 100, y));
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen[0][0].value<Time>(), rows.rowStart(3));
    EXPECT_EQ(chosen[0][1].value<Time>(), rows.rowStart(4));
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(plot.left() + plot.width() / 2, y));
    QTest::mouseMove(&view, QPoint(plot.left() + plot.width() / 4, y));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(plot.left() + plot.width() / 4, y));
    ASSERT_EQ(chosen.count(), 2);
    EXPECT_NEAR(civil::secondsBetween(rows.rowStart(3), chosen[1][0].value<Time>()), 450, 2);
    EXPECT_NEAR(civil::secondsBetween(rows.rowStart(3), chosen[1][1].value<Time>()), 900, 2);
}
