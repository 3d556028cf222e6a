#include "components/sac/StreamFilters.h"

#include "components/sac/Decimator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sac::dsp {

namespace {

using cd = std::complex<double>;

// The sections side by side with their count known to the compiler, so the loop over them
// unrolls and their recursions, independent of each other, overlap.
template <std::size_t N>
void runParallelFixed(const Biquad* q, std::array<double, 2>* state, const double* in, double* out,
                      std::size_t n) {
    double b0[N], b1[N], b2[N], a1[N], a2[N], s0[N], s1[N];
    for (std::size_t k = 0; k < N; ++k) {
        b0[k] = q[k].b0;
        b1[k] = q[k].b1;
        b2[k] = q[k].b2;
        a1[k] = q[k].a1;
        a2[k] = q[k].a2;
        s0[k] = state[k][0];
        s1[k] = state[k][1];
    }
    for (std::size_t i = 0; i < n; ++i) {
        const double x = in[i];
        double y = 0;
        for (std::size_t k = 0; k < N; ++k) {
            const double o = b0[k] * x + s0[k];
            s0[k] = b1[k] * x - a1[k] * o + s1[k];
            s1[k] = b2[k] * x - a2[k] * o;
            y += o;
        }
        out[i] = y;
    }
    for (std::size_t k = 0; k < N; ++k)
        state[k] = {s0[k], s1[k]};
}

void runParallelAny(const Biquad* q, std::array<double, 2>* state, std::size_t count,
                    const double* in, double* out, std::size_t n) {
    switch (count) {
    case 1:
        return runParallelFixed<1>(q, state, in, out, n);
    case 2:
        return runParallelFixed<2>(q, state, in, out, n);
    case 3:
        return runParallelFixed<3>(q, state, in, out, n);
    case 4:
        return runParallelFixed<4>(q, state, in, out, n);
    default:
        break;
    }
    // More sections than any design here uses: four at a time, summed.
    std::vector<double> part(n);
    std::fill(out, out + n, 0.0);
    for (std::size_t k = 0; k < count; k += 4) {
        const std::size_t m = std::min<std::size_t>(4, count - k);
        runParallelAny(q + k, state + k, m, in, part.data(), n);
        for (std::size_t i = 0; i < n; ++i)
            out[i] += part[i];
    }
}

} // namespace

cd sectionResponse(const Biquad& q, double omega) {
    const cd z1 = std::polar(1.0, -omega);
    const cd z2 = z1 * z1;
    return (q.b0 + q.b1 * z1 + q.b2 * z2) / (1.0 + q.a1 * z1 + q.a2 * z2);
}

SectionCascade::SectionCascade(std::vector<Biquad> sections)
    : sections_(std::move(sections)), state_(sections_.size(), {0.0, 0.0}) {}

void SectionCascade::run(std::span<double> x) {
    for (std::size_t k = 0; k < sections_.size(); ++k) {
        const Biquad& q = sections_[k];
        double s0 = state_[k][0], s1 = state_[k][1];
        for (double& v : x) {
            const double in = v;
            const double out = q.b0 * in + s0;
            s0 = q.b1 * in - q.a1 * out + s1;
            s1 = q.b2 * in - q.a2 * out;
            v = out;
        }
        state_[k] = {s0, s1};
    }
}

void SectionCascade::reset() {
    std::fill(state_.begin(), state_.end(), std::array<double, 2>{0.0, 0.0});
}

cd SectionCascade::response(double omega) const {
    cd h = 1.0;
    for (const Biquad& q : sections_)
        h *= sectionResponse(q, omega);
    return h;
}

ParallelSections::ParallelSections(std::vector<Biquad> sections)
    : sections_(std::move(sections)), state_(sections_.size(), {0.0, 0.0}) {}

void ParallelSections::run(std::span<const double> in, std::span<double> out) {
    const std::size_t n = std::min(in.size(), out.size());
    if (sections_.empty()) {
        std::fill(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n), 0.0);
        return;
    }
    runParallelAny(sections_.data(), state_.data(), sections_.size(), in.data(), out.data(), n);
}

void ParallelSections::reset() {
    std::fill(state_.begin(), state_.end(), std::array<double, 2>{0.0, 0.0});
}

void ParallelSections::getState(std::span<std::array<double, 2>> out) const {
    std::copy_n(state_.begin(), std::min(out.size(), state_.size()), out.begin());
}

void ParallelSections::setState(std::span<const std::array<double, 2>> in) {
    std::copy_n(in.begin(), std::min(in.size(), state_.size()), state_.begin());
}

cd ParallelSections::response(double omega) const {
    cd h = 0.0;
    for (const Biquad& q : sections_)
        h += sectionResponse(q, omega);
    return h;
}

CausalFir::CausalFir(std::vector<double> taps)
    : taps_(std::move(taps)), history_(taps_.empty() ? 0 : taps_.size() - 1, 0.0) {}

void CausalFir::accumulate(std::span<const double> in, std::span<double> out) {
    if (taps_.empty())
        return;
    const std::size_t n = std::min(in.size(), out.size());
    const std::size_t h = history_.size();
    work_.assign(history_.begin(), history_.end());
    work_.insert(work_.end(), in.begin(), in.begin() + static_cast<std::ptrdiff_t>(n));
    for (std::size_t i = 0; i < n; ++i) {
        const double* newest = work_.data() + h + i;
        double acc = 0;
        for (std::size_t j = 0; j < taps_.size(); ++j)
            acc += taps_[j] * *(newest - j);
        out[i] += acc;
    }
    std::copy(work_.end() - static_cast<std::ptrdiff_t>(h), work_.end(), history_.begin());
}

void CausalFir::reset() {
    std::fill(history_.begin(), history_.end(), 0.0);
}

cd CausalFir::response(double omega) const {
    cd h = 0.0;
    for (std::size_t j = 0; j < taps_.size(); ++j)
        h += taps_[j] * std::polar(1.0, -omega * static_cast<double>(j));
    return h;
}

FirDecimator::FirDecimator(int factor, std::size_t maxHalfLength) : factor_(std::max(factor, 1)) {
    if (factor_ >= 2)
        taps_ = designDecimationFilter(factor_, maxHalfLength);
    reset();
}

void FirDecimator::run(std::span<const double> in, std::vector<double>& out) {
    if (factor_ < 2) {
        out.insert(out.end(), in.begin(), in.end());
        return;
    }
    const std::size_t h = taps_.size() - 1;
    work_.insert(work_.end(), in.begin(), in.end());
    const auto q = static_cast<std::size_t>(factor_);
    // Inputs h .. end are the new ones; the taps being symmetric, their order does not matter.
    std::size_t i = h + phase_;
    for (; i < work_.size(); i += q) {
        const double* oldest = work_.data() + (i - h);
        double a0 = 0, a1 = 0;
        std::size_t j = 0;
        for (; j + 2 <= taps_.size(); j += 2) {
            a0 += taps_[j] * oldest[j];
            a1 += taps_[j + 1] * oldest[j + 1];
        }
        for (; j < taps_.size(); ++j)
            a0 += taps_[j] * oldest[j];
        out.push_back(a0 + a1);
    }
    phase_ = i - work_.size();
    work_.erase(work_.begin(), work_.end() - static_cast<std::ptrdiff_t>(h));
}

void FirDecimator::reset() {
    phase_ = 0;
    work_.assign(taps_.empty() ? 0 : taps_.size() - 1, 0.0);
}

double FirDecimator::delaySamples() const {
    return taps_.empty() ? 0.0 : 0.5 * static_cast<double>(taps_.size() - 1);
}

cd FirDecimator::response(double omega) const {
    if (taps_.empty())
        return 1.0;
    cd h = 0.0;
    for (std::size_t j = 0; j < taps_.size(); ++j)
        h += taps_[j] * std::polar(1.0, -omega * static_cast<double>(j));
    return h;
}

LeakyIntegrator::LeakyIntegrator(double delta, double leakHz)
    : halfDelta_(0.5 * delta), rho_(std::exp(-2.0 * std::numbers::pi * leakHz * delta)) {}

void LeakyIntegrator::run(std::span<double> x) {
    for (double& v : x) {
        const double in = v;
        previousOut_ = rho_ * previousOut_ + halfDelta_ * (in + previousIn_);
        previousIn_ = in;
        v = previousOut_;
    }
}

void LeakyIntegrator::reset() {
    previousIn_ = previousOut_ = 0;
}

cd LeakyIntegrator::response(double omega) const {
    const cd z1 = std::polar(1.0, -omega);
    return halfDelta_ * (1.0 + z1) / (1.0 - rho_ * z1);
}

} // namespace sac::dsp
