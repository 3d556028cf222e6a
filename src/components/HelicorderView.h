#pragma once

#include "base/DrumRows.h"
#include "base/Time.h"
#include "store/Segment.h"

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>

#include <map>
#include <memory>
#include <optional>
#include <vector>

// A drum record: a long span of one channel cut into rows of equal length, oldest at the top,
// the newest row filling from the left, the traces in alternating colours on one common scale,
// each row's start time at the left in UTC and at the right in local time, and marks (an
// earthquake's origin and magnitude, a predicted arrival) on the rows they fall in.
//
// The processed samples come in blocks (whole stretches of time, replaced as they are
// reprocessed); each row is reduced to a minimum and maximum per pixel column once, and a block
// that changes near its end redraws only the rows it reaches. Clicking a row, or dragging over
// part of it, chooses that span.
class HelicorderView : public QWidget {
    Q_OBJECT
public:
    using Rows = DrumRows;

    struct Mark {
        Time when{};
        QString label;
        QColor colour;
    };

    explicit HelicorderView(QWidget* parent = nullptr);
    ~HelicorderView() override;

    void setRows(const Rows& rows);
    const Rows& rows() const { return rows_; }
    void setTitle(const QString& title);
    const QString& title() const { return title_; }
    // Shown in the middle while the drum holds no samples.
    void setPlaceholder(const QString& text);

    // Replaces the samples of [from, to) with these runs (processed, unscaled, oldest first).
    // Rows from `changedFrom` on are summarised and drawn again; the rest keep their drawing.
    void setBlock(Time from, Time to, std::vector<std::shared_ptr<const Segment>> runs,
                  std::optional<Time> changedFrom = std::nullopt);
    // Drops blocks that end before the drum starts.
    void dropBlocksBefore(Time t);
    void clearBlocks();
    bool hasSamples() const;
    // The processed samples held for [from, to), run by run, oldest first: what the rows draw.
    std::vector<Segment> samples(Time from, Time to) const;

    // The amplitude that maps to a quarter of the row spacing at gain 1: one scale for every row.
    void setCommonRms(double rms);
    double commonRms() const { return rms_; }
    void setGain(double gain);
    double gain() const { return gain_; }
    // Traces cut at one row spacing above and below their line.
    void setClip(bool on);
    bool clip() const { return clip_; }
    void setMarks(std::vector<Mark> marks);
    const std::vector<Mark>& marks() const { return marks_; }

    // Draws the whole drum at any size (an image for export, say).
    void render(QPainter& painter, QSize size) const;

    // The rectangle the rows are drawn in, for a view of the given size.
    static QRect plotRect(QSize size);
    // Rows summarised since the view was made; the rectangle the last partial redraw covered.
    int summaryBuilds() const { return summaryBuilds_; }
    QRect lastRepaint() const { return lastRepaint_; }

Q_SIGNALS:
    void spanChosen(Time from, Time to);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    struct Summary {
        bool built = false;
        std::vector<float> low, high; // per column, NaN where nothing falls
        float lowest = 0, highest = 0; // over the row; equal when empty
    };
    struct BlockData {
        Time to{};
        std::vector<std::shared_ptr<const Segment>> runs;
    };

    Summary summarise(int row, int width) const;
    double unitsToPixels(QSize size) const;
    void drawBackground(QPainter& p, QSize size, const QRect& region) const;
    void drawRow(QPainter& p, QSize size, int row, const Summary& s) const;
    void drawMarks(QPainter& p, QSize size, const QRect& region) const;
    // The vertical pixel extent of a row's trace.
    std::pair<double, double> extent(QSize size, int row, const Summary& s) const;
    void invalidateAll();
    void bringUpToDate();
    std::optional<std::pair<int, double>> rowAt(QPointF point) const;

    Rows rows_;
    QString title_, placeholder_;
    std::map<Time, BlockData> blocks_;
    double rms_ = 1.0, gain_ = 1.0;
    bool clip_ = false;
    std::vector<Mark> marks_;

    // The drawing as it stands, and what of it is out of date.
    QImage cache_;
    bool cacheValid_ = false;
    std::vector<Summary> summaries_;
    std::vector<int> dirtyRows_;
    int summaryBuilds_ = 0;
    QRect lastRepaint_;
    std::optional<QPointF> pressedAt_;
    std::optional<QPointF> dragTo_;
};
