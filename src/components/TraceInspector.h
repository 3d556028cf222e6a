#pragma once

#include "base/Background.h"
#include "base/Time.h"
#include "components/sac/Spectrum.h"

#include <QWidget>

#include <vector>

class QCheckBox;

// A closer look at one trace over the span on screen: the raw and the processed samples, the
// processed trace's amplitude spectrum on log-log axes, and its spectrogram (Hann windows with
// half overlap, a logarithmic colour scale with its legend, the frequency axis linear or
// logarithmic). The spectra are computed off the GUI thread.
class TraceInspector : public QWidget {
    Q_OBJECT
public:
    struct Trace {
        Time start{};
        double delta = 0;
        std::vector<float> samples;
    };

    explicit TraceInspector(QWidget* parent = nullptr);

    void setInline(bool on) { background_.setInline(on); }
    void inspect(const QString& title, Trace raw, Trace processed);
    void setLogFrequency(bool on);
    bool logFrequency() const { return logFrequency_; }
    bool isComputing() const { return background_.isRunning(); }
    const sac::dsp::AmplitudeSpectrum& spectrum() const { return spectrum_; }
    const sac::dsp::Spectrogram& spectrogram() const { return spectrogram_; }

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

    QString title_;
    Trace raw_, processed_;
    sac::dsp::AmplitudeSpectrum spectrum_;
    sac::dsp::Spectrogram spectrogram_;
    bool logFrequency_ = false;
    QCheckBox* logBox_;
    Background background_;
};
