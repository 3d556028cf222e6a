#include "components/QuilmRealTimeDisplayView02.h"

#include "base/Time.h"
#include "components/plot/TimeAxis.h"
#include "components/plot/TraceEnvelope.h"
#include "components/sac/SacObject.h"

#include <QFontMetrics>
#include <QLineF>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_set>

namespace {

constexpr int kLabelMargin = 150;
constexpr int kRightMargin = 24;
constexpr int kTopMargin = 40;
constexpr int kBottomMargin = 50;
constexpr qsizetype kTitleCharacters = 1000;
// A unit-RMS trace at gain 1 spans +-3 RMS across its band, so noise fills the band and an
// earthquake overlaps its neighbours, as on a helicorder.
constexpr double kRmsPerHalfBand = 3.0;
const QColor kOriginColour(214, 39, 40);

} // namespace

QuilmRealTimeDisplayView02::QuilmRealTimeDisplayView02(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(320, 200);
}

QuilmRealTimeDisplayView02::~QuilmRealTimeDisplayView02() = default;

void QuilmRealTimeDisplayView02::setWvfrmsArray(const WaveformList* list) {
    waveforms_ = list;
}
void QuilmRealTimeDisplayView02::setXLabelString(const QString& label) {
    xLabel_ = label;
}
void QuilmRealTimeDisplayView02::setDrawOriginTimes(bool on) {
    drawOrigins_ = on;
}
void QuilmRealTimeDisplayView02::setEventOrigins(std::vector<SeismicOrigin> origins) {
    origins_ = std::move(origins);
}
void QuilmRealTimeDisplayView02::setRefDate(std::optional<Date> date) {
    if (date)
        refDate_ = date;
}
void QuilmRealTimeDisplayView02::setXLimitsMin(float min, float max) {
    xmin_ = min;
    xmax_ = max;
}
void QuilmRealTimeDisplayView02::setXmin(double min) {
    xmin_ = min;
}
void QuilmRealTimeDisplayView02::setOriginOnRight(bool on) {
    originOnRight_ = on;
}
void QuilmRealTimeDisplayView02::setTitle(const QString& title) {
    title_ = title;
}
void QuilmRealTimeDisplayView02::setBackGroundColor(const QColor& colour) {
    background_ = colour;
}
void QuilmRealTimeDisplayView02::setDrawingColor(const QColor& colour) {
    foreground_ = colour;
}
void QuilmRealTimeDisplayView02::setWaveformGain(float gain) {
    gain_ = gain;
}
void QuilmRealTimeDisplayView02::setNeedsDisplay(bool flag) {
    if (flag)
        update();
}

double QuilmRealTimeDisplayView02::offsetOf(const SacObject& trace) const {
    // Without a reference date of its own the view measures from the first trace.
    Date ref = refDate_.value_or(Date{});
    if (!refDate_ && waveforms_ && !waveforms_->empty() && waveforms_->front())
        ref = waveforms_->front()->startTime();
    return civil::secondsBetween(ref, trace.startTime());
}

void QuilmRealTimeDisplayView02::computePlotLimits() {
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    if (waveforms_) {
        for (const auto& w : *waveforms_) {
            if (!w || w->samples().empty() || w->delta() <= 0)
                continue;
            const double start = offsetOf(*w);
            const double end = start + static_cast<double>(w->samples().size() - 1) * w->delta();
            lo = std::min(lo, start);
            hi = std::max(hi, end);
        }
    }
    if (std::isfinite(lo) && std::isfinite(hi)) {
        xmin_ = lo;
        xmax_ = hi;
    } else {
        xmin_ = 0.0;
        xmax_ = 60.0;
    }
}

double QuilmRealTimeDisplayView02::axisLeft() const {
    double lo = std::isfinite(xmin_) ? xmin_ : 0.0;
    double hi = std::isfinite(xmax_) ? xmax_ : lo + 60.0;
    if (originOnRight_)
        return lo < 0 ? lo : (hi > lo ? lo - hi : -60.0);
    return lo;
}

double QuilmRealTimeDisplayView02::axisRight() const {
    if (originOnRight_)
        return 0.0;
    const double lo = axisLeft();
    const double hi = std::isfinite(xmax_) ? xmax_ : lo + 60.0;
    return hi > lo ? hi : lo + 1.0;
}

QRect QuilmRealTimeDisplayView02::plotRect(QSize size) {
    const int w = std::max(1, size.width() - kLabelMargin - kRightMargin);
    const int h = std::max(1, size.height() - kTopMargin - kBottomMargin);
    return {kLabelMargin, kTopMargin, w, h};
}

double QuilmRealTimeDisplayView02::timeToX(double seconds, double left, double right,
                                           const QRect& plot) {
    return plot::timeToX(seconds, left, right, plot);
}

double QuilmRealTimeDisplayView02::xToTime(double x, double left, double right, const QRect& plot) {
    return plot::xToTime(x, left, right, plot);
}

void QuilmRealTimeDisplayView02::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.setClipRect(event->rect());
    render(p, size());
}

void QuilmRealTimeDisplayView02::render(QPainter& p, QSize size) {
    p.save();
    p.fillRect(QRect(QPoint(0, 0), size), background_);
    const QRect plot = plotRect(size);
    const double left = axisLeft();
    const double right = axisRight();
    drawAxis(p, plot, left, right);
    if (drawOrigins_)
        drawOrigins(p, plot, left, right, false);
    drawTraces(p, plot, left, right);
    if (drawOrigins_)
        drawOrigins(p, plot, left, right, true); // captions stay readable over the traces

    QFont titleFont = p.font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
    titleFont.setBold(true);
    p.setFont(titleFont);
    p.setPen(foreground_);
    // A title of any length costs one line: the elision only looks at what could fit.
    const QString title = QFontMetrics(titleFont).elidedText(title_.left(kTitleCharacters),
                                                             Qt::ElideRight, size.width() - 16);
    p.drawText(QRect(0, 0, size.width(), kTopMargin), Qt::AlignCenter, title);
    p.restore();
}

void QuilmRealTimeDisplayView02::drawAxis(QPainter& p, const QRect& plot, double left,
                                          double right) {
    p.save();
    QColor grid = foreground_;
    grid.setAlpha(40);
    const QFontMetrics fm(p.font());
    for (const double t : plot::tickTimes(left, right, plot.width() / 90.0)) {
        const double x = timeToX(t, left, right, plot);
        p.setPen(grid);
        p.drawLine(QLineF(x, plot.top(), x, plot.bottom()));
        p.setPen(foreground_);
        p.drawLine(QLineF(x, plot.bottom(), x, plot.bottom() + 5));
        const QString text = QString::number(t, 'g', 12);
        const int tw = fm.horizontalAdvance(text);
        p.drawText(QPointF(x - tw / 2.0, plot.bottom() + 7 + fm.ascent()), text);
    }
    p.setPen(foreground_);
    p.drawRect(plot.adjusted(0, 0, -1, -1));
    p.drawText(QRect(plot.left(), plot.bottom() + 8 + fm.height(), plot.width(), fm.height() + 4),
               Qt::AlignHCenter | Qt::AlignTop, xLabel_);
    p.restore();
}

void QuilmRealTimeDisplayView02::drawOrigins(QPainter& p, const QRect& plot, double left,
                                             double right, bool captions) {
    if (!refDate_)
        return;
    p.save();
    p.setPen(QPen(kOriginColour, 1.5));
    const QFontMetrics fm(p.font());
    for (const SeismicOrigin& o : origins_) {
        const double t = civil::secondsBetween(*refDate_, o.originTime);
        if (!(t >= left && t <= right))
            continue;
        const double x = timeToX(t, left, right, plot);
        if (!captions) {
            p.drawLine(QLineF(x, plot.top(), x, plot.bottom()));
            continue;
        }
        const QString caption = QStringLiteral("M%1").arg(o.mag, 0, 'f', 1);
        const int tw = fm.horizontalAdvance(caption);
        const double tx = std::min(x + 3, plot.right() - tw - 4.0);
        QColor behind = background_;
        behind.setAlpha(210);
        p.fillRect(QRectF(tx - 2, plot.top() + 2, tw + 4, fm.height()), behind);
        p.drawText(QPointF(tx, plot.top() + fm.ascent() + 2), caption);
    }
    p.restore();
}

const plot::BlockSummary& QuilmRealTimeDisplayView02::summaryFor(const SacObject& trace) {
    Summary& s = summaries_[trace.identity()];
    if (s.revision != trace.revision() || s.blocks.low.empty()) {
        s.revision = trace.revision();
        s.blocks = plot::summarise(trace.samples());
    }
    return s.blocks;
}

const plot::ColumnEnvelope& QuilmRealTimeDisplayView02::envelopeFor(const SacObject& trace,
                                                                    double offset, double left,
                                                                    double right, int width) {
    Envelope& e = envelopes_[trace.identity()];
    if (e.revision == trace.revision() && e.left == left && e.right == right &&
        e.offset == offset && e.width == width && !e.columns.low.empty())
        return e.columns;
    e.revision = trace.revision();
    e.left = left;
    e.right = right;
    e.offset = offset;
    e.width = width;
    const auto x = trace.samples();
    const plot::BlockSummary* summary =
        plot::summaryPaysOff(x.size(), trace.delta(), left, right, width) ? &summaryFor(trace)
                                                                          : nullptr;
    e.columns = plot::columnEnvelope(x, trace.delta(), offset, left, right, width, summary);
    return e.columns;
}

void QuilmRealTimeDisplayView02::drawTraces(QPainter& p, const QRect& plot, double left,
                                            double right) {
    const std::size_t count = waveforms_ ? waveforms_->size() : 0;
    std::unordered_set<std::uint64_t> seen;
    if (count > 0) {
        p.save();
        const double band = static_cast<double>(plot.height()) / static_cast<double>(count);
        const double pxPerUnit = gain_ * (band / 2.0) / kRmsPerHalfBand;
        const double top = plot.top() - 1.0, bottom = plot.bottom() + 1.0;
        auto yOf = [&](double centre, double v) {
            const double y = centre - v * pxPerUnit;
            return std::isnan(y) ? centre : std::clamp(y, top, bottom);
        };
        const QFontMetrics fm(p.font());
        for (std::size_t k = 0; k < count; ++k) {
            const SacObject* trace = (*waveforms_)[k].get();
            if (!trace)
                continue;
            const double centre = plot.top() + (static_cast<double>(k) + 0.5) * band;
            p.setClipping(false);
            p.setPen(foreground_);
            const QString label = fm.elidedText(QString::fromStdString(trace->label()),
                                                Qt::ElideRight, kLabelMargin - 12);
            p.drawText(QPointF(6, centre + fm.ascent() / 2.0 - 1), label);
            seen.insert(trace->identity());
            const auto x = trace->samples();
            const double dt = trace->delta();
            if (x.empty() || dt <= 0)
                continue;
            p.setClipRect(plot);
            const double offset = offsetOf(*trace);
            const double colSpan = (right - left) / plot.width();
            if (dt * 2.0 > colSpan) {
                // Fewer samples than columns: a line through the samples themselves.
                const std::size_t first = plot::sampleIndexAt(left, offset, dt, x.size());
                const std::size_t end = plot::sampleIndexAt(right, offset, dt, x.size());
                const std::size_t from = first > 0 ? first - 1 : 0;
                const std::size_t to = std::min(x.size(), end + 1);
                QPolygonF line;
                line.reserve(static_cast<qsizetype>(to - from));
                for (std::size_t i = from; i < to; ++i) {
                    const double t = offset + static_cast<double>(i) * dt;
                    const double px = std::clamp(timeToX(t, left, right, plot), -1e6, 1e6);
                    line << QPointF(px, yOf(centre, x[i]));
                }
                p.drawPolyline(line);
                continue;
            }
            const plot::ColumnEnvelope& e = envelopeFor(*trace, offset, left, right, plot.width());
            std::vector<QLineF> segments;
            segments.reserve(e.low.size());
            bool havePrevious = false;
            float previous = 0;
            for (std::size_t c = 0; c < e.low.size(); ++c) {
                if (!e.present[c]) {
                    havePrevious = false;
                    continue;
                }
                // Reach back to the previous column's last sample so the trace has no gaps.
                float lo = e.low[c], hi = e.high[c];
                if (havePrevious) {
                    lo = std::min(lo, previous);
                    hi = std::max(hi, previous);
                }
                const double xpix = plot.left() + static_cast<double>(c) + 0.5;
                // At least a pixel tall, so a flat or nearly flat trace is a line without holes.
                double yHigh = yOf(centre, hi), yLow = yOf(centre, lo);
                if (yLow - yHigh < 1.0) {
                    const double mid = 0.5 * (yHigh + yLow);
                    yHigh = mid - 0.5;
                    yLow = mid + 0.5;
                }
                segments.emplace_back(xpix, yHigh, xpix, yLow);
                previous = e.last[c];
                havePrevious = true;
            }
            p.drawLines(segments.data(), static_cast<int>(segments.size()));
        }
        p.restore();
    }
    // Forget what belongs to traces that are gone.
    std::erase_if(envelopes_, [&](const auto& kv) { return !seen.contains(kv.first); });
    std::erase_if(summaries_, [&](const auto& kv) { return !seen.contains(kv.first); });
}
