// The trace inspector's axes and its answer for a span it cannot analyse.
#include "QtPrinters.h"

#include "base/Time.h"
#include "components/TraceInspector.h"
#include "components/plot/Ticks.h"

#include <QCheckBox>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

TraceInspector::Trace trace(std::vector<float> samples, double delta = 0.05) {
    return {civil::dateOf(2012, 6, 15, 10, 0, 0), delta, std::move(samples)};
}

std::vector<float> sine(std::size_t n) {
    std::vector<float> x(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = static_cast<float>(
            std::sin(2 * std::numbers::pi * 1.5 * static_cast<double>(i) * 0.05));
    return x;
}

} // namespace

TEST(Ticks, LogAxesGetOneTwoFiveTicksOrDecadesAndReadableLabels) {
    const std::tuple<double, double, int, std::vector<double>> cases[] = {
        // The inspector's old odd values: 0.0195 to 2.87 Hz.
        {0.0195, 2.87, 10, {0.02, 0.05, 0.1, 0.2, 0.5, 1, 2}},
        {1, 10, 10, {1, 2, 5, 10}}, // ends on ticks keep them
        {1e-4, 10, 10, {1e-4, 1e-3, 1e-2, 0.1, 1, 10}},
        {1e-8, 1e3, 4, {1e-6, 1e-3, 1, 1e3}}, // too many decades: every third, 1 kept
        {3, 4, 10, {}},                       // no tick falls inside
        {0, 10, 10, {}},                      // a log axis cannot start at 0
        {5, 1, 10, {}},
    };
    for (const auto& [lo, hi, most, expected] : cases) {
        const auto got = plot::logTicks(lo, hi, most);
        ASSERT_EQ(got.size(), expected.size()) << lo << " to " << hi;
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_NEAR(got[i], expected[i], expected[i] * 1e-9) << lo << " to " << hi;
    }
    const std::pair<double, const char*> labels[] = {
        {0.02, "0.02"},     {1e-5, "1e-5"},        {2.5e-7, "2.5e-7"},
        {1e7, "1e7"},       {120000, "120000"},    {-0.5, "-0.5"},
        {0, "0"},           {1234.5, "1234.5"},    {1000, "1000"},
        {0.0001, "0.0001"}, {7.123456, "7.12346"}, {1.23456e-4, "1.23e-4"}};
    for (const auto& [value, text] : labels)
        EXPECT_EQ(plot::tickLabel(value), QString::fromLatin1(text)) << value;
    EXPECT_EQ(plot::linearTicks(0, 10, 5), (std::vector<double>{0, 2, 4, 6, 8, 10}));
    EXPECT_TRUE(plot::linearTicks(3, 3, 5).empty());
}

TEST(TraceInspector, AFlatOrEmptySpanSaysSoInsteadOfEmptyPanels) {
    TraceInspector inspector;
    inspector.setInline(true);
    const Time from = civil::dateOf(2012, 6, 15, 10, 0, 0);
    const Time to = civil::addSeconds(from, 100);
    const std::pair<std::vector<float>, const char*> cases[] = {
        {std::vector<float>(2000, 7.0f), "flat over this span (every sample is 7 unit RMS)"},
        {{}, "No samples of this trace"},
        {{1, 2, 3}, "Only 3 samples"},
        {std::vector<float>(50, std::numeric_limits<float>::quiet_NaN()),
         "No samples of this trace"},
    };
    for (const auto& [samples, notice] : cases) {
        inspector.inspect("t", from, to, trace(samples), trace(samples));
        EXPECT_TRUE(inspector.notice().contains(QString::fromLatin1(notice)))
            << notice << ": " << inspector.notice().toStdString();
        EXPECT_TRUE(inspector.spectrum().frequency.empty());
        EXPECT_EQ(inspector.spectrogram().windows, 0u);
        // Drawn at a small size and a large one without trouble.
        for (const QSize size : {QSize(300, 200), QSize(1400, 900)}) {
            QImage image(size, QImage::Format_RGB32);
            QPainter p(&image);
            inspector.render(p, size);
        }
    }
    inspector.inspect("t", from, to, trace(sine(2000)), trace(sine(2000)));
    EXPECT_TRUE(inspector.notice().isEmpty());
    EXPECT_FALSE(inspector.spectrum().frequency.empty());
    EXPECT_GT(inspector.spectrogram().windows, 0u);
}

TEST(TraceInspector, EachSpectrumPlotHasItsOwnLogarithmicSwitch) {
    TraceInspector inspector;
    auto* spectrumBox = inspector.findChild<QCheckBox*>("spectrumLogBox");
    auto* gramBox = inspector.findChild<QCheckBox*>("spectrogramLogBox");
    ASSERT_TRUE(spectrumBox && gramBox);
    EXPECT_TRUE(inspector.spectrumLogFrequency());
    EXPECT_FALSE(inspector.logFrequency());
    spectrumBox->click();
    EXPECT_FALSE(inspector.spectrumLogFrequency());
    EXPECT_FALSE(inspector.logFrequency());
    gramBox->click();
    EXPECT_TRUE(inspector.logFrequency());
    EXPECT_FALSE(inspector.spectrumLogFrequency());
}
