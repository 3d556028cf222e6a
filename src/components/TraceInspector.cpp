#include "components/TraceInspector.h"

#include "components/plot/TimeAxis.h"
#include "components/plot/TraceEnvelope.h"

#include <QCheckBox>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

constexpr int kMargin = 56;

// A perceptually even ramp from deep blue through green to yellow (after matplotlib's viridis).
QColor ramp(double t) {
    static const QColor stops[] = {QColor(68, 1, 84), QColor(59, 82, 139), QColor(33, 145, 140),
                                   QColor(94, 201, 98), QColor(253, 231, 37)};
    t = std::clamp(t, 0.0, 1.0) * 4.0;
    const int i = std::min(3, static_cast<int>(t));
    const double f = t - i;
    const QColor& a = stops[i];
    const QColor& b = stops[i + 1];
    return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * f),
                            static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * f),
                            static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * f));
}

void drawTrace(QPainter& p, const QRectF& box, const TraceInspector::Trace& t, const QString& name) {
    p.save();
    p.setPen(QColor(120, 120, 120));
    p.drawRect(box);
    p.drawText(box.adjusted(4, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop, name);
    if (t.samples.size() >= 2 && t.delta > 0) {
        const double span = t.delta * static_cast<double>(t.samples.size() - 1);
        const int width = std::max(1, static_cast<int>(box.width()));
        const auto e = plot::columnEnvelope(t.samples, t.delta, 0, 0, span, width);
        float lo = std::numeric_limits<float>::infinity(), hi = -lo;
        for (std::size_t c = 0; c < e.low.size(); ++c)
            if (e.present[c]) {
                lo = std::min(lo, e.low[c]);
                hi = std::max(hi, e.high[c]);
            }
        if (lo < hi) {
            const double yScale = (box.height() - 8) / (hi - lo);
            p.setPen(QColor(20, 20, 20));
            for (std::size_t c = 0; c < e.low.size(); ++c) {
                if (!e.present[c])
                    continue;
                const double x = box.left() + static_cast<double>(c) + 0.5;
                double y1 = box.bottom() - 4 - (e.high[c] - lo) * yScale;
                double y2 = box.bottom() - 4 - (e.low[c] - lo) * yScale;
                if (y2 - y1 < 1)
                    y2 = y1 + 1;
                p.drawLine(QLineF(x, y1, x, y2));
            }
        }
    }
    p.restore();
}

} // namespace

TraceInspector::TraceInspector(QWidget* parent)
    : QWidget(parent, Qt::Window), logBox_(new QCheckBox(tr("Logarithmic frequency axis"), this)) {
    setObjectName(QStringLiteral("traceInspectorWindow"));
    setWindowTitle(tr("Groundsway Trace Inspector"));
    resize(1000, 760);
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(logBox_);
    connect(logBox_, &QCheckBox::toggled, this, &TraceInspector::setLogFrequency);
}

void TraceInspector::setLogFrequency(bool on) {
    logFrequency_ = on;
    if (logBox_->isChecked() != on)
        logBox_->setChecked(on);
    update();
}

void TraceInspector::inspect(const QString& title, Trace raw, Trace processed) {
    title_ = title;
    raw_ = std::move(raw);
    processed_ = std::move(processed);
    spectrum_ = {};
    spectrogram_ = {};
    update();
    // About 200 windows across the span, a power of two long, at least 32 samples.
    const std::size_t n = processed_.samples.size();
    const std::size_t window =
        std::bit_ceil(std::clamp<std::size_t>(n / 100, 32, std::size_t{1} << 16));
    background_.run(
        [samples = processed_.samples, delta = processed_.delta, window](const std::atomic<bool>&) {
            return Spectra{sac::dsp::amplitudeSpectrum(samples, delta),
                           sac::dsp::spectrogram(samples, delta, window, 0.5)};
        },
        [this](Spectra s) {
            spectrum_ = std::move(s.spectrum);
            spectrogram_ = std::move(s.spectrogram);
            update();
            Q_EMIT computed();
        });
}

QRect TraceInspector::canvas() const {
    return rect().adjusted(0, 0, 0, -logBox_->height() - 12);
}

void TraceInspector::paintEvent(QPaintEvent*) {
    QPainter p(this);
    render(p, canvas().size());
}

void TraceInspector::render(QPainter& p, QSize size) const {
    p.save();
    p.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    p.setPen(Qt::black);
    QFont bold = p.font();
    bold.setBold(true);
    p.setFont(bold);
    p.drawText(QRect(0, 0, size.width(), 28), Qt::AlignCenter, title_);
    p.setFont(QFont());
    const QFontMetrics fm(p.font());

    // Traces: raw above processed.
    const double w = size.width() - 2.0 * kMargin;
    const QRectF rawBox(kMargin, 32, w, size.height() * 0.16);
    const QRectF processedBox(kMargin, rawBox.bottom() + 6, w, size.height() * 0.16);
    drawTrace(p, rawBox, raw_, tr("raw"));
    drawTrace(p, processedBox, processed_, tr("processed"));

    const double top = processedBox.bottom() + 40;
    const double height = size.height() - top - 40;
    const QRectF specBox(kMargin, top, w * 0.42, height);
    const QRectF gramBox(specBox.right() + kMargin + 10, top, w * 0.58 - kMargin - 70, height);

    // Amplitude spectrum, log-log.
    p.setPen(Qt::black);
    p.drawRect(specBox);
    p.drawText(QRectF(specBox.left(), specBox.top() - 22, specBox.width(), 20), Qt::AlignCenter,
               tr("Amplitude spectrum"));
    if (spectrum_.frequency.size() >= 2) {
        const double f0 = std::log10(spectrum_.frequency.front());
        const double f1 = std::log10(spectrum_.frequency.back());
        double a0 = std::numeric_limits<double>::infinity(), a1 = -a0;
        for (double a : spectrum_.amplitude)
            if (a > 0) {
                a0 = std::min(a0, std::log10(a));
                a1 = std::max(a1, std::log10(a));
            }
        if (a1 > a0 && f1 > f0) {
            a0 = std::max(a0, a1 - 8); // eight decades are all an eye can use
            auto xOf = [&](double f) { return specBox.left() + (std::log10(f) - f0) / (f1 - f0) * specBox.width(); };
            auto yOf = [&](double a) {
                const double l = a > 0 ? std::max(std::log10(a), a0) : a0;
                return specBox.bottom() - (l - a0) / (a1 - a0) * specBox.height();
            };
            QPainterPath path;
            for (std::size_t k = 0; k < spectrum_.frequency.size(); ++k) {
                const QPointF pt(xOf(spectrum_.frequency[k]), yOf(spectrum_.amplitude[k]));
                k == 0 ? path.moveTo(pt) : path.lineTo(pt);
            }
            p.setPen(QColor(0, 90, 160));
            p.drawPath(path);
            p.setPen(Qt::black);
            for (int d = static_cast<int>(std::ceil(f0)); d <= static_cast<int>(std::floor(f1)); ++d) {
                const double x = xOf(std::pow(10.0, d));
                p.drawLine(QLineF(x, specBox.bottom(), x, specBox.bottom() + 4));
                p.drawText(QPointF(x - 14, specBox.bottom() + 6 + fm.ascent()),
                           QStringLiteral("1e%1").arg(d));
            }
            p.drawText(QRectF(specBox.left(), specBox.bottom() + 20, specBox.width(), 16),
                       Qt::AlignCenter, tr("Frequency (Hz), log"));
        }
    } else {
        p.drawText(specBox, Qt::AlignCenter, isComputing() ? tr("Computing...") : QString());
    }

    // Spectrogram with its legend.
    p.drawText(QRectF(gramBox.left(), gramBox.top() - 22, gramBox.width(), 20), Qt::AlignCenter,
               tr("Spectrogram, log10 amplitude"));
    const auto& g = spectrogram_;
    if (g.windows > 0 && g.bins > 1) {
        float lo = std::numeric_limits<float>::infinity(), hi = -lo;
        for (float v : g.level)
            if (v > -29) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        lo = std::max(lo, hi - 6); // six decades of colour
        const int iw = std::max(1, static_cast<int>(gramBox.width()));
        const int ih = std::max(1, static_cast<int>(gramBox.height()));
        QImage image(iw, ih, QImage::Format_RGB32);
        const double fMax = g.binHz * static_cast<double>(g.bins - 1);
        const double fMin = g.binHz; // the lowest non-zero bin
        for (int y = 0; y < ih; ++y) {
            const double u = 1.0 - (y + 0.5) / ih; // 0 bottom, 1 top
            const double f = logFrequency_ ? fMin * std::pow(fMax / fMin, u) : u * fMax;
            const auto bin = std::min(g.bins - 1, static_cast<std::size_t>(std::lround(f / g.binHz)));
            for (int x = 0; x < iw; ++x) {
                const auto win = std::min(g.windows - 1, static_cast<std::size_t>((x + 0.5) / iw * g.windows));
                const float v = g.at(win, bin);
                image.setPixelColor(x, y, ramp(hi > lo ? (v - lo) / (hi - lo) : 0.0));
            }
        }
        p.drawImage(gramBox.topLeft(), image);
        p.setPen(Qt::black);
        p.drawRect(gramBox);
        // Frequency ticks.
        const int ticks = 5;
        for (int i = 0; i <= ticks; ++i) {
            const double u = static_cast<double>(i) / ticks;
            const double f = logFrequency_ ? fMin * std::pow(fMax / fMin, u) : u * fMax;
            const double y = gramBox.bottom() - u * gramBox.height();
            p.drawLine(QLineF(gramBox.left() - 4, y, gramBox.left(), y));
            p.drawText(QRectF(gramBox.left() - kMargin, y - 8, kMargin - 6, 16), Qt::AlignRight | Qt::AlignVCenter,
                       QString::number(f, 'g', 3));
        }
        p.drawText(QRectF(gramBox.left(), gramBox.bottom() + 4, gramBox.width(), 16), Qt::AlignCenter,
                   logFrequency_ ? tr("Time across the span; frequency (Hz), log")
                                 : tr("Time across the span; frequency (Hz)"));
        // Legend.
        const QRectF legend(gramBox.right() + 14, gramBox.top(), 14, gramBox.height());
        for (int y = 0; y < static_cast<int>(legend.height()); ++y)
            p.fillRect(QRectF(legend.left(), legend.bottom() - y - 1, legend.width(), 1),
                       ramp(y / legend.height()));
        p.drawRect(legend);
        p.drawText(QPointF(legend.right() + 3, legend.top() + fm.ascent()), QString::number(hi, 'f', 1));
        p.drawText(QPointF(legend.right() + 3, legend.bottom()), QString::number(lo, 'f', 1));
    } else {
        p.drawText(gramBox, Qt::AlignCenter, isComputing() ? tr("Computing...") : QString());
    }
    p.restore();
}
