#pragma once

#include "components/SeismicOrigin.h"
#include "components/plot/TraceEnvelope.h"

#include <QColor>
#include <QString>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class SacObject;

// The seismogram display: every trace of one list stacked top to bottom on a common time axis in
// seconds relative to a reference date, with a title, an axis label and marks at earthquake
// origin times. It keeps a pointer to its owner's list and draws what that list holds at paint
// time. Each trace is reduced to a minimum and maximum per pixel column before it is drawn, so
// the cost of a redraw follows the width of the view, not the length of the data.
class QuilmRealTimeDisplayView02 : public QWidget {
    Q_OBJECT
public:
    using Date = std::chrono::system_clock::time_point;
    using WaveformList = std::vector<std::unique_ptr<SacObject>>;

    explicit QuilmRealTimeDisplayView02(QWidget* parent = nullptr);
    ~QuilmRealTimeDisplayView02() override;

    void setWvfrmsArray(const WaveformList* list);
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

    // The axis actually drawn: [left, right] seconds. With the origin on the right, 0 s is the
    // right edge.
    double axisLeft() const;
    double axisRight() const;
    // The rectangle the traces are drawn in, for a view of the given size.
    static QRect plotRect(QSize size);
    // Pure mapping between seconds and x pixels across a plot rectangle.
    static double timeToX(double seconds, double left, double right, const QRect& plot);
    static double xToTime(double x, double left, double right, const QRect& plot);

    // Draws the whole view into any paint device (the widget, an image).
    void render(QPainter& painter, QSize size);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Envelope {
        std::uint64_t revision = 0;
        double left = 0, right = 0, offset = 0;
        int width = 0;
        plot::ColumnEnvelope columns;
    };
    struct Summary {
        std::uint64_t revision = 0;
        plot::BlockSummary blocks;
    };

    const plot::ColumnEnvelope& envelopeFor(const SacObject& trace, double offset, double left,
                                            double right, int width);
    const plot::BlockSummary& summaryFor(const SacObject& trace);
    void drawTraces(QPainter& p, const QRect& plot, double left, double right);
    void drawAxis(QPainter& p, const QRect& plot, double left, double right);
    void drawOrigins(QPainter& p, const QRect& plot, double left, double right, bool captions);
    double offsetOf(const SacObject& trace) const;

    const WaveformList* waveforms_ = nullptr;
    QString xLabel_;
    QString title_;
    bool drawOrigins_ = false;
    std::vector<SeismicOrigin> origins_;
    std::optional<Date> refDate_;
    double xmin_ = 0.0, xmax_ = 60.0;
    bool originOnRight_ = false;
    QColor background_ = Qt::white;
    QColor foreground_ = Qt::black;
    float gain_ = 1.0f;
    std::unordered_map<std::uint64_t, Envelope> envelopes_;
    std::unordered_map<std::uint64_t, Summary> summaries_;
};
