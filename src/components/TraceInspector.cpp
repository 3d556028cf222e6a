#include "components/TraceInspector.h"

#include "components/sac/SacObject.h"

#include "base/DateText.h"
#include "components/plot/Ticks.h"
#include "components/plot/TraceEnvelope.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <limits>

namespace {

// Room left of each panel for its tick labels and the axis title turned upright.
constexpr double kLeft = 84, kRight = 20;
constexpr double kTickText = 16, kAxisText = 18;
// Spectrogram levels below this are the floor of an empty bin, not a measurement.
constexpr float kNoLevel = -29;

const QString kRawUnits = QStringLiteral("counts");
const QString kProcessedUnits = QStringLiteral("unit RMS");

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

// The title of a vertical axis, turned upright, left of its tick labels.
void yTitle(QPainter& p, const QRectF& box, const QString& text) {
    p.save();
    p.translate(box.left() - kLeft + 2, box.center().y());
    p.rotate(-90);
    p.drawText(QRectF(-box.height() / 2 - 40, 0, box.height() + 80, kAxisText), Qt::AlignCenter,
               text);
    p.restore();
}

void yTicks(QPainter& p, const QRectF& box, const std::vector<double>& values,
            const std::function<double(double)>& yOf) {
    for (const double v : values) {
        const double y = yOf(v);
        if (y < box.top() - 0.5 || y > box.bottom() + 0.5)
            continue;
        p.drawLine(QLineF(box.left() - 4, y, box.left(), y));
        p.drawText(QRectF(box.left() - kLeft + kAxisText, y - 8, kLeft - kAxisText - 6, 16),
                   Qt::AlignRight | Qt::AlignVCenter, plot::tickLabel(v));
    }
}

void xTicks(QPainter& p, const QRectF& box, const std::vector<double>& values,
            const std::function<double(double)>& xOf) {
    for (const double v : values) {
        const double x = xOf(v);
        if (x < box.left() - 0.5 || x > box.right() + 0.5)
            continue;
        p.drawLine(QLineF(x, box.bottom(), x, box.bottom() + 4));
        p.drawText(QRectF(x - 40, box.bottom() + 3, 80, kTickText), Qt::AlignHCenter | Qt::AlignTop,
                   plot::tickLabel(v));
    }
}

void xTitle(QPainter& p, const QRectF& box, const QString& text) {
    p.drawText(QRectF(box.left(), box.bottom() + kTickText + 2, box.width(), kAxisText),
               Qt::AlignCenter, text);
}

// One trace on the span's time axis, with its value axis in its units.
void drawTrace(QPainter& p, const QRectF& box, const TraceInspector::Trace& t, const QString& name,
               const QString& units, Time origin, double span) {
    p.save();
    p.setPen(QColor(120, 120, 120));
    p.drawRect(box);
    p.setPen(Qt::black);
    // Last, on a patch of paper, so the trace never hides it.
    const auto drawName = [&] {
        p.setPen(Qt::black);
        const QRectF at =
            p.boundingRect(box.adjusted(4, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop, name);
        p.fillRect(at.adjusted(-2, 0, 2, 0), Qt::white);
        p.drawText(at, Qt::AlignLeft | Qt::AlignTop, name);
    };
    yTitle(p, box, units);
    const auto xOf = [&](double s) { return box.left() + s / span * box.width(); };
    xTicks(p, box, plot::linearTicks(0, span, std::max(2.0, box.width() / 90)), xOf);
    const int width = std::max(1, static_cast<int>(box.width()));
    const auto e =
        t.samples.empty() || !(t.delta > 0)
            ? plot::ColumnEnvelope{}
            : plot::columnEnvelope(t.samples, t.delta, civil::secondsBetween(origin, t.start), 0,
                                   span, width);
    float lo = std::numeric_limits<float>::infinity(), hi = -lo;
    for (std::size_t c = 0; c < e.low.size(); ++c)
        if (e.present[c]) {
            lo = std::min(lo, e.low[c]);
            hi = std::max(hi, e.high[c]);
        }
    if (!(lo <= hi)) {
        p.drawText(box, Qt::AlignCenter, QObject::tr("No samples in this span"));
        drawName();
        p.restore();
        return;
    }
    // A flat trace is a line through the middle, its one value on the axis.
    const bool flat = !(hi > lo);
    const double low = flat ? lo - 1.0 : lo, high = flat ? hi + 1.0 : hi;
    const auto yOf = [&](double v) {
        return box.bottom() - 4 - (v - low) / (high - low) * (box.height() - 8);
    };
    yTicks(p, box, flat ? std::vector<double>{lo} : plot::linearTicks(lo, hi, 3), yOf);
    p.setPen(QColor(20, 20, 20));
    for (std::size_t c = 0; c < e.low.size(); ++c) {
        if (!e.present[c])
            continue;
        const double x = box.left() + static_cast<double>(c) + 0.5;
        const double y1 = yOf(e.high[c]);
        const double y2 = std::max(yOf(e.low[c]), y1 + 1);
        p.drawLine(QLineF(x, y1, x, y2));
    }
    drawName();
    p.restore();
}

// The finite samples' lowest and highest value; nothing when there is none.
std::optional<std::pair<float, float>> rangeOf(const std::vector<float>& x) {
    float lo = std::numeric_limits<float>::infinity(), hi = -lo;
    for (const float v : x)
        if (std::isfinite(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    if (!(lo <= hi))
        return std::nullopt;
    return std::pair{lo, hi};
}

} // namespace

TraceInspector::TraceInspector(QWidget* parent)
    : QWidget(parent, Qt::Window),
      spectrumLogBox_(new QCheckBox(tr("Spectrum: logarithmic frequency axis"), this)),
      logBox_(new QCheckBox(tr("Spectrogram: logarithmic frequency axis"), this)) {
    setObjectName(QStringLiteral("traceInspectorWindow"));
    setWindowTitle(tr("Groundsway Trace Inspector"));
    resize(1000, 700);
    spectrumLogBox_->setObjectName(QStringLiteral("spectrumLogBox"));
    logBox_->setObjectName(QStringLiteral("spectrogramLogBox"));
    spectrumLogBox_->setChecked(spectrumLogFrequency_);
    auto* boxes = new QHBoxLayout;
    boxes->addWidget(spectrumLogBox_);
    boxes->addStretch(1);
    boxes->addWidget(logBox_);
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addLayout(boxes);
    connect(spectrumLogBox_, &QCheckBox::toggled, this, &TraceInspector::setSpectrumLogFrequency);
    connect(logBox_, &QCheckBox::toggled, this, &TraceInspector::setLogFrequency);
}

void TraceInspector::setLogFrequency(bool on) {
    logFrequency_ = on;
    if (logBox_->isChecked() != on)
        logBox_->setChecked(on);
    update();
}

void TraceInspector::setSpectrumLogFrequency(bool on) {
    spectrumLogFrequency_ = on;
    if (spectrumLogBox_->isChecked() != on)
        spectrumLogBox_->setChecked(on);
    update();
}

void TraceInspector::inspect(const QString& title, Time from, Time to, Trace raw, Trace processed) {
    title_ = title;
    from_ = from;
    to_ = to;
    raw_ = std::move(raw);
    processed_ = std::move(processed);
    spectrum_ = {};
    spectrogram_ = {};
    background_.cancel();
    const std::size_t n = processed_.samples.size();
    const auto range = rangeOf(processed_.samples);
    if (!range || !(processed_.delta > 0))
        notice_ = tr("No samples of this trace fall in the span on screen: there is nothing to "
                     "analyse. Zoom out or pick another trace.");
    else if (!(range->second > range->first))
        notice_ = tr("The trace is flat over this span (every sample is %1 %2): it has no "
                     "spectrum.")
                      .arg(plot::tickLabel(range->first), kProcessedUnits);
    else if (n < 4)
        notice_ = tr("Only %1 samples in this span: too few for a spectrum.").arg(n);
    else
        notice_.clear();
    update();
    if (!notice_.isEmpty())
        return;
    // About 200 windows across the span, a power of two long, at least 32 samples.
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

    // Traces: raw above processed, on one time axis from the span's start.
    const double span = std::max(civil::secondsBetween(from_, to_), 1e-6);
    const double w = size.width() - kLeft - kRight;
    const double traceHeight = std::max(50.0, size.height() * 0.15);
    const QRectF rawBox(kLeft, 32, w, traceHeight);
    const QRectF processedBox(kLeft, rawBox.bottom() + kTickText + 8, w, traceHeight);
    drawTrace(p, rawBox, raw_, tr("raw"), kRawUnits, from_, span);
    drawTrace(p, processedBox, processed_, tr("processed"), kProcessedUnits, from_, span);
    xTitle(p, processedBox, tr("Seconds from %1 UTC").arg(datetext::description(from_).chopped(6)));

    const double top = processedBox.bottom() + kTickText + kAxisText + 30;
    const double height = std::max(40.0, size.height() - top - kTickText - kAxisText - 8);
    const double spectrumWidth = w * 0.42;
    const QRectF specBox(kLeft, top, spectrumWidth, height);
    const QRectF gramBox(specBox.right() + kLeft + 10, top,
                         std::max(40.0, size.width() - specBox.right() - kLeft - 10 - 96), height);
    p.setFont(bold);
    p.drawText(QRectF(specBox.left(), top - 22, specBox.width(), 20), Qt::AlignCenter,
               tr("Amplitude spectrum of the processed trace"));
    p.drawText(QRectF(gramBox.left(), top - 22, gramBox.width(), 20), Qt::AlignCenter,
               tr("Spectrogram of the processed trace"));
    p.setFont(QFont());
    drawSpectrum(p, specBox);
    drawSpectrogram(p, gramBox);
    p.restore();
}

void TraceInspector::drawSpectrum(QPainter& p, const QRectF& box) const {
    p.setPen(Qt::black);
    p.drawRect(box);
    const auto& f = spectrum_.frequency;
    const auto& a = spectrum_.amplitude;
    double a0 = std::numeric_limits<double>::infinity(), a1 = -a0;
    for (const double v : a)
        if (v > 0 && std::isfinite(v)) {
            a0 = std::min(a0, std::log10(v));
            a1 = std::max(a1, std::log10(v));
        }
    if (f.size() < 2 || !(a1 > a0) || !(f.back() > f.front())) {
        const QString text = !notice_.isEmpty() ? notice_
                             : isComputing()    ? tr("Computing...")
                                                : tr("No spectrum to show");
        p.drawText(box.adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, text);
        return;
    }
    a0 = std::max(a0, a1 - 8); // eight decades are all an eye can use
    const bool logF = spectrumLogFrequency_;
    const double f0 = logF ? f.front() : 0.0, f1 = f.back();
    const auto xOf = [&](double v) {
        return logF ? box.left() + std::log10(v / f0) / std::log10(f1 / f0) * box.width()
                    : box.left() + (v - f0) / (f1 - f0) * box.width();
    };
    const auto yOf = [&](double v) {
        const double l = v > 0 ? std::max(std::log10(v), a0) : a0;
        return box.bottom() - (l - a0) / (a1 - a0) * box.height();
    };
    QPainterPath path;
    for (std::size_t k = 0; k < f.size(); ++k) {
        const QPointF pt(xOf(f[k]), yOf(a[k]));
        k == 0 ? path.moveTo(pt) : path.lineTo(pt);
    }
    p.save();
    p.setClipRect(box);
    p.setPen(QColor(0, 90, 160));
    p.drawPath(path);
    p.restore();
    xTicks(p, box, logF ? plot::logTicks(f0, f1, 8) : plot::linearTicks(f0, f1, 5), xOf);
    yTicks(p, box, plot::logTicks(std::pow(10.0, a0), std::pow(10.0, a1), 6), yOf);
    xTitle(p, box, logF ? tr("Frequency (Hz), logarithmic") : tr("Frequency (Hz)"));
    yTitle(p, box, tr("Amplitude (%1)").arg(kProcessedUnits));
}

void TraceInspector::drawSpectrogram(QPainter& p, const QRectF& box) const {
    p.setPen(Qt::black);
    const auto& g = spectrogram_;
    float lo = std::numeric_limits<float>::infinity(), hi = -lo;
    for (const float v : g.level)
        if (v > kNoLevel && std::isfinite(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    if (g.windows == 0 || g.bins < 2 || !(hi > lo) || !(g.step > 0) || !(g.binHz > 0)) {
        p.drawRect(box);
        const QString text = !notice_.isEmpty() ? notice_
                             : isComputing()    ? tr("Computing...")
                                                : tr("No spectrogram to show");
        p.drawText(box.adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap, text);
        return;
    }
    lo = std::max(lo, hi - 6); // six decades of colour
    // Columns are times: the windows' centres, from the span's start.
    const double offset = civil::secondsBetween(from_, processed_.start) + g.firstCentre;
    const double t0 = offset - g.step / 2,
                 t1 = offset + (static_cast<double>(g.windows) - 0.5) * g.step;
    const double fMax = g.binHz * static_cast<double>(g.bins - 1);
    const double fMin = logFrequency_ ? g.binHz : 0.0; // the lowest bin above 0 on a log axis
    const auto frequencyAt = [&](double u) {           // u: 0 at the bottom, 1 at the top
        return logFrequency_ ? fMin * std::pow(fMax / fMin, u) : u * fMax;
    };
    const int iw = std::max(1, static_cast<int>(box.width()));
    const int ih = std::max(1, static_cast<int>(box.height()));
    QImage image(iw, ih, QImage::Format_RGB32);
    for (int y = 0; y < ih; ++y) {
        const double fy = frequencyAt(1.0 - (y + 0.5) / ih);
        const auto bin = std::min(g.bins - 1, static_cast<std::size_t>(std::lround(fy / g.binHz)));
        for (int x = 0; x < iw; ++x) {
            const auto win =
                std::min(g.windows - 1, static_cast<std::size_t>((x + 0.5) / iw * g.windows));
            image.setPixelColor(x, y, ramp((g.at(win, bin) - lo) / (hi - lo)));
        }
    }
    p.drawImage(box.topLeft(), image);
    p.drawRect(box);
    const auto xOf = [&](double t) { return box.left() + (t - t0) / (t1 - t0) * box.width(); };
    const auto yOf = [&](double v) {
        const double u = logFrequency_ ? std::log10(v / fMin) / std::log10(fMax / fMin) : v / fMax;
        return box.bottom() - u * box.height();
    };
    xTicks(p, box, plot::linearTicks(t0, t1, std::max(2.0, box.width() / 90)), xOf);
    yTicks(p, box, logFrequency_ ? plot::logTicks(fMin, fMax, 8) : plot::linearTicks(0, fMax, 5),
           yOf);
    xTitle(p, box, tr("Seconds from the span's start"));
    yTitle(p, box, logFrequency_ ? tr("Frequency (Hz), logarithmic") : tr("Frequency (Hz)"));

    // The colour scale: log10 of the amplitude.
    const QRectF legend(box.right() + 12, box.top(), 14, box.height());
    for (int y = 0; y < static_cast<int>(legend.height()); ++y)
        p.fillRect(QRectF(legend.left(), legend.bottom() - y - 1, legend.width(), 1),
                   ramp(y / legend.height()));
    p.drawRect(legend);
    for (const double v : plot::linearTicks(lo, hi, 4)) {
        const double y = legend.bottom() - (v - lo) / (hi - lo) * legend.height();
        p.drawLine(QLineF(legend.right(), y, legend.right() + 3, y));
        p.drawText(QRectF(legend.right() + 5, y - 8, 40, 16), Qt::AlignLeft | Qt::AlignVCenter,
                   plot::tickLabel(v));
    }
    p.save();
    p.translate(legend.right() + 48, legend.center().y());
    p.rotate(90);
    p.drawText(QRectF(-legend.height() / 2, 0, legend.height(), kAxisText), Qt::AlignCenter,
               tr("log10 amplitude (%1)").arg(kProcessedUnits));
    p.restore();
}

void TraceInspector::inspect(const QString& label, const SacObject* raw,
                             const SacObject& processed, Time from, Time to) {
    const QString title = QStringLiteral("%1   %2 to %3 UTC")
                              .arg(label, datetext::description(from).chopped(6),
                                   datetext::description(to).chopped(6));
    inspect(title, from, to, raw ? spanOf(*raw, from, to) : Trace{}, spanOf(processed, from, to));
}

TraceInspector::Trace TraceInspector::spanOf(const SacObject& s, Time from, Time to) {
    TraceInspector::Trace t;
    t.delta = s.delta();
    if (!(t.delta > 0))
        return t;
    const auto x = s.samples();
    const double a = std::ceil(civil::secondsBetween(s.startTime(), from) / t.delta);
    const double b = std::floor(civil::secondsBetween(s.startTime(), to) / t.delta);
    const auto first = static_cast<std::size_t>(std::clamp(a, 0.0, static_cast<double>(x.size())));
    const auto last =
        static_cast<std::size_t>(std::clamp(b + 1, 0.0, static_cast<double>(x.size())));
    if (first < last)
        t.samples.assign(x.begin() + static_cast<std::ptrdiff_t>(first),
                         x.begin() + static_cast<std::ptrdiff_t>(last));
    t.start = civil::addSeconds(s.startTime(), static_cast<double>(first) * t.delta);
    return t;
}

