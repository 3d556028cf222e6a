#pragma once

#include "processing/ProcessingOptions.h"
#include "store/Segment.h"

#include <complex>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

// The processing chain for a stream, one channel: causal and incremental. Its state (filter
// memories, decimation phase, the integral) is carried from piece to piece, so each piece costs
// only its own samples, and pushing a run of samples piece by piece gives what pushing it at once
// gives. The newest sample comes out as filtered, not tapered; the price is the filters' phase:
// arrivals show a little late (delaySeconds).
//
// Against the window chain (ProcessingChain), with the same option set and corners:
// - offset: the first sample after a (re)start is subtracted, so nothing steps at the start, and
//   whatever offset and drift remain go through a high-pass: the band's own when the filter is on
//   with a usable lower corner (its zero-frequency gain is zero), else a 2-pole Butterworth
//   high-pass at kOffsetCornerHz, well below anything drawn. A running mean would need a window
//   of memory per channel and still pass a drift; the high-pass needs two numbers.
// - filters: Butterworth low- and high-pass of 4 poles run once forward, the order that gives the
//   stop band of the window chain's 2 poles run forward and backward (both fall as f^-4); -3 dB
//   at the corner instead of -6 dB.
// - WWSSN: the same responses as recursive filters (WwssnFilter's causal form).
// - decimation: the window chain's anti-alias taps, run causally at every factor-th input (from
//   the start), in the same stages (10 = 5 then 2, 20 = 5 then 4).
// - integration: trapezoidal, one output per input (not one fewer). What it sums has passed a
//   high-pass with no gain at zero frequency, so the sum cannot run away; but it can settle at a
//   constant (a drift's), and rounding would walk. A leak a tenth of the lowest corner in use
//   (LeakyIntegrator) lets both go: the gain at zero frequency is bounded, about 1 / (2 pi leak).
// - no taper, and no second detrend after decimation.
// Scaling to unit RMS is left to the caller, over what is drawn (unitRmsFactor).
//
// Each output sample carries the time of the newest input it depends on, as the piece it came in
// dates that input. A piece that does not continue the last (another interval, or a start more
// than half a sample off where the last one ended), or a sample that is not a finite number,
// restarts the state: the outputs then begin a new run. Samples repeated on the same grid (a
// record sent again) are skipped.
namespace processing {

class LiveChain {
public:
    // The option set as the window chain picks it: a capital L in the channel code means the
    // long-period set (which has no short-period instrument).
    LiveChain(const ProcessingOptions& options, std::string_view channelCode);
    LiveChain(const ProcessingOptionSet& options, bool longPeriod);
    ~LiveChain();
    LiveChain(LiveChain&&) noexcept;
    LiveChain& operator=(LiveChain&&) noexcept;

    // Processed, unscaled samples on the output grid: start, delta (the output interval) and the
    // raw piece's channel. `continues` is false for the first run after a (re)start.
    struct Run {
        Segment samples;
        bool continues = false;
    };
    // The outputs the piece completes, oldest first: usually one run, more when the piece holds a
    // break; none when it completes no output yet (decimation) or is unusable (no samples, an
    // interval that is not a positive finite number).
    std::vector<Run> push(const Segment& raw);
    // Whether `raw` would carry on from what was pushed so far (false before the first piece).
    bool continues(const Segment& raw) const;
    // Forgets the state: the next piece starts afresh.
    void restart();

    // Intervals of the last piece pushed and of the outputs; 0 before the first piece.
    double inputDelta() const;
    double outputDelta() const;
    // The chain's response at frequency f (Hz), input to output, for the current input interval
    // (1 before the first piece); and its group delay there in seconds: how late a wave of that
    // frequency shows.
    std::complex<double> response(double frequencyHz) const;
    double delaySeconds(double frequencyHz) const;

    // The high-pass that removes the offset where the band has none (Hz).
    static constexpr double kOffsetCornerHz = 0.001;

private:
    struct Stages;
    void start(Time at, double delta);
    // How many of raw's first samples were pushed already (a record sent again), else 0.
    std::size_t alreadyPushed(const Segment& raw) const;
    void process(std::span<const float> samples, Time first, std::vector<Run>& out);

    ProcessingOptionSet options_;
    std::unique_ptr<Stages> stages_;
    bool started_ = false;   // a piece has been pushed since the last restart
    bool freshRun_ = true;   // no output since the last restart
    bool broken_ = false;    // the last sample pushed was not a number
    Time anchor_{};          // time of the first input since the (re)start
    Time end_{};             // where the next input is due
    std::size_t inputs_ = 0; // since the (re)start
    double offset_ = 0;
};

// The factor that scales what is drawn to unit RMS, as the window chain computes it (single
// precision; 0 for samples whose RMS is 0).
float unitRmsFactor(std::span<const float> drawn);

} // namespace processing
