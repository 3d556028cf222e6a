#include "components/HelicorderView.h"

#include "components/plot/TraceEnvelope.h"

#include <QDateTime>
#include <QMouseEvent>
#include <QPainter>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int kLeft = 86, kRight = 62, kTop = 34, kBottom = 30;
// The colours of successive rows, by the row's absolute number so a row keeps its colour as the
// drum moves on.
const QColor kRowColours[] = {QColor(20, 20, 20), QColor(190, 30, 30), QColor(25, 60, 190),
                              QColor(20, 120, 50)};
const QColor kBackground(255, 255, 255);
const QColor kGuide(235, 235, 235);
const QColor kText(60, 60, 60);
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

double epochSeconds(Time t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

QString hourMinute(const QDateTime& t) {
    return t.toString(QStringLiteral("HH:mm"));
}

QDateTime utcOf(Time t) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

QDateTime localOf(Time t) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(ms).toLocalTime();
}

} // namespace

HelicorderView::HelicorderView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(480, 320);
    setMouseTracking(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

HelicorderView::~HelicorderView() = default;

QRect HelicorderView::plotRect(QSize size) {
    return QRect(kLeft, kTop, std::max(1, size.width() - kLeft - kRight),
                 std::max(1, size.height() - kTop - kBottom));
}

void HelicorderView::setRows(const Rows& rows) {
    if (rows.first == rows_.first && rows.count == rows_.count && rows.seconds == rows_.seconds)
        return;
    rows_ = rows;
    invalidateAll();
}

void HelicorderView::setTitle(const QString& title) {
    title_ = title;
    invalidateAll();
}

void HelicorderView::setPlaceholder(const QString& text) {
    placeholder_ = text;
    invalidateAll();
}

void HelicorderView::setBlock(Time from, Time to, std::vector<std::shared_ptr<const Segment>> runs,
                              std::optional<Time> changedFrom) {
    blocks_[from] = BlockData{to, std::move(runs)};
    const Time dirtyFrom = changedFrom && *changedFrom > from ? *changedFrom : from;
    if (!cacheValid_)
        return; // everything is drawn afresh anyway
    for (int row = 0; row < rows_.count; ++row) {
        const Time a = rows_.rowStart(row), b = rows_.rowStart(row + 1);
        if (b > dirtyFrom && a < to &&
            std::find(dirtyRows_.begin(), dirtyRows_.end(), row) == dirtyRows_.end())
            dirtyRows_.push_back(row);
    }
    update();
}

void HelicorderView::dropBlocksBefore(Time t) {
    for (auto it = blocks_.begin(); it != blocks_.end();)
        it = it->second.to <= t ? blocks_.erase(it) : std::next(it);
}

void HelicorderView::clearBlocks() {
    blocks_.clear();
    invalidateAll();
}

bool HelicorderView::hasSamples() const {
    for (const auto& [from, block] : blocks_)
        for (const auto& run : block.runs)
            if (run && !run->samples.empty())
                return true;
    return false;
}

std::vector<Segment> HelicorderView::samples(Time from, Time to) const {
    std::vector<Segment> out;
    for (const auto& [start, block] : blocks_)
        for (const auto& run : block.runs) {
            if (!run || !(run->delta > 0))
                continue;
            const std::size_t a = plot::sampleIndexAt(civil::secondsBetween(run->start, from), 0.0,
                                                      run->delta, run->size());
            const std::size_t b = plot::sampleIndexAt(civil::secondsBetween(run->start, to), 0.0,
                                                      run->delta, run->size());
            if (a >= b)
                continue;
            Segment piece{run->channel, run->timeOf(a), run->delta, {}};
            piece.samples.assign(run->samples.begin() + static_cast<std::ptrdiff_t>(a),
                                 run->samples.begin() + static_cast<std::ptrdiff_t>(b));
            out.push_back(std::move(piece));
        }
    return out;
}

void HelicorderView::setCommonRms(double rms) {
    const double r = std::isfinite(rms) && rms > 0 ? rms : 1.0;
    if (r == rms_)
        return;
    rms_ = r;
    invalidateAll();
}

void HelicorderView::setGain(double gain) {
    if (!(gain > 0) || gain == gain_)
        return;
    gain_ = gain;
    invalidateAll();
}

void HelicorderView::setClip(bool on) {
    if (on == clip_)
        return;
    clip_ = on;
    invalidateAll();
}

void HelicorderView::setMarks(std::vector<Mark> marks) {
    marks_ = std::move(marks);
    invalidateAll();
}

void HelicorderView::invalidateAll() {
    cacheValid_ = false;
    summaries_.clear();
    dirtyRows_.clear();
    update();
}

double HelicorderView::unitsToPixels(QSize size) const {
    const double spacing = static_cast<double>(plotRect(size).height()) / std::max(1, rows_.count);
    // At gain 1 the common RMS amplitude reaches an eighth of the way to the next row.
    return gain_ * spacing / (8.0 * rms_);
}

HelicorderView::Summary HelicorderView::summarise(int row, int width) const {
    Summary s;
    s.built = true;
    s.low.assign(static_cast<std::size_t>(width), kNaN);
    s.high.assign(static_cast<std::size_t>(width), kNaN);
    const Time a = rows_.rowStart(row), b = rows_.rowStart(row + 1);
    bool any = false;
    for (const auto& [from, block] : blocks_) {
        if (block.to <= a || from >= b)
            continue;
        for (const auto& run : block.runs) {
            if (!run || run->samples.empty() || run->end() <= a || run->start >= b)
                continue;
            const auto e = plot::columnEnvelope(run->samples, run->delta,
                                                civil::secondsBetween(a, run->start), 0.0,
                                                rows_.seconds, width);
            for (std::size_t c = 0; c < e.present.size(); ++c) {
                if (!e.present[c])
                    continue;
                s.low[c] = std::isnan(s.low[c]) ? e.low[c] : std::min(s.low[c], e.low[c]);
                s.high[c] = std::isnan(s.high[c]) ? e.high[c] : std::max(s.high[c], e.high[c]);
                if (!any) {
                    s.lowest = e.low[c];
                    s.highest = e.high[c];
                    any = true;
                }
                s.lowest = std::min(s.lowest, e.low[c]);
                s.highest = std::max(s.highest, e.high[c]);
            }
        }
    }
    return s;
}

std::pair<double, double> HelicorderView::extent(QSize size, int row, const Summary& s) const {
    const QRect plot = plotRect(size);
    const double spacing = static_cast<double>(plot.height()) / std::max(1, rows_.count);
    const double centre = plot.top() + (row + 0.5) * spacing;
    const double k = unitsToPixels(size);
    double top = centre - s.highest * k - 2, bottom = centre - s.lowest * k + 2;
    if (clip_) {
        top = std::max(top, centre - spacing - 2);
        bottom = std::min(bottom, centre + spacing + 2);
    }
    // Labels and marks live within the row's own band.
    return {std::min(top, centre - spacing / 2), std::max(bottom, centre + spacing / 2)};
}

void HelicorderView::drawBackground(QPainter& p, QSize size, const QRect& region) const {
    const QRect plot = plotRect(size);
    p.fillRect(region, kBackground);
    const double spacing = static_cast<double>(plot.height()) / std::max(1, rows_.count);
    QFont small = font();
    small.setPointSizeF(std::max(6.0, font().pointSizeF() * 0.85));
    p.setFont(small);
    const QFontMetrics fm(small);
    // Guides: every fifth of a row in time, thin.
    p.setPen(QPen(kGuide, 1));
    for (int k = 0; k <= 6; ++k) {
        const double x = plot.left() + plot.width() * k / 6.0;
        p.drawLine(QLineF(x, std::max<double>(plot.top(), region.top()), x,
                          std::min<double>(plot.bottom(), region.bottom())));
    }
    // Row labels: the row's start in UTC at the left (with the date at the top and at midnight)
    // and in local time at the right.
    p.setPen(kText);
    const int skip = std::max(1, static_cast<int>(std::ceil(fm.height() / std::max(1.0, spacing))));
    for (int row = 0; row < rows_.count; ++row) {
        const double centre = plot.top() + (row + 0.5) * spacing;
        if (centre + fm.height() < region.top() || centre - fm.height() > region.bottom())
            continue;
        const Time start = rows_.rowStart(row);
        const QDateTime utc = utcOf(start);
        const bool midnight = utc.time() == QTime(0, 0);
        if (row % skip != 0 && !midnight)
            continue;
        const double y = centre + fm.ascent() / 2.0 - 1;
        QString left = hourMinute(utc);
        if (row == 0 || midnight)
            left = utc.toString(QStringLiteral("MM-dd ")) + left;
        p.drawText(QRectF(2, y - fm.ascent(), kLeft - 8, fm.height()), Qt::AlignRight, left);
        p.drawText(QRectF(plot.right() + 6, y - fm.ascent(), kRight - 8, fm.height()), Qt::AlignLeft,
                   hourMinute(localOf(start)));
    }
    // Title above, the time along a row below, the zones under the labels.
    if (region.top() < kTop) {
        QFont bold = font();
        bold.setBold(true);
        p.setFont(bold);
        p.drawText(QRect(0, 4, size.width(), kTop - 8), Qt::AlignCenter, title_);
        p.setFont(small);
    }
    if (region.bottom() > plot.bottom()) {
        const double minutes = rows_.seconds / 60.0;
        for (int k = 0; k <= 6; ++k) {
            const double x = plot.left() + plot.width() * k / 6.0;
            const QString text = QString::number(minutes * k / 6.0, 'g', 3);
            p.drawText(QRectF(x - 30, plot.bottom() + 4, 60, fm.height()), Qt::AlignHCenter, text);
        }
        const double second = plot.bottom() + 4 + fm.height() - 2;
        p.drawText(QRectF(plot.left(), second, plot.width(), fm.height()), Qt::AlignHCenter,
                   tr("Minutes after the row's start"));
        p.drawText(QRectF(2, second, kLeft - 8, fm.height()), Qt::AlignRight, tr("UTC"));
        p.drawText(QRectF(plot.right() + 6, second, kRight - 8, fm.height()), Qt::AlignLeft,
                   localOf(rows_.first).timeZoneAbbreviation());
    }
}

void HelicorderView::drawRow(QPainter& p, QSize size, int row, const Summary& s) const {
    const QRect plot = plotRect(size);
    const double spacing = static_cast<double>(plot.height()) / std::max(1, rows_.count);
    const double centre = plot.top() + (row + 0.5) * spacing;
    const double k = unitsToPixels(size);
    const double limit = clip_ ? spacing : std::numeric_limits<double>::infinity();
    auto y = [&](float v) { return centre - std::clamp(v * k, -limit, limit); };
    const double number = std::floor(epochSeconds(rows_.rowStart(row)) / rows_.seconds);
    const auto colour = static_cast<std::size_t>(std::fmod(std::fmod(number, 4.0) + 4.0, 4.0));
    p.setPen(QPen(kRowColours[colour], 1));
    std::vector<QLineF> lines;
    lines.reserve(s.low.size());
    double previousLow = 0, previousHigh = 0;
    bool previous = false;
    for (std::size_t c = 0; c < s.low.size(); ++c) {
        if (std::isnan(s.low[c])) {
            previous = false;
            continue;
        }
        double top = y(s.high[c]), bottom = y(s.low[c]);
        // Join the column before without a gap.
        if (previous) {
            top = std::min(top, previousLow);
            bottom = std::max(bottom, previousHigh);
        }
        const double x = plot.left() + static_cast<double>(c) + 0.5;
        lines.emplace_back(x, top, x, std::max(bottom, top + 0.5));
        previousLow = y(s.low[c]);
        previousHigh = y(s.high[c]);
        previous = true;
    }
    p.drawLines(lines.data(), static_cast<int>(lines.size()));
}

void HelicorderView::drawMarks(QPainter& p, QSize size, const QRect& region) const {
    const QRect plot = plotRect(size);
    const double spacing = static_cast<double>(plot.height()) / std::max(1, rows_.count);
    QFont small = font();
    small.setPointSizeF(std::max(6.0, font().pointSizeF() * 0.8));
    p.setFont(small);
    const QFontMetrics fm(small);
    for (const Mark& m : marks_) {
        const auto at = rows_.position(m.when);
        if (!at)
            continue;
        const double centre = plot.top() + (at->first + 0.5) * spacing;
        if (centre + spacing < region.top() || centre - spacing > region.bottom())
            continue;
        const double x = plot.left() + at->second * plot.width();
        p.setPen(QPen(m.colour, 2));
        p.drawLine(QLineF(x, centre - spacing * 0.5, x, centre + spacing * 0.2));
        p.drawText(QPointF(x + 3, centre - spacing * 0.5 + fm.ascent()), m.label);
    }
}

void HelicorderView::render(QPainter& p, QSize size) const {
    const QRect all(QPoint(0, 0), size);
    drawBackground(p, size, all);
    const int width = plotRect(size).width();
    p.save();
    p.setClipRect(all);
    for (int row = 0; row < rows_.count; ++row) {
        const bool cached = cacheValid_ && size == cache_.size() &&
                            static_cast<std::size_t>(row) < summaries_.size() &&
                            summaries_[static_cast<std::size_t>(row)].built;
        if (cached)
            drawRow(p, size, row, summaries_[static_cast<std::size_t>(row)]);
        else
            drawRow(p, size, row, summarise(row, width));
    }
    p.restore();
    drawMarks(p, size, all);
    if (!hasSamples() && !placeholder_.isEmpty()) {
        p.setPen(kText);
        p.drawText(plotRect(size), Qt::AlignCenter | Qt::TextWordWrap, placeholder_);
    }
}

void HelicorderView::bringUpToDate() {
    const QSize size = this->size();
    const int width = plotRect(size).width();
    if (!cacheValid_ || cache_.size() != size) {
        cache_ = QImage(size, QImage::Format_RGB32);
        summaries_.assign(static_cast<std::size_t>(rows_.count), Summary{});
        for (int row = 0; row < rows_.count; ++row) {
            summaries_[static_cast<std::size_t>(row)] = summarise(row, width);
            ++summaryBuilds_;
        }
        cacheValid_ = true;
        dirtyRows_.clear();
        QPainter p(&cache_);
        render(p, size);
        lastRepaint_ = QRect(QPoint(0, 0), size);
        return;
    }
    if (dirtyRows_.empty())
        return;
    // The area the changed rows covered before and cover now; everything drawn there is drawn
    // again, neighbours' excursions included, from their summaries as they stand.
    double top = std::numeric_limits<double>::infinity(), bottom = -top;
    for (const int row : dirtyRows_) {
        auto& s = summaries_[static_cast<std::size_t>(row)];
        const auto before = extent(size, row, s);
        s = summarise(row, width);
        ++summaryBuilds_;
        const auto after = extent(size, row, s);
        top = std::min({top, before.first, after.first});
        bottom = std::max({bottom, before.second, after.second});
    }
    dirtyRows_.clear();
    const QRect region = QRect(0, static_cast<int>(std::floor(top)), size.width(),
                               static_cast<int>(std::ceil(bottom - top)) + 1)
                             .intersected(QRect(QPoint(0, 0), size));
    QPainter p(&cache_);
    p.setClipRect(region);
    drawBackground(p, size, region);
    for (int row = 0; row < rows_.count; ++row) {
        const auto& s = summaries_[static_cast<std::size_t>(row)];
        const auto e = extent(size, row, s);
        if (e.second >= region.top() && e.first <= region.bottom())
            drawRow(p, size, row, s);
    }
    drawMarks(p, size, region);
    lastRepaint_ = region;
}

void HelicorderView::paintEvent(QPaintEvent*) {
    bringUpToDate();
    QPainter p(this);
    p.drawImage(0, 0, cache_);
    if (pressedAt_ && dragTo_) {
        const QRect plot = plotRect(size());
        const double x0 = std::clamp(pressedAt_->x(), 1.0 * plot.left(), 1.0 * plot.right());
        const double x1 = std::clamp(dragTo_->x(), 1.0 * plot.left(), 1.0 * plot.right());
        QColor fill = palette().highlight().color();
        fill.setAlpha(50);
        const double spacing = static_cast<double>(plot.height()) / std::max(1, rows_.count);
        if (const auto row = rowAt(*pressedAt_)) {
            const double y = plot.top() + row->first * spacing;
            p.fillRect(QRectF(QPointF(std::min(x0, x1), y), QPointF(std::max(x0, x1), y + spacing)), fill);
        }
    }
    if (!hasSamples() && !placeholder_.isEmpty()) {
        p.setPen(kText);
        p.drawText(plotRect(size()), Qt::AlignCenter | Qt::TextWordWrap, placeholder_);
    }
}

std::optional<std::pair<int, double>> HelicorderView::rowAt(QPointF point) const {
    const QRect plot = plotRect(size());
    if (!plot.contains(point.toPoint()) || rows_.count <= 0)
        return std::nullopt;
    const double spacing = static_cast<double>(plot.height()) / rows_.count;
    const int row = std::clamp(static_cast<int>((point.y() - plot.top()) / spacing), 0, rows_.count - 1);
    return std::pair{row, std::clamp((point.x() - plot.left()) / plot.width(), 0.0, 1.0)};
}

void HelicorderView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rowAt(event->position())) {
        pressedAt_ = event->position();
        dragTo_.reset();
    }
    QWidget::mousePressEvent(event);
}

void HelicorderView::mouseMoveEvent(QMouseEvent* event) {
    if (pressedAt_) {
        dragTo_ = event->position();
        update();
    }
    QWidget::mouseMoveEvent(event);
}

void HelicorderView::mouseReleaseEvent(QMouseEvent* event) {
    const auto pressed = pressedAt_;
    pressedAt_.reset();
    const auto dragged = dragTo_;
    dragTo_.reset();
    update();
    if (!pressed || event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    const auto row = rowAt(*pressed);
    if (!row)
        return;
    const QRect plot = plotRect(size());
    const double x1 = event->position().x();
    if (!dragged || std::abs(x1 - pressed->x()) < 4) {
        Q_EMIT spanChosen(rows_.rowStart(row->first), rows_.rowStart(row->first + 1));
        return;
    }
    // A drag chooses that part of the row it started on.
    const double f0 = std::clamp((pressed->x() - plot.left()) / plot.width(), 0.0, 1.0);
    const double f1 = std::clamp((x1 - plot.left()) / plot.width(), 0.0, 1.0);
    Q_EMIT spanChosen(rows_.timeAt(row->first, std::min(f0, f1)), rows_.timeAt(row->first, std::max(f0, f1)));
}
