#pragma once

#include "base/Background.h"
#include "base/Time.h"
#include "components/sac/Spectrum.h"

#include <QWidget>

#include <vector>

class QCheckBox;
class SacObject;

// A closer look at one trace over the span on screen: the raw samples (counts) and the
// processed ones (unit RMS) on a time axis in seconds from the span's start, the processed
// trace's amplitude spectrum and its spectrogram (Hann windows with half overlap, a
// logarithmic colour scale with its legend). Every panel has labelled axes with units; each
// spectrum plot has its own switch between a linear and a logarithmic frequency axis. A span
// without samples, or a flat one, says so instead of showing empty frames. The spectra are
// computed off the GUI thread.
class TraceInspector : public QWidget {
    Q_OBJECT
public:
    struct Trace {
        Time start{};
        double delta = 0;
        std::vector<float> samples;
    };
    // The samples of `s` from `from` to `to`, both included.
    static Trace spanOf(const SacObject& s, Time from, Time to);

    explicit TraceInspector(QWidget* parent = nullptr);

    void setInline(bool on) { background_.setInline(on); }
    // The two traces over the span [from, to] on screen.
    void inspect(const QString& title, Time from, Time to, Trace raw, Trace processed);
    // The same for a row as drawn (`raw` may be missing), titled with its label and the span.
    void inspect(const QString& label, const SacObject* raw, const SacObject& processed, Time from,
                 Time to);
    // The spectrogram's frequency axis, and the spectrum's.
    void setLogFrequency(bool on);
    bool logFrequency() const { return logFrequency_; }
    void setSpectrumLogFrequency(bool on);
    bool spectrumLogFrequency() const { return spectrumLogFrequency_; }
    bool isComputing() const { return background_.isRunning(); }
    const sac::dsp::AmplitudeSpectrum& spectrum() const { return spectrum_; }
    const sac::dsp::Spectrogram& spectrogram() const { return spectrogram_; }
    // Why the spectra show nothing (no samples, too few, a flat trace); empty when they do.
    const QString& notice() const { return notice_; }

    void render(QPainter& painter, QSize size) const;

Q_SIGNALS:
    void computed();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Spectra {
        sac::dsp::AmplitudeSpectrum spectrum;
        sac::dsp::Spectrogram spectrogram;
    };
    QRect canvas() const;
    void drawSpectrum(QPainter& p, const QRectF& box) const;
    void drawSpectrogram(QPainter& p, const QRectF& box) const;

    QString title_, notice_;
    Time from_{}, to_{};
    Trace raw_, processed_;
    sac::dsp::AmplitudeSpectrum spectrum_;
    sac::dsp::Spectrogram spectrogram_;
    bool logFrequency_ = false, spectrumLogFrequency_ = true;
    QCheckBox* spectrumLogBox_;
    QCheckBox* logBox_;
    Background background_;
};
