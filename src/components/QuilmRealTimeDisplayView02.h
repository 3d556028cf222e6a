#pragma once

#include "components/SeismicOrigin.h"
#include "components/plot/TraceEnvelope.h"

#include <QColor>
#include <QHash>
#include <QString>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class QFontMetrics;
class SacObject;

// The seismogram display: every trace of one list stacked top to bottom on a common time axis in
// seconds relative to a reference date, with a title, an axis label and marks at earthquake
// origin times. It keeps a pointer to its owner's list and draws what that list holds at paint
// time. Each trace is reduced to a minimum and maximum per pixel column before it is drawn, so
// the cost of a redraw follows the width of the view, not the length of the data.
//
// The person looking at it can zoom and pan the time axis (wheel about the pointer, drag, Shift
// and drag for a span, the keys + - left right Home; a double-click on the axis resets), read
// the time and value under the pointer, and double-click a trace to have it inspected.
class QuilmRealTimeDisplayView02 : public QWidget {
    Q_OBJECT
public:
    using Date = std::chrono::system_clock::time_point;
    using WaveformList = std::vector<std::unique_ptr<SacObject>>;

    enum class AmplitudeMode {
        UnitRms,     // each trace as processed: unit RMS amplitude
        CommonScale, // every trace in its amplitude before the scaling, on one scale
        ClipToBand,  // unit RMS, cut at the edges of its band so it never covers a neighbour
    };

    // What a row shows beside the samples; by row.
    struct TraceAnnotation {
        QString note;   // beside the label (distance and back-azimuth, say)
        QString status; // a row without samples says why (the last failure)
        bool dimmed = false;
        std::vector<std::pair<Date, QString>> marks; // thin labelled marks (predicted arrivals)
        std::optional<std::pair<Date, Date>> band;   // a faint band (the surface-wave window)
    };

    // What lies under a point of the view.
    struct Readout {
        Date time{};
        double seconds = 0; // on the axis
        int trace = -1;     // -1: between or beside the traces
        QString seedId, label;
        std::optional<float> value; // the processed sample nearest in time
    };

    explicit QuilmRealTimeDisplayView02(QWidget* parent = nullptr);
    ~QuilmRealTimeDisplayView02() override;

    void setWvfrmsArray(const WaveformList* list);
    // The row each trace of the list is drawn in (0 at the top). A channel with gaps in its
    // window is several traces in one row, each where it lies in time, the gaps shaded. Without
    // rows (or with a count that does not match the list) every trace has a row of its own.
    void setTraceRows(std::vector<int> rows);
    int rowCount() const;
    // Rows never get thinner than this: with more rows than fit, the view grows taller than its
    // window and scrolls there.
    static constexpr int kMinRowHeight = 22;
    QSize minimumSizeHint() const override;
    int rowOf(std::size_t trace) const;
    void setXLabelString(const QString& label);
    void setDrawOriginTimes(bool on);
    void setEventOrigins(std::vector<SeismicOrigin> origins);
    // No date keeps the previous reference.
    void setRefDate(std::optional<Date> date);
    void setXLimitsMin(float min, float max);
    // Limits from the traces held now; limits set afterwards override them.
    void computePlotLimits();
    void setXmin(double min);
    void setOriginOnRight(bool on);
    void setTitle(const QString& title);
    void setBackGroundColor(const QColor& colour);
    void setDrawingColor(const QColor& colour);
    void setWaveformGain(float gain);
    void setNeedsDisplay(bool flag);

    void setAmplitudeMode(AmplitudeMode mode);
    void setTraceAnnotations(std::vector<TraceAnnotation> annotations);
    // While the list is empty, the plot shows this title and line of guidance instead of an
    // empty frame; empty texts show the frame.
    void setPlaceholder(const QString& title, const QString& guidance);
    // A summary made off the GUI thread for a trace's samples at a revision; used instead of
    // building one at paint time.
    void adoptSummary(std::uint64_t identity, std::uint64_t revision,
                      std::shared_ptr<const plot::BlockSummary> summary);

    // The span shown, kept as absolute times across refreshes; reset returns to the axis the
    // retrieval set (and, in monitor mode, to following the present).
    void zoomTo(double leftSeconds, double rightSeconds);
    void zoomBy(double factor, double aboutSeconds); // factor < 1 zooms in
    void panBy(double seconds);
    void resetZoom();
    bool isZoomed() const { return zoom_.has_value(); }

    const WaveformList* wvfrmsArray() const { return waveforms_; }
    const QString& title() const { return title_; }
    const QString& xLabel() const { return xLabel_; }
    bool drawOriginTimes() const { return drawOrigins_; }
    const std::vector<SeismicOrigin>& eventOrigins() const { return origins_; }
    std::optional<Date> refDate() const { return refDate_; }
    bool originOnRight() const { return originOnRight_; }
    float waveformGain() const { return gain_; }
    QColor backgroundColor() const { return background_; }
    QColor drawingColor() const { return foreground_; }
    AmplitudeMode amplitudeMode() const { return mode_; }
    const std::vector<TraceAnnotation>& traceAnnotations() const { return annotations_; }

    // The axis actually drawn: [left, right] seconds. With the origin on the right, 0 s is the
    // right edge.
    double axisLeft() const;
    double axisRight() const;
    // The rectangle the traces are drawn in, for a view of the given size: right of a label
    // column as wide as the longest label needs (within limits), as of the last paint.
    QRect plotRect(QSize size) const;
    // A row's label fitted to a width: the station code always whole, the rest cut short.
    static QString fittedLabel(const SacObject& trace, const QFontMetrics& metrics, int width);
    // Pure mapping between seconds and x pixels across a plot rectangle.
    static double timeToX(double seconds, double left, double right, const QRect& plot);
    static double xToTime(double x, double left, double right, const QRect& plot);
    // The row whose band holds a point of a view of the given size, or -1.
    int rowAt(QPointF point, QSize size) const;
    // The trace of that row under the point (the piece nearest in time), or -1.
    int traceAt(QPointF point, QSize size) const;
    // Where a row has no samples between the start of the axis the retrieval set and its
    // newest sample: the gaps, in axis seconds, oldest first.
    std::vector<std::pair<double, double>> rowGaps(int row) const;
    std::optional<Readout> readoutAt(QPointF point, QSize size) const;
    static QString readoutText(const Readout& readout);
    // The label of a trace as its row shows it in full: station code and label.
    static QString fullLabel(const SacObject& trace);

    // Draws the whole view into any paint device (the widget, an image). With the painter
    // clipped, only the rows that reach into the clip are drawn.
    void render(QPainter& painter, QSize size);
    // The rows the last render drew (for measuring and tests).
    int rowsDrawn() const { return rowsDrawn_; }
    // The envelope columns the last render had to work out (for measuring and tests).
    long long columnsMade() const { return columnsMade_; }

Q_SIGNALS:
    void zoomChanged(bool zoomed);
    void readoutChanged(const QString& text); // empty: the pointer left the traces
    void traceActivated(int index);           // a double-click on a trace (its list index)
    void painted();                           // a frame reached the screen

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Envelope {
        std::uint64_t revision = 0, grid = 0;
        double start = 0;    // the trace's start, seconds after the grid's reference
        long long first = 0; // the grid column the envelope's first column is
        plot::ColumnEnvelope columns;
    };
    // The pixel columns envelopes are made on. While the view follows the present, the grid
    // stays where it was laid and the axis moves over it in whole columns, so what was made for
    // a trace is shifted and only the columns that scrolled in are made.
    struct Grid {
        std::uint64_t generation = 0;
        std::optional<Date> ref;
        double left = 0, right = 0;
        int width = 0;
    };
    struct Summary {
        std::uint64_t revision = 0;
        std::shared_ptr<const plot::BlockSummary> blocks;
    };
    // The lowest and highest sample of a trace, for how far it can reach beyond its band.
    struct Extent {
        std::uint64_t revision = 0;
        float low = 0, high = 0;
        bool valid = false;
    };

    double baseLeft() const;
    double baseRight() const;
    void prepareEnvelopes(const QRect& plot, double left, double right,
                          const std::vector<char>& drawn);
    const Extent& extentOf(const SacObject& trace);
    void drawTraces(QPainter& p, const QRect& plot, double left, double right);
    void drawAxis(QPainter& p, const QRect& plot, double left, double right);
    // The ticks, their times and the axis label below a line at y.
    void drawScale(QPainter& p, const QRect& plot, double left, double right, int y);
    // Where the scale goes: below the plot, or at the bottom of what is visible (-1: all of it)
    // when the plot's bottom is out of sight.
    static int scaleY(const QRect& plot, int visibleBottom);
    void drawOrigins(QPainter& p, const QRect& plot, double left, double right, bool captions);
    void drawPlaceholder(QPainter& p, const QRect& plot);
    double offsetOf(const SacObject& trace) const;
    void setZoomSeconds(double left, double right);

    const WaveformList* waveforms_ = nullptr;
    std::vector<int> rows_;
    QString xLabel_;
    QString title_;
    bool drawOrigins_ = false;
    std::vector<SeismicOrigin> origins_;
    std::optional<Date> refDate_;
    double xmin_ = 0.0, xmax_ = 60.0;
    bool originOnRight_ = false;
    // The width of the label column; follows the labels at each paint.
    int labelMargin(const QFontMetrics& metrics, int viewWidth) const;
    // Predicted arrivals, their window and the rubber band: readable on either scheme.
    QColor markColour() const;
    int labelMargin_;
    QColor background_ = Qt::white;
    QColor foreground_ = Qt::black;
    float gain_ = 1.0f;
    AmplitudeMode mode_ = AmplitudeMode::UnitRms;
    std::vector<TraceAnnotation> annotations_;
    QString placeholderTitle_, placeholderGuidance_;
    std::optional<std::pair<Date, Date>> zoom_;
    int sizedRows_ = 0; // the rows the size hint was last given for
    // Pointer gestures.
    std::optional<QPointF> pressedAt_;
    std::optional<QRectF> rubberBand_;
    double pannedPixels_ = 0;
    std::unordered_map<std::uint64_t, Envelope> envelopes_;
    Grid grid_;
    long long columnsMade_ = 0;
    std::unordered_map<std::uint64_t, Summary> summaries_;
    std::unordered_map<std::uint64_t, Extent> extents_;
    // Label widths by text, for the font they were measured in.
    mutable QHash<QString, int> labelWidths_;
    mutable QString labelWidthsFont_;
    QRect exposed_; // what the painter may change, as of the current render
    int rowsDrawn_ = 0;
    int visibleBottom_ = -1; // while painting the widget: the bottom of its visible part
};
