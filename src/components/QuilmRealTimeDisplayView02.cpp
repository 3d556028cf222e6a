#include "components/QuilmRealTimeDisplayView02.h"

#include "base/DateText.h"
#include "base/Time.h"
#include "components/plot/TimeAxis.h"
#include "components/plot/TraceEnvelope.h"
#include "components/sac/SacObject.h"

#include <QFontMetrics>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineF>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPolygonF>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>
#include <unordered_set>

namespace {

constexpr int kLabelMargin = 170;
constexpr int kMinimumHeight = 200;
constexpr int kLabelMarginMost = 340;
constexpr int kLabelPadding = 12;
constexpr int kRightMargin = 24;
constexpr int kTitleHeight = 34;
// Origin captions stand in a strip of their own above the plot, so no trace covers them.
constexpr int kTopMargin = 58;
constexpr int kBottomMargin = 50;
constexpr qsizetype kTitleCharacters = 1000;
// A unit-RMS trace at gain 1 spans +-3 RMS across its band, so noise fills the band and an
// earthquake overlaps its neighbours, as on a helicorder.
constexpr double kRmsPerHalfBand = 3.0;
// The narrowest span a zoom may reach, and the widest.
constexpr double kMinimumSpan = 1e-3, kMaximumSpan = 1e9;
const QColor kOriginColour(214, 39, 40);
const QColor kMarkColour(0, 114, 178);
// The same hue, light enough to read on the dark scheme's black.
const QColor kMarkColourOnDark(86, 180, 233);

// A field the header leaves undefined ("-12345") names nothing.
QString headerText(const SacObject& s, const sac::Field& field) {
    const sac::SacHeader* h = s.GetSacHeader();
    const QString text = h ? QString::fromStdString(h->getText(field)).trimmed() : QString();
    return text.startsWith(u"-12345") ? QString() : text;
}

QString stationCode(const SacObject& s) {
    return headerText(s, sac::text::KSTNM);
}

QString seedIdOf(const SacObject& s) {
    const QString sta = stationCode(s);
    if (sta.isEmpty())
        return {};
    QString loc = headerText(s, sac::text::KHOLE);
    if (loc.isEmpty())
        loc = QStringLiteral("--");
    return headerText(s, sac::text::KNETWK) + u'.' + sta + u'.' + loc + u'.' +
           headerText(s, sac::text::KCMPNM);
}

// What a trace's samples are multiplied by to be drawn in its mode: 1 as processed, or back to
// its amplitude before the unit-RMS scaling over the largest such amplitude of all traces.
double amplitudeFactor(const SacObject& s, QuilmRealTimeDisplayView02::AmplitudeMode mode,
                       double largestRms) {
    if (mode != QuilmRealTimeDisplayView02::AmplitudeMode::CommonScale)
        return 1.0;
    const double applied = s.appliedScale();
    if (applied == 0 || !std::isfinite(applied) || !(largestRms > 0))
        return 0.0;
    return 1.0 / applied / largestRms;
}

} // namespace

QuilmRealTimeDisplayView02::QuilmRealTimeDisplayView02(QWidget* parent)
    : QWidget(parent), labelMargin_(kLabelMargin) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(320, kMinimumHeight);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
}

QuilmRealTimeDisplayView02::~QuilmRealTimeDisplayView02() = default;

void QuilmRealTimeDisplayView02::setWvfrmsArray(const WaveformList* list) {
    waveforms_ = list;
}
void QuilmRealTimeDisplayView02::setTraceRows(std::vector<int> rows) {
    rows_ = std::move(rows);
}

int QuilmRealTimeDisplayView02::rowCount() const {
    const std::size_t count = waveforms_ ? waveforms_->size() : 0;
    if (rows_.size() != count)
        return static_cast<int>(count);
    int most = -1;
    for (const int r : rows_)
        most = std::max(most, r);
    return most + 1;
}

int QuilmRealTimeDisplayView02::rowOf(std::size_t trace) const {
    const std::size_t count = waveforms_ ? waveforms_->size() : 0;
    if (rows_.size() != count)
        return static_cast<int>(trace);
    return trace < rows_.size() ? std::max(0, rows_[trace]) : -1;
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
    if (!flag)
        return;
    if (const int rows = rowCount(); rows != sizedRows_) {
        sizedRows_ = rows;
        // A scroll area sizes its widget by the minimum size when one is set (the constructor
        // sets one), not by the hint: the rows' height has to be the minimum itself.
        setMinimumHeight(std::max(kMinimumHeight, minimumSizeHint().height()));
        updateGeometry();
    }
    update();
}

QSize QuilmRealTimeDisplayView02::minimumSizeHint() const {
    return {std::max(320, kLabelMargin + kRightMargin + 100),
            std::max(kMinimumHeight,
                     kTopMargin + kBottomMargin + std::max(1, sizedRows_) * kMinRowHeight)};
}
void QuilmRealTimeDisplayView02::setAmplitudeMode(AmplitudeMode mode) {
    mode_ = mode;
    update();
}
void QuilmRealTimeDisplayView02::setTraceAnnotations(std::vector<TraceAnnotation> annotations) {
    annotations_ = std::move(annotations);
    update();
}
void QuilmRealTimeDisplayView02::setPlaceholder(const QString& title, const QString& guidance) {
    placeholderTitle_ = title;
    placeholderGuidance_ = guidance;
    update();
}

void QuilmRealTimeDisplayView02::adoptSummary(std::uint64_t identity, std::uint64_t revision,
                                              std::shared_ptr<const plot::BlockSummary> summary) {
    if (summary)
        summaries_[identity] = {revision, std::move(summary)};
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

double QuilmRealTimeDisplayView02::baseLeft() const {
    double lo = std::isfinite(xmin_) ? xmin_ : 0.0;
    double hi = std::isfinite(xmax_) ? xmax_ : lo + 60.0;
    if (originOnRight_)
        return lo < 0 ? lo : (hi > lo ? lo - hi : -60.0);
    return lo;
}

double QuilmRealTimeDisplayView02::baseRight() const {
    if (originOnRight_)
        return 0.0;
    const double lo = baseLeft();
    const double hi = std::isfinite(xmax_) ? xmax_ : lo + 60.0;
    return hi > lo ? hi : lo + 1.0;
}

double QuilmRealTimeDisplayView02::axisLeft() const {
    if (zoom_)
        return civil::secondsBetween(refDate_.value_or(Date{}), zoom_->first);
    return baseLeft();
}

double QuilmRealTimeDisplayView02::axisRight() const {
    if (zoom_)
        return civil::secondsBetween(refDate_.value_or(Date{}), zoom_->second);
    return baseRight();
}

void QuilmRealTimeDisplayView02::setZoomSeconds(double left, double right) {
    if (!std::isfinite(left) || !std::isfinite(right))
        return;
    if (right < left)
        std::swap(left, right);
    const double span = std::clamp(right - left, kMinimumSpan, kMaximumSpan);
    const double middle = 0.5 * (left + right);
    const Date ref = refDate_.value_or(Date{});
    const bool was = zoom_.has_value();
    zoom_ = std::pair{civil::addSeconds(ref, middle - 0.5 * span),
                      civil::addSeconds(ref, middle + 0.5 * span)};
    if (!was)
        Q_EMIT zoomChanged(true);
    update();
}

void QuilmRealTimeDisplayView02::zoomTo(double leftSeconds, double rightSeconds) {
    setZoomSeconds(leftSeconds, rightSeconds);
}

void QuilmRealTimeDisplayView02::zoomBy(double factor, double about) {
    if (!(factor > 0) || !std::isfinite(factor) || !std::isfinite(about))
        return;
    const plot::Span s = plot::zoomedAbout({axisLeft(), axisRight()}, factor, about);
    setZoomSeconds(s.left, s.right);
}

void QuilmRealTimeDisplayView02::panBy(double seconds) {
    if (!std::isfinite(seconds))
        return;
    setZoomSeconds(axisLeft() + seconds, axisRight() + seconds);
}

void QuilmRealTimeDisplayView02::resetZoom() {
    const bool was = zoom_.has_value();
    zoom_.reset();
    if (was)
        Q_EMIT zoomChanged(false);
    update();
}

QRect QuilmRealTimeDisplayView02::plotRect(QSize size) const {
    const int w = std::max(1, size.width() - labelMargin_ - kRightMargin);
    const int h = std::max(1, size.height() - kTopMargin - kBottomMargin);
    return {labelMargin_, kTopMargin, w, h};
}

QColor QuilmRealTimeDisplayView02::markColour() const {
    return background_.lightness() < 128 ? kMarkColourOnDark : kMarkColour;
}

int QuilmRealTimeDisplayView02::labelMargin(const QFontMetrics& fm, int viewWidth) const {
    // Never narrower than it always was, never more than a quarter of the view.
    const int most = std::max(kLabelMargin, std::min(kLabelMarginMost, viewWidth / 4));
    int needed = kLabelMargin;
    if (labelWidths_.size() > 4096)
        labelWidths_.clear();
    if (waveforms_)
        for (const auto& w : *waveforms_) {
            if (w) {
                // Measured once per text: a frame of many rows would spend most of its time here.
                const QString label = fullLabel(*w);
                auto at = labelWidths_.constFind(label);
                if (at == labelWidths_.cend())
                    at = labelWidths_.insert(label, fm.horizontalAdvance(label));
                needed = std::max(needed, *at + kLabelPadding);
            }
            if (needed >= most)
                break;
        }
    return std::min(needed, most);
}

QString QuilmRealTimeDisplayView02::fittedLabel(const SacObject& trace, const QFontMetrics& fm,
                                                int width) {
    const QString whole = fullLabel(trace);
    if (fm.horizontalAdvance(whole) <= width)
        return whole;
    const QString code = stationCode(trace);
    if (code.isEmpty())
        return fm.elidedText(whole, Qt::ElideRight, width);
    const QString head = code + QStringLiteral("  ");
    return head + fm.elidedText(QString::fromStdString(trace.label()), Qt::ElideRight,
                                std::max(0, width - fm.horizontalAdvance(head)));
}

double QuilmRealTimeDisplayView02::timeToX(double seconds, double left, double right,
                                           const QRect& plot) {
    return plot::timeToX(seconds, left, right, plot);
}

double QuilmRealTimeDisplayView02::xToTime(double x, double left, double right, const QRect& plot) {
    return plot::xToTime(x, left, right, plot);
}

int QuilmRealTimeDisplayView02::rowAt(QPointF point, QSize size) const {
    const int rows = rowCount();
    const QRect plot = plotRect(size);
    if (rows <= 0 || point.y() < plot.top() || point.y() >= plot.top() + plot.height())
        return -1;
    const double band = static_cast<double>(plot.height()) / static_cast<double>(rows);
    const auto k = static_cast<int>((point.y() - plot.top()) / band);
    return k < rows ? k : -1;
}

int QuilmRealTimeDisplayView02::traceAt(QPointF point, QSize size) const {
    const int row = rowAt(point, size);
    if (row < 0)
        return -1;
    const double t = xToTime(point.x(), axisLeft(), axisRight(), plotRect(size));
    int best = -1;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < waveforms_->size(); ++k) {
        const SacObject* s = (*waveforms_)[k].get();
        if (!s || rowOf(k) != row)
            continue;
        double distance = std::numeric_limits<double>::max();
        if (!s->samples().empty() && s->delta() > 0) {
            const double start = offsetOf(*s);
            const double end = start + static_cast<double>(s->samples().size()) * s->delta();
            distance = t < start ? start - t : (t > end ? t - end : 0.0);
        }
        if (best < 0 || distance < bestDistance) {
            best = static_cast<int>(k);
            bestDistance = distance;
        }
    }
    return best;
}

std::vector<std::pair<double, double>> QuilmRealTimeDisplayView02::rowGaps(int row) const {
    std::vector<std::pair<double, double>> pieces; // [first sample, next sample) in axis seconds
    double delta = 0;
    if (waveforms_) {
        for (std::size_t k = 0; k < waveforms_->size(); ++k) {
            const SacObject* s = (*waveforms_)[k].get();
            if (!s || rowOf(k) != row || s->samples().empty() || !(s->delta() > 0))
                continue;
            const double start = offsetOf(*s);
            pieces.emplace_back(start,
                                start + static_cast<double>(s->samples().size()) * s->delta());
            delta = std::max(delta, s->delta());
        }
    }
    std::vector<std::pair<double, double>> gaps;
    if (pieces.empty())
        return gaps;
    std::sort(pieces.begin(), pieces.end());
    // Less than a sample apart is the grid's rounding, not missing data.
    double covered = baseLeft();
    for (const auto& [from, to] : pieces) {
        if (from - covered > delta)
            gaps.emplace_back(covered, from);
        covered = std::max(covered, to);
    }
    return gaps;
}

std::optional<QuilmRealTimeDisplayView02::Readout>
QuilmRealTimeDisplayView02::readoutAt(QPointF point, QSize size) const {
    const QRect plot = plotRect(size);
    if (point.x() < plot.left() || point.x() > plot.right() || point.y() < plot.top() ||
        point.y() > plot.bottom())
        return std::nullopt;
    Readout r;
    r.seconds = xToTime(point.x(), axisLeft(), axisRight(), plot);
    r.time = civil::addSeconds(refDate_.value_or(Date{}), r.seconds);
    r.trace = traceAt(point, size);
    if (r.trace >= 0) {
        const SacObject* s = (*waveforms_)[static_cast<std::size_t>(r.trace)].get();
        if (s) {
            r.seedId = seedIdOf(*s);
            r.label = QString::fromStdString(s->label());
            const auto x = s->samples();
            const double dt = s->delta();
            if (!x.empty() && dt > 0) {
                const double i = std::round((r.seconds - offsetOf(*s)) / dt);
                if (i >= 0 && i < static_cast<double>(x.size()))
                    r.value = x[static_cast<std::size_t>(i)];
            }
        }
    }
    return r;
}

QString QuilmRealTimeDisplayView02::readoutText(const Readout& r) {
    const civil::Fields f = civil::fieldsOf(r.time);
    QString text = datetext::description(r.time).chopped(6) +
                   QStringLiteral(".%1 UTC").arg(f.nanosecond / 1'000'000, 3, 10, QLatin1Char('0'));
    text += QStringLiteral("    %1 s").arg(r.seconds, 0, 'f', 3);
    if (r.trace >= 0) {
        text +=
            QStringLiteral("    ") + (r.seedId.isEmpty() ? QString() : r.seedId + u' ') + r.label;
        if (r.value)
            text += QStringLiteral("    value %1").arg(static_cast<double>(*r.value), 0, 'g', 5);
    }
    return text;
}

QString QuilmRealTimeDisplayView02::fullLabel(const SacObject& trace) {
    const QString sta = stationCode(trace);
    const QString label = QString::fromStdString(trace.label());
    return sta.isEmpty() ? label : sta + QStringLiteral("  ") + label;
}

void QuilmRealTimeDisplayView02::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.setClipRect(event->rect());
    const QRect seen = visibleRegion().boundingRect();
    visibleBottom_ = seen.isEmpty() ? -1 : seen.top() + seen.height();
    render(p, size());
    visibleBottom_ = -1;
    if (rubberBand_) {
        QColor fill = markColour();
        fill.setAlpha(40);
        p.fillRect(*rubberBand_, fill);
        p.setPen(markColour());
        p.drawRect(*rubberBand_);
    }
    Q_EMIT painted();
}

void QuilmRealTimeDisplayView02::render(QPainter& p, QSize size) {
    if (const QString font = p.font().key(); font != labelWidthsFont_) {
        labelWidths_.clear();
        labelWidthsFont_ = font;
    }
    labelMargin_ = labelMargin(QFontMetrics(p.font()), size.width());
    // In a scroll area only the visible part is exposed: rows beyond it cost nothing.
    exposed_ = QRect(QPoint(0, 0), size);
    if (p.hasClipping())
        exposed_ = exposed_.intersected(p.clipBoundingRect().toAlignedRect());
    rowsDrawn_ = 0;
    p.save();
    p.fillRect(QRect(QPoint(0, 0), size), background_);
    const QRect plot = plotRect(size);
    const double left = axisLeft();
    const double right = axisRight();
    const bool empty = !waveforms_ || waveforms_->empty();
    if (empty && !placeholderTitle_.isEmpty()) {
        drawPlaceholder(p, plot);
    } else {
        drawAxis(p, plot, left, right);
        if (drawOrigins_)
            drawOrigins(p, plot, left, right, false);
        drawTraces(p, plot, left, right);
        if (drawOrigins_)
            drawOrigins(p, plot, left, right, true);
        // The plot's bottom scrolled out of sight: the scale stays at the bottom of what is seen.
        if (const int y = scaleY(plot, visibleBottom_); y != plot.bottom()) {
            p.fillRect(QRect(0, y, size.width(), kBottomMargin), background_);
            p.setPen(foreground_);
            p.drawLine(plot.left(), y, plot.right(), y);
            drawScale(p, plot, left, right, y);
        }
    }

    QFont titleFont = p.font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
    titleFont.setBold(true);
    p.setFont(titleFont);
    p.setPen(foreground_);
    // A title of any length costs one line: the elision only looks at what could fit.
    const QString title = QFontMetrics(titleFont).elidedText(title_.left(kTitleCharacters),
                                                             Qt::ElideRight, size.width() - 16);
    p.drawText(QRect(0, 0, size.width(), kTitleHeight), Qt::AlignCenter, title);
    p.restore();
}

void QuilmRealTimeDisplayView02::drawPlaceholder(QPainter& p, const QRect& plot) {
    p.save();
    QFont big = p.font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    const QFontMetrics bigMetrics(big);
    p.setFont(big);
    p.setPen(foreground_);
    const int middle = plot.top() + plot.height() / 2;
    p.drawText(
        QRect(plot.left(), middle - bigMetrics.height() - 6, plot.width(), bigMetrics.height()),
        Qt::AlignCenter, bigMetrics.elidedText(placeholderTitle_, Qt::ElideRight, plot.width()));
    p.setFont(QFont());
    QColor soft = foreground_;
    soft.setAlpha(170);
    p.setPen(soft);
    p.drawText(QRect(plot.left(), middle + 4, plot.width(), plot.height() / 2 - 4),
               Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, placeholderGuidance_);
    p.restore();
}

void QuilmRealTimeDisplayView02::drawAxis(QPainter& p, const QRect& plot, double left,
                                          double right) {
    p.save();
    QColor grid = foreground_;
    grid.setAlpha(40);
    p.setPen(grid);
    for (const double t : plot::tickTimes(left, right, plot.width() / 90.0)) {
        const double x = timeToX(t, left, right, plot);
        p.drawLine(QLineF(x, plot.top(), x, plot.bottom()));
    }
    p.setPen(foreground_);
    p.drawRect(plot.adjusted(0, 0, -1, -1));
    p.restore();
    drawScale(p, plot, left, right, plot.bottom());
}

void QuilmRealTimeDisplayView02::drawScale(QPainter& p, const QRect& plot, double left,
                                           double right, int y) {
    p.save();
    p.setPen(foreground_);
    const QFontMetrics fm(p.font());
    for (const double t : plot::tickTimes(left, right, plot.width() / 90.0)) {
        const double x = timeToX(t, left, right, plot);
        p.drawLine(QLineF(x, y, x, y + 5));
        const QString text = QString::number(t, 'g', 12);
        const int tw = fm.horizontalAdvance(text);
        p.drawText(QPointF(x - tw / 2.0, y + 7 + fm.ascent()), text);
    }
    p.drawText(QRect(plot.left(), y + 8 + fm.height(), plot.width(), fm.height() + 4),
               Qt::AlignHCenter | Qt::AlignTop, xLabel_);
    p.restore();
}

int QuilmRealTimeDisplayView02::scaleY(const QRect& plot, int visibleBottom) {
    const int lifted = visibleBottom - kBottomMargin;
    return visibleBottom >= 0 && lifted < plot.bottom() && lifted > plot.top() ? lifted
                                                                             : plot.bottom();
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
            p.drawLine(QLineF(x, plot.top() - 4, x, plot.bottom()));
            continue;
        }
        // In the strip above the plot, where no trace reaches.
        const QString caption = QStringLiteral("M%1").arg(o.mag, 0, 'f', 1);
        const int tw = fm.horizontalAdvance(caption);
        const double tx = std::clamp(x - tw / 2.0, 2.0, plot.right() - tw - 2.0);
        p.drawText(QPointF(tx, plot.top() - 6), caption);
    }
    p.restore();
}

const QuilmRealTimeDisplayView02::Extent&
QuilmRealTimeDisplayView02::extentOf(const SacObject& trace) {
    Extent& e = extents_[trace.identity()];
    if (e.revision != trace.revision() || e.revision == 0) {
        e.revision = trace.revision();
        float lo = std::numeric_limits<float>::infinity(), hi = -lo;
        for (const float v : trace.samples()) {
            lo = std::min(lo, v); // a NaN never wins either comparison
            hi = std::max(hi, v);
        }
        e.valid = lo <= hi;
        e.low = lo;
        e.high = hi;
    }
    return e;
}

void QuilmRealTimeDisplayView02::prepareEnvelopes(const QRect& plot, double left, double right,
                                                  const std::vector<char>& drawn) {
    // The envelopes a redraw needs that the cache lacks, made on two threads: after a zoom or
    // pan every trace needs a new one.
    const int width = plot.width();
    const double colSpan = (right - left) / width;
    // Whole columns the axis moved over the grid since it was laid; a stray part of one is
    // absorbed by drawing the grid up to half a column off the axis.
    auto movedBy = [&] {
        return refDate_ && grid_.ref ? civil::secondsBetween(*grid_.ref, *refDate_) / colSpan : 0.0;
    };
    if (grid_.generation == 0 || grid_.left != left || grid_.right != right ||
        grid_.width != width || grid_.ref.has_value() != refDate_.has_value() ||
        (!originOnRight_ && grid_.ref != refDate_) || !(std::abs(movedBy()) < 1e6))
        grid_ = {grid_.generation + 1, refDate_, left, right, width};
    const double moved = movedBy();
    const long long shift = std::llround(moved);
    // Within a hair of whole columns (the clock's ticks) is whole: the grid is then the axis.
    const double part = moved - static_cast<double>(shift);
    const double drift = std::abs(part) < 1e-6 ? 0.0 : part * colSpan;
    const double gridLeft = left - drift, gridRight = right - drift;
    struct Job {
        const SacObject* trace;
        Envelope* envelope;
        const plot::BlockSummary* summary;
        double offset;
        int from, count;    // the columns to make, in the view's columns
        long long skew = 0; // how far the held columns move left
    };
    std::vector<Job> jobs;
    columnsMade_ = 0;
    for (std::size_t k = 0; k < waveforms_->size(); ++k) {
        const auto& w = (*waveforms_)[k];
        if (!w || w->samples().empty() || !(w->delta() > 0) || w->delta() * 2.0 > colSpan ||
            k >= drawn.size() || !drawn[k])
            continue;
        const double offset = offsetOf(*w);
        const double start = grid_.ref ? civil::secondsBetween(*grid_.ref, w->startTime()) : offset;
        Envelope& e = envelopes_[w->identity()];
        Job job{w.get(), &e, nullptr, offset, 0, width};
        if (e.revision == w->revision() && e.grid == grid_.generation && e.start == start &&
            static_cast<int>(e.columns.low.size()) == width) {
            const long long skew = shift - e.first;
            if (skew == 0)
                continue;
            if (std::abs(skew) < width) {
                job.skew = skew;
                job.count = static_cast<int>(std::abs(skew));
                job.from = skew > 0 ? width - job.count : 0;
            }
        }
        e.revision = w->revision();
        e.grid = grid_.generation;
        e.start = start;
        e.first = shift;
        if (plot::summaryPaysOff(w->samples().size(), w->delta(), left, right, width)) {
            Summary& s = summaries_[w->identity()];
            if (s.revision != w->revision() || !s.blocks) {
                s.revision = w->revision();
                s.blocks = std::make_shared<plot::BlockSummary>(plot::summarise(w->samples()));
            }
            job.summary = s.blocks.get();
        }
        columnsMade_ += job.count;
        jobs.push_back(job);
    }
    auto run = [&](std::size_t from, std::size_t step) {
        for (std::size_t i = from; i < jobs.size(); i += step) {
            const Job& j = jobs[i];
            plot::ColumnEnvelope made =
                plot::columnEnvelope(j.trace->samples(), j.trace->delta(), j.offset, gridLeft,
                                     gridRight, width, j.summary, j.from, j.count);
            plot::ColumnEnvelope& held = j.envelope->columns;
            if (j.count == width) {
                held = std::move(made);
                continue;
            }
            // Shift what is held and put the new columns where it left room.
            auto splice = [&](auto& columns, auto& fresh) {
                if (j.skew > 0) {
                    columns.erase(columns.begin(), columns.begin() + j.count);
                    columns.insert(columns.end(), fresh.begin(), fresh.end());
                } else {
                    columns.erase(columns.end() - j.count, columns.end());
                    columns.insert(columns.begin(), fresh.begin(), fresh.end());
                }
            };
            splice(held.low, made.low);
            splice(held.high, made.high);
            splice(held.last, made.last);
            splice(held.present, made.present);
        }
    };
    if (jobs.size() < 4) {
        run(0, 1);
        return;
    }
    std::thread helper(run, 1, 2);
    run(0, 2);
    helper.join();
}

void QuilmRealTimeDisplayView02::drawTraces(QPainter& p, const QRect& plot, double left,
                                            double right) {
    const std::size_t count = waveforms_ ? waveforms_->size() : 0;
    const int rows = rowCount();
    std::unordered_set<std::uint64_t> seen;
    if (count > 0 && rows > 0) {
        p.save();
        const double band = static_cast<double>(plot.height()) / static_cast<double>(rows);
        const double pxPerUnit = gain_ * (band / 2.0) / kRmsPerHalfBand;
        double largestRms = 0;
        for (const auto& w : *waveforms_)
            if (w && w->appliedScale() != 0 && std::isfinite(w->appliedScale()))
                largestRms = std::max(largestRms, 1.0 / std::abs(w->appliedScale()));
        const QFont base = p.font();
        const QFontMetrics fm(base);
        QFont small = base;
        small.setPointSizeF(small.pointSizeF() * 0.85);
        const QFontMetrics smallMetrics(small);
        // What may change pixels: a row's texts reach a line or two past its band, a trace as
        // far as its largest sample (outside ClipToBand it may cover its neighbours).
        const double exposedTop = exposed_.top();
        const double exposedBottom = exposed_.top() + exposed_.height();
        const double textReach = fm.height() + 2.0 * smallMetrics.height();
        auto rowShown = [&](int row) {
            const double centre = plot.top() + (static_cast<double>(row) + 0.5) * band;
            return centre + band / 2 + textReach >= exposedTop &&
                   centre - band / 2 - textReach <= exposedBottom;
        };
        std::vector<char> traceShown(count, 0);
        for (std::size_t k = 0; k < count; ++k) {
            const SacObject* trace = (*waveforms_)[k].get();
            const int row = rowOf(k);
            if (!trace || row < 0 || row >= rows)
                continue;
            const double centre = plot.top() + (static_cast<double>(row) + 0.5) * band;
            double top = centre - band / 2, bottom = centre + band / 2;
            if (mode_ != AmplitudeMode::ClipToBand) {
                const Extent& e = extentOf(*trace);
                const double scale = pxPerUnit * amplitudeFactor(*trace, mode_, largestRms);
                const double a = centre - e.high * scale, b = centre - e.low * scale;
                if (e.valid && (std::isnan(a) || std::isnan(b))) {
                    top = plot.top() - 1.0; // anywhere in the plot
                    bottom = plot.bottom() + 1.0;
                } else if (e.valid) {
                    top = std::min({top, a, b});
                    bottom = std::max({bottom, a, b});
                }
            }
            traceShown[k] = bottom + 2 >= exposedTop && top - 2 <= exposedBottom;
        }
        prepareEnvelopes(plot, left, right, traceShown);
        // Each row once: its label, notes, marks and gaps, from its first trace.
        std::vector<int> firstOfRow(static_cast<std::size_t>(rows), -1);
        std::vector<bool> rowHasSamples(static_cast<std::size_t>(rows), false);
        for (std::size_t k = 0; k < count; ++k) {
            const int r = rowOf(k);
            const SacObject* trace = (*waveforms_)[k].get();
            if (r < 0 || r >= rows || !trace)
                continue;
            if (firstOfRow[static_cast<std::size_t>(r)] < 0)
                firstOfRow[static_cast<std::size_t>(r)] = static_cast<int>(k);
            if (!trace->samples().empty() && trace->delta() > 0)
                rowHasSamples[static_cast<std::size_t>(r)] = true;
        }
        auto inkOf = [&](int row) {
            const TraceAnnotation* note = static_cast<std::size_t>(row) < annotations_.size()
                                              ? &annotations_[static_cast<std::size_t>(row)]
                                              : nullptr;
            QColor ink = foreground_;
            if (note && note->dimmed)
                ink.setAlpha(90);
            return ink;
        };
        for (int row = 0; row < rows; ++row) {
            const int k = firstOfRow[static_cast<std::size_t>(row)];
            if (k < 0 || !rowShown(row))
                continue;
            ++rowsDrawn_;
            const SacObject* trace = (*waveforms_)[static_cast<std::size_t>(k)].get();
            const TraceAnnotation* note = static_cast<std::size_t>(row) < annotations_.size()
                                              ? &annotations_[static_cast<std::size_t>(row)]
                                              : nullptr;
            const double centre = plot.top() + (static_cast<double>(row) + 0.5) * band;
            const QColor ink = inkOf(row);
            p.setClipping(false);
            p.setPen(ink);
            p.drawText(QPointF(6, centre + fm.ascent() / 2.0 - 1),
                       fittedLabel(*trace, fm, labelMargin_ - kLabelPadding));
            if (note && !note->note.isEmpty()) {
                // Lines of the note below the label, only those whose descent stays in the
                // row: in thin rows a line would write over the next row's label.
                p.setFont(small);
                double y = centre + fm.ascent() / 2.0 + smallMetrics.height();
                for (const QString& line : note->note.split(u'\n')) {
                    if (y + smallMetrics.descent() > centre + band / 2)
                        break;
                    p.drawText(QPointF(6, y),
                               smallMetrics.elidedText(line, Qt::ElideRight,
                                                       labelMargin_ - kLabelPadding));
                    y += smallMetrics.height();
                }
                p.setFont(base);
            }
            p.setClipRect(plot);
            if (rowHasSamples[static_cast<std::size_t>(row)]) {
                // Where nothing was received: shaded and hatched, so it never reads as a flat
                // signal.
                QColor shade = foreground_;
                shade.setAlpha(22);
                QColor hatch = foreground_;
                hatch.setAlpha(70);
                for (const auto& [from, to] : rowGaps(row)) {
                    const double x1 =
                        std::max<double>(plot.left(), timeToX(from, left, right, plot));
                    const double x2 =
                        std::min<double>(plot.right(), timeToX(to, left, right, plot));
                    if (x2 < plot.left() || x1 > plot.right())
                        continue;
                    const QRectF gap(QPointF(x1, centre - band / 2 + 1),
                                     QPointF(std::max(x2, x1 + 1), centre + band / 2 - 1));
                    p.fillRect(gap, shade);
                    p.fillRect(gap, QBrush(hatch, Qt::BDiagPattern));
                }
            }
            if (note && refDate_) {
                if (note->band) {
                    QColor faint = markColour();
                    faint.setAlpha(28);
                    const double x1 = timeToX(civil::secondsBetween(*refDate_, note->band->first),
                                              left, right, plot);
                    const double x2 = timeToX(civil::secondsBetween(*refDate_, note->band->second),
                                              left, right, plot);
                    p.fillRect(
                        QRectF(QPointF(x1, centre - band / 2), QPointF(x2, centre + band / 2)),
                        faint);
                }
                p.setFont(small);
                // Names that would run into the one before drop a line, or go unnamed.
                double freeFrom[2] = {-1e9, -1e9};
                for (const auto& [when, name] : note->marks) {
                    const double x =
                        timeToX(civil::secondsBetween(*refDate_, when), left, right, plot);
                    if (x < plot.left() || x > plot.right())
                        continue;
                    p.setPen(QPen(markColour(), 1));
                    p.drawLine(QLineF(x, centre - band / 2 + 1, x, centre + band / 2 - 1));
                    for (int line = 0; line < 2; ++line) {
                        if (x + 2 < freeFrom[line])
                            continue;
                        const double y = centre - band / 2 + smallMetrics.ascent() + 1 +
                                         line * smallMetrics.height();
                        if (line > 0 && y > centre + band / 2)
                            break;
                        p.drawText(QPointF(x + 2, y), name);
                        freeFrom[line] = x + 4 + smallMetrics.horizontalAdvance(name);
                        break;
                    }
                }
                p.setFont(base);
            }
            if (!rowHasSamples[static_cast<std::size_t>(row)] && note && !note->status.isEmpty()) {
                p.setPen(ink);
                p.drawText(QRectF(plot.left() + 8, centre - band / 2, plot.width() - 16, band),
                           Qt::AlignVCenter | Qt::AlignLeft, note->status);
            }
        }
        for (std::size_t k = 0; k < count; ++k) {
            const SacObject* trace = (*waveforms_)[k].get();
            const int row = rowOf(k);
            if (!trace || row < 0 || row >= rows)
                continue;
            seen.insert(trace->identity());
            if (!traceShown[k])
                continue;
            const double centre = plot.top() + (static_cast<double>(row) + 0.5) * band;
            const double top =
                mode_ == AmplitudeMode::ClipToBand ? centre - band / 2 : plot.top() - 1.0;
            const double bottom =
                mode_ == AmplitudeMode::ClipToBand ? centre + band / 2 : plot.bottom() + 1.0;
            const double scale = pxPerUnit * amplitudeFactor(*trace, mode_, largestRms);
            auto yOf = [&](double v) {
                const double y = centre - v * scale;
                return std::isnan(y) ? centre : std::clamp(y, top, bottom);
            };
            const auto x = trace->samples();
            const double dt = trace->delta();
            if (x.empty() || dt <= 0)
                continue;
            p.setClipRect(plot);
            p.setPen(inkOf(row));
            const double offset = offsetOf(*trace);
            const double colSpan = (right - left) / plot.width();
            if (dt * 2.0 > colSpan) {
                // Fewer samples than columns: a line through the samples themselves.
                const std::size_t first = plot::sampleIndexAt(left, offset, dt, x.size());
                const std::size_t end = plot::sampleIndexAt(right, offset, dt, x.size());
                const std::size_t from = first > 0 ? first - 1 : 0;
                const std::size_t to = std::min(x.size(), end + 1);
                QPolygonF line;
                line.reserve(static_cast<qsizetype>(to > from ? to - from : 0));
                for (std::size_t i = from; i < to; ++i) {
                    const double t = offset + static_cast<double>(i) * dt;
                    const double px = std::clamp(timeToX(t, left, right, plot), -1e6, 1e6);
                    line << QPointF(px, yOf(x[i]));
                }
                p.drawPolyline(line);
                continue;
            }
            const plot::ColumnEnvelope& e = envelopes_[trace->identity()].columns;
            // Whole pixels: the raster engine draws aliased integer lines on its fast path.
            std::vector<QLine> segments;
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
                const int xpix = plot.left() + static_cast<int>(c);
                // At least a pixel tall, so a flat or nearly flat trace is a line without holes.
                const int yHigh = static_cast<int>(std::floor(yOf(hi)));
                const int yLow = std::max(yHigh, static_cast<int>(std::floor(yOf(lo))));
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
    std::erase_if(extents_, [&](const auto& kv) { return !seen.contains(kv.first); });
    std::erase_if(summaries_, [&](const auto& kv) {
        return !seen.contains(kv.first) && kv.second.revision != 0 && count > 0;
    });
}

void QuilmRealTimeDisplayView02::wheelEvent(QWheelEvent* event) {
    const QRect plot = plotRect(size());
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0 || !plot.contains(event->position().toPoint()))
        return QWidget::wheelEvent(event);
    zoomBy(std::pow(0.8, notches), xToTime(event->position().x(), axisLeft(), axisRight(), plot));
    event->accept();
}

void QuilmRealTimeDisplayView02::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    pressedAt_ = event->position();
    pannedPixels_ = 0;
    if (event->modifiers() & Qt::ShiftModifier)
        rubberBand_ = QRectF(event->position(), event->position());
    event->accept();
}

void QuilmRealTimeDisplayView02::mouseMoveEvent(QMouseEvent* event) {
    const QRect plot = plotRect(size());
    if (pressedAt_ && (event->buttons() & Qt::LeftButton)) {
        if (rubberBand_) {
            rubberBand_ = QRectF(QPointF(rubberBand_->left(), plot.top()),
                                 QPointF(event->position().x(), plot.bottom()))
                              .normalized();
            rubberBand_->setLeft(std::min(pressedAt_->x(), event->position().x()));
            rubberBand_->setRight(std::max(pressedAt_->x(), event->position().x()));
            update();
        } else {
            const double dx = event->position().x() - pressedAt_->x();
            pannedPixels_ += std::abs(dx);
            if (dx != 0)
                panBy(-dx * (axisRight() - axisLeft()) / plot.width());
            pressedAt_ = event->position();
        }
    }
    const auto r = readoutAt(event->position(), size());
    Q_EMIT readoutChanged(r ? readoutText(*r) : QString());
}

void QuilmRealTimeDisplayView02::mouseReleaseEvent(QMouseEvent* event) {
    if (rubberBand_ && rubberBand_->width() >= 4) {
        const QRect plot = plotRect(size());
        const double l = axisLeft(), r = axisRight();
        zoomTo(xToTime(rubberBand_->left(), l, r, plot), xToTime(rubberBand_->right(), l, r, plot));
    }
    rubberBand_.reset();
    pressedAt_.reset();
    update();
    QWidget::mouseReleaseEvent(event);
}

void QuilmRealTimeDisplayView02::mouseDoubleClickEvent(QMouseEvent* event) {
    const QRect plot = plotRect(size());
    const QPointF at = event->position();
    const QRect seen = visibleRegion().boundingRect();
    if (at.y() > scaleY(plot, seen.isEmpty() ? -1 : seen.top() + seen.height())) {
        resetZoom(); // on the time axis
        return;
    }
    const int k = traceAt(at, size());
    if (k >= 0 && at.x() >= plot.left())
        Q_EMIT traceActivated(k);
}

void QuilmRealTimeDisplayView02::keyPressEvent(QKeyEvent* event) {
    const double l = axisLeft(), r = axisRight(), middle = 0.5 * (l + r);
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoomBy(0.5, middle);
        break;
    case Qt::Key_Minus:
        zoomBy(2.0, middle);
        break;
    case Qt::Key_Left:
        panBy(-0.1 * (r - l));
        break;
    case Qt::Key_Right:
        panBy(0.1 * (r - l));
        break;
    case Qt::Key_Home:
        resetZoom();
        break;
    default:
        return QWidget::keyPressEvent(event);
    }
    event->accept();
}

void QuilmRealTimeDisplayView02::moveEvent(QMoveEvent* event) {
    // A scroll moves what is drawn, the scale with it: it is drawn again where it stays.
    if (visibleRegion().boundingRect().height() < height())
        update();
    QWidget::moveEvent(event);
}

void QuilmRealTimeDisplayView02::leaveEvent(QEvent* event) {
    Q_EMIT readoutChanged(QString());
    QWidget::leaveEvent(event);
}

bool QuilmRealTimeDisplayView02::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        // Over a label, its whole text: the row shows it elided.
        const auto* help = static_cast<QHelpEvent*>(event);
        const int row = rowAt(help->pos(), size());
        const int k = traceAt(help->pos(), size());
        if (k >= 0 && help->pos().x() < plotRect(size()).left()) {
            const SacObject* s = (*waveforms_)[static_cast<std::size_t>(k)].get();
            QString text =
                s ? seedIdOf(*s) + QStringLiteral("\n") + QString::fromStdString(s->label())
                  : QString();
            if (static_cast<std::size_t>(row) < annotations_.size()) {
                const TraceAnnotation& a = annotations_[static_cast<std::size_t>(row)];
                for (const QString& extra : {a.note, a.status})
                    if (!extra.isEmpty())
                        text += u'\n' + extra;
            }
            QToolTip::showText(help->globalPos(), text.trimmed(), this);
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QWidget::event(event);
}
