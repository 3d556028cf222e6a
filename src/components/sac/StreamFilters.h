#pragma once

#include "components/sac/Butterworth.h"

#include <array>
#include <complex>
#include <cstddef>
#include <span>
#include <vector>

// Filters for a stream: each keeps its memories between calls, so a run of samples fed in pieces
// of any size gives what the run fed at once gives. All work in double precision; responses are
// evaluated at omega radians per sample (pi is the Nyquist frequency).
namespace sac::dsp {

// Second-order sections one after another (a Butterworth design, say).
class SectionCascade {
public:
    SectionCascade() = default;
    explicit SectionCascade(std::vector<Biquad> sections);

    void run(std::span<double> x); // in place
    void reset();
    bool empty() const { return sections_.empty(); }
    std::complex<double> response(double omega) const;

private:
    std::vector<Biquad> sections_;
    std::vector<std::array<double, 2>> state_;
};

// Sections side by side, all fed the same input, their outputs summed: a partial-fraction form.
class ParallelSections {
public:
    ParallelSections() = default;
    explicit ParallelSections(std::vector<Biquad> sections);

    // out[i] = the sum of the sections' outputs for in[i]; in and out may be the same samples.
    void run(std::span<const double> in, std::span<double> out);
    void reset();
    bool empty() const { return sections_.empty(); }
    std::complex<double> response(double omega) const;
    // The sections' memories, one pair each (spans of the sections' count).
    void getState(std::span<std::array<double, 2>> out) const;
    void setState(std::span<const std::array<double, 2>> in);

private:
    std::vector<Biquad> sections_;
    std::vector<std::array<double, 2>> state_;
};

// Finite impulse response over the current and earlier inputs; the last taps - 1 inputs are
// remembered (zeros after a reset).
class CausalFir {
public:
    CausalFir() = default;
    explicit CausalFir(std::vector<double> taps);

    // out[i] += sum over j of taps[j] * in[i - j]; in and out must not overlap.
    void accumulate(std::span<const double> in, std::span<double> out);
    void reset();
    bool empty() const { return taps_.empty(); }
    std::complex<double> response(double omega) const;

private:
    std::vector<double> taps_;
    std::vector<double> history_; // newest last, taps - 1 of them
    std::vector<double> work_;
};

// Decimation's anti-alias filter run causally: an output is made at every factor-th input,
// counted from the last reset, from that input and the ones before it. The taps are those the
// window chain uses (designDecimationFilter), so the response is the same but for a delay of half
// the filter's length.
class FirDecimator {
public:
    FirDecimator() = default;
    // maxHalfLength bounds the memory a huge factor could ask for.
    FirDecimator(int factor, std::size_t maxHalfLength);

    // Appends the outputs the inputs complete.
    void run(std::span<const double> in, std::vector<double>& out);
    void reset();
    int factor() const { return factor_; }
    // The delay the causal filter adds, in input samples.
    double delaySamples() const;
    std::complex<double> response(double omega) const;

private:
    int factor_ = 1;
    std::vector<double> taps_;
    std::vector<double> work_; // history of taps - 1 inputs, then the new ones
    std::size_t phase_ = 0;    // inputs until the next output
};

// Trapezoidal integration that forgets slowly: y[k] = rho y[k-1] + dt (x[k] + x[k-1]) / 2 with
// rho = exp(-2 pi leak dt). Above the leak frequency it integrates; at zero frequency its gain is
// bounded (about 1 / (2 pi leak)), so an offset or a random walk cannot make it drift away.
class LeakyIntegrator {
public:
    LeakyIntegrator() = default;
    LeakyIntegrator(double delta, double leakHz);

    void run(std::span<double> x);
    void reset();
    std::complex<double> response(double omega) const;

private:
    double halfDelta_ = 0, rho_ = 0;
    double previousIn_ = 0, previousOut_ = 0;
};

// The response of one section at omega.
std::complex<double> sectionResponse(const Biquad& q, double omega);

} // namespace sac::dsp
