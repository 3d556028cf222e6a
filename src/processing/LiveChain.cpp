#include "processing/LiveChain.h"

#include "components/sac/Butterworth.h"
#include "components/sac/SignalOps.h"
#include "components/sac/StreamFilters.h"
#include "components/sac/WwssnInstrument.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace processing {

namespace {

using cd = std::complex<double>;
using namespace sac::dsp;

constexpr int kPoles = 4;
// Decimation taps beyond this many either side would only sharpen a filter for factors no one
// draws (a few hundred and more); the bound keeps a channel's memory small.
constexpr std::size_t kMaxDecimationHalfLength = 4096;

bool sameRate(double a, double b) {
    return std::abs(a - b) <= 1e-6 * std::max(a, b);
}

// One WWSSN instrument: its sections and its causal correction, both fed the same input.
struct Instrument {
    ParallelSections sections;
    CausalFir correction;
    std::vector<double> out;

    Instrument(int code, double delta) {
        WwssnFilter f = designWwssnFilter(code, delta, WwssnForm::Causal);
        sections = ParallelSections(std::move(f.sections));
        correction = CausalFir(std::move(f.taps));
    }
    void run(std::vector<double>& x) {
        out.resize(x.size());
        sections.run(x, out);
        correction.accumulate(x, out);
        x.swap(out);
    }
    void reset() {
        sections.reset();
        correction.reset();
    }
    cd response(double omega) const {
        return sections.response(omega) + correction.response(omega);
    }
};

std::vector<int> decimationStages(const ProcessingOptionSet& o) {
    if (!o.decimate)
        return {};
    if (o.decimationFactor == 10)
        return {5, 2};
    if (o.decimationFactor == 20)
        return {5, 4};
    if (o.decimationFactor >= 2)
        return {o.decimationFactor};
    return {};
}

} // namespace

// The filters for one input interval, in the order they run.
struct LiveChain::Stages {
    double delta = 0, outDelta = 0;
    std::size_t factor = 1; // inputs per output
    SectionCascade offset, lowPass, highPass;
    std::vector<Instrument> instruments;
    std::vector<FirDecimator> decimators;
    std::vector<double> decimatorDelta; // each one's input interval
    bool integrate = false;
    LeakyIntegrator integrator;
    std::vector<double> work, next;

    Stages(const ProcessingOptionSet& o, double dt) : delta(dt), outDelta(dt) {
        if (o.filter) {
            lowPass =
                SectionCascade(designButterworth(FilterBand::LowPass, kPoles, o.lowPassCorner, dt));
            highPass = SectionCascade(
                designButterworth(FilterBand::HighPass, kPoles, o.highPassCorner, dt));
        }
        const double lowest = highPass.empty() ? kOffsetCornerHz : o.highPassCorner;
        if (highPass.empty())
            offset =
                SectionCascade(designButterworth(FilterBand::HighPass, 2, kOffsetCornerHz, dt));
        if (o.longPeriodInstrument)
            instruments.emplace_back(WwssnLongPeriod, dt);
        if (o.shortPeriodInstrument)
            instruments.emplace_back(WwssnShortPeriod, dt);
        for (const int q : decimationStages(o)) {
            decimators.emplace_back(q, kMaxDecimationHalfLength);
            decimatorDelta.push_back(outDelta);
            outDelta *= q;
            factor *= static_cast<std::size_t>(q);
        }
        integrate = o.integrate;
        if (integrate)
            integrator = LeakyIntegrator(outDelta, lowest / 10);
    }

    void reset() {
        offset.reset();
        lowPass.reset();
        highPass.reset();
        for (Instrument& i : instruments)
            i.reset();
        for (FirDecimator& d : decimators)
            d.reset();
        integrator.reset();
    }

    // Runs `work` through every stage; what comes out is left in it.
    void run() {
        offset.run(work);
        lowPass.run(work);
        highPass.run(work);
        for (Instrument& i : instruments)
            i.run(work);
        for (FirDecimator& d : decimators) {
            next.clear();
            d.run(work, next);
            work.swap(next);
        }
        if (integrate)
            integrator.run(work);
    }

    cd response(double f) const {
        const double w = 2 * std::numbers::pi * f;
        cd h =
            offset.response(w * delta) * lowPass.response(w * delta) * highPass.response(w * delta);
        for (const Instrument& i : instruments)
            h *= i.response(w * delta);
        for (std::size_t k = 0; k < decimators.size(); ++k)
            h *= decimators[k].response(w * decimatorDelta[k]);
        if (integrate)
            h *= integrator.response(w * outDelta);
        return h;
    }
};

LiveChain::LiveChain(const ProcessingOptions& options, std::string_view channelCode)
    : LiveChain(channelCode.find('L') != std::string_view::npos ? options.longPeriod
                                                                : options.broadband,
                channelCode.find('L') != std::string_view::npos) {}

LiveChain::LiveChain(const ProcessingOptionSet& options, bool longPeriod) : options_(options) {
    if (longPeriod)
        options_.shortPeriodInstrument = false; // the long-period set has no such box
}

LiveChain::~LiveChain() = default;
LiveChain::LiveChain(LiveChain&&) noexcept = default;
LiveChain& LiveChain::operator=(LiveChain&&) noexcept = default;

bool LiveChain::continues(const Segment& raw) const {
    if (!started_ || !stages_ || !sameRate(raw.delta, stages_->delta))
        return false;
    return std::abs(civil::secondsBetween(end_, raw.start)) < 0.5 * stages_->delta;
}

std::size_t LiveChain::alreadyPushed(const Segment& raw) const {
    if (!started_ || !stages_ || !sameRate(raw.delta, stages_->delta))
        return 0;
    // A record sent again lies on the same grid, at or after the start, and reaches back into
    // what was pushed (by half a sample or more).
    const double dt = stages_->delta;
    const double behind = civil::secondsBetween(raw.start, end_) / dt;
    const double sinceStart = civil::secondsBetween(anchor_, raw.start) / dt;
    if (!(behind >= 0.5) || !(sinceStart > -0.5))
        return 0;
    return static_cast<std::size_t>(std::min(std::round(behind), static_cast<double>(inputs_)));
}

void LiveChain::restart() {
    started_ = false;
    broken_ = false;
}

void LiveChain::start(Time at, double delta) {
    if (!stages_ || stages_->delta != delta)
        stages_ = std::make_unique<Stages>(options_, delta);
    else
        stages_->reset();
    started_ = true;
    freshRun_ = true;
    broken_ = false;
    anchor_ = end_ = at;
    inputs_ = 0;
}

std::vector<LiveChain::Run> LiveChain::push(const Segment& raw) {
    std::vector<Run> out;
    if (raw.samples.empty() || !(raw.delta > 0) || !std::isfinite(raw.delta))
        return out;
    std::size_t i = 0;
    if (const std::size_t seen = alreadyPushed(raw); seen > 0) {
        if (seen >= raw.samples.size())
            return out;
        i = seen;
    } else if (!continues(raw)) {
        start(raw.start, raw.delta);
    }
    const std::size_t n = raw.samples.size();
    while (i < n) {
        if (!std::isfinite(raw.samples[i])) {
            broken_ = true;
            ++i;
            continue;
        }
        if (broken_)
            start(raw.timeOf(i), raw.delta);
        std::size_t j = i;
        while (j < n && std::isfinite(raw.samples[j]))
            ++j;
        const std::size_t before = out.size();
        process(std::span(raw.samples).subspan(i, j - i), raw.timeOf(i), out);
        for (std::size_t k = before; k < out.size(); ++k)
            out[k].samples.channel = raw.channel;
        end_ = raw.timeOf(j);
        i = j;
    }
    return out;
}

void LiveChain::process(std::span<const float> samples, Time first, std::vector<Run>& out) {
    Stages& s = *stages_;
    if (inputs_ == 0)
        offset_ = samples.front();
    s.work.resize(samples.size());
    for (std::size_t k = 0; k < samples.size(); ++k)
        s.work[k] = samples[k] - offset_;
    // Outputs fall on every factor-th input since the start: the first one here is at `skip`.
    const std::size_t skip = (s.factor - inputs_ % s.factor) % s.factor;
    inputs_ += samples.size();
    s.run();
    if (s.work.empty())
        return;
    Run run;
    run.continues = !freshRun_;
    run.samples.delta = s.outDelta;
    run.samples.start = civil::addSeconds(first, static_cast<double>(skip) * s.delta);
    run.samples.samples.assign(s.work.begin(), s.work.end());
    freshRun_ = false;
    out.push_back(std::move(run));
}

double LiveChain::inputDelta() const {
    return stages_ ? stages_->delta : 0.0;
}

double LiveChain::outputDelta() const {
    return stages_ ? stages_->outDelta : 0.0;
}

std::complex<double> LiveChain::response(double frequencyHz) const {
    if (stages_)
        return stages_->response(frequencyHz);
    return 1.0;
}

double LiveChain::delaySeconds(double frequencyHz) const {
    if (!stages_ || !(frequencyHz > 0))
        return 0.0;
    const double h = 1e-4 * frequencyHz;
    const double turn =
        std::remainder(std::arg(response(frequencyHz + h)) - std::arg(response(frequencyHz - h)),
                       2 * std::numbers::pi);
    return -turn / (2 * std::numbers::pi * 2 * h);
}

float unitRmsFactor(std::span<const float> drawn) {
    const float rms = static_cast<float>(sac::dsp::rms(drawn));
    return rms == 0.0f ? 0.0f : 1.0f / rms;
}

} // namespace processing
