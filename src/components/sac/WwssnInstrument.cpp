#include "components/sac/WwssnInstrument.h"

#include "components/sac/Fftw.h"
#include "components/sac/StreamFilters.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <mutex>
#include <numbers>
#include <vector>

namespace sac::dsp {

namespace {

using cd = std::complex<double>;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// ELMAG 15-100, magnification 1500 (SAC TRANSFER's instrument table): H(s) = c w1 s^3 / D(s),
// D given by its coefficients, constant term first.
struct Elmag {
    static constexpr double t1 = 15.0, t2 = 100.0, h1 = 0.93, h2 = 1.0, sigma2 = 0.047;
    static constexpr double c = 2840.9091;
    static constexpr double w1 = kTwoPi / t1;
    static constexpr double p = t1 / t2;
    static constexpr std::array<double, 5> denominator{
        p * p * w1 * w1 * w1 * w1, 2.0 * (p * h1 + h2) * p* w1* w1* w1,
        ((1.0 + p * p) + 4.0 * h1 * h2 * p * (1.0 - sigma2)) * w1* w1, 2.0 * w1*(h1 + p * h2), 1.0};
};

cd elmagDisplacement(cd s) {
    cd den = 0;
    for (auto k = Elmag::denominator.size(); k-- > 0;)
        den = den * s + Elmag::denominator[k];
    return Elmag::c * Elmag::w1 * s * s * s / den;
}

// Blacknest WWSSN short period (SAC's WWSPBN): three zeros at the origin.
constexpr double kWwspbnGain = 432.83395;
const std::array<cd, 5> kWwspbnPoles{cd(-4.04094, 6.47935), cd(-4.04094, -6.47935), cd(-9.25238, 0),
                                     cd(-7.67430, 0), cd(-16.72981, 0)};

cd wwspbnDisplacement(cd s) {
    cd h = kWwspbnGain * s * s * s;
    for (const cd& p : kWwspbnPoles)
        h /= (s - p);
    return h;
}

cd velocityResponseUnnormalised(int code, double f) {
    const cd s(0.0, kTwoPi * f);
    if (f == 0.0)
        return 0.0; // zeros at the origin
    switch (code) {
    case WwssnLongPeriod:
        return elmagDisplacement(s) / s;
    case WwssnShortPeriod:
        return wwspbnDisplacement(s) / s;
    default:
        return 1.0;
    }
}

double normalisationFrequency(int code) {
    return code == WwssnLongPeriod ? 1.0 / 15.0 : 1.0;
}

// Roots of the monic quartic by the Durand-Kerner iteration, which converges for these
// well-separated roots from the customary starting points (powers of 0.4 + 0.9i).
std::vector<cd> elmagPoles() {
    const auto& a = Elmag::denominator;
    const double radius = std::pow(a[0], 0.25);
    std::vector<cd> r(4);
    for (std::size_t i = 0; i < r.size(); ++i)
        r[i] = radius * std::pow(cd(0.4, 0.9), static_cast<double>(i));
    for (int iteration = 0; iteration < 500; ++iteration) {
        double largest = 0;
        for (std::size_t i = 0; i < r.size(); ++i) {
            cd f = a[4];
            for (auto k = a.size() - 1; k-- > 0;)
                f = f * r[i] + a[k];
            cd d = 1.0;
            for (std::size_t j = 0; j < r.size(); ++j)
                if (j != i)
                    d *= r[i] - r[j];
            const cd step = f / d;
            r[i] -= step;
            largest = std::max(largest, std::abs(step) / std::abs(r[i]));
        }
        if (largest < 1e-15)
            break;
    }
    for (cd& p : r)
        if (std::abs(p.imag()) < 1e-9 * std::abs(p))
            p = p.real();
    return r;
}

std::vector<cd> polesOf(int code) {
    if (code == WwssnLongPeriod)
        return elmagPoles();
    return {kWwspbnPoles.begin(), kWwspbnPoles.end()};
}

// The correction is cut where what lies outside holds less than this share of the response's
// own energy (1e-4 of the output's RMS for white noise), at most kMaxLag samples either side.
// Only a response with a large step at the Nyquist frequency (its spectrum cut there) keeps a
// slowly decaying tail beyond that; where cutting it would leave more than kFallbackResidual,
// the trace is convolved by the whole-trace spectral product instead.
constexpr double kTailEnergy = 1e-8;
constexpr double kFallbackResidual = 2e-3;
constexpr std::ptrdiff_t kMinLag = 2, kMaxLag = 64;
constexpr std::size_t kGrid = 1u << 12; // frequencies the correction is computed on

// Smallest 2^a 3^b 5^c >= n: sizes FFTW transforms fast.
std::size_t fastSize(std::size_t n) {
    for (std::size_t m = std::max<std::size_t>(n, 1);; ++m) {
        std::size_t r = m;
        for (std::size_t p : {2u, 3u, 5u})
            while (r % p == 0)
                r /= p;
        if (r == 1)
            return m;
    }
}

// The response multiplied into the trace's spectrum (real FFT, zero padded to at least twice the
// length so nothing wraps around), the first N samples kept.
void convolveSpectrally(std::span<float> x, double delta, int code) {
    const std::size_t n = x.size();
    const std::size_t nfft = fastSize(2 * n);
    if (nfft > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return;
    const std::size_t nbins = nfft / 2 + 1;
    FftwBuffer<double> time(nfft);
    FftwBuffer<fftw_complex> spectrum(nbins);
    if (!time || !spectrum)
        return;
    const int len = static_cast<int>(nfft);
    const FftwPlan forward = planFftw(
        [&] { return fftw_plan_dft_r2c_1d(len, time.data(), spectrum.data(), FFTW_ESTIMATE); });
    const FftwPlan inverse = planFftw(
        [&] { return fftw_plan_dft_c2r_1d(len, spectrum.data(), time.data(), FFTW_ESTIMATE); });
    if (!forward || !inverse)
        return;
    for (std::size_t i = 0; i < n; ++i)
        time[i] = x[i];
    for (std::size_t i = n; i < nfft; ++i)
        time[i] = 0.0;
    forward.execute();
    const double df = 1.0 / (static_cast<double>(nfft) * delta);
    for (std::size_t k = 0; k < nbins; ++k) {
        const cd v = cd(spectrum[k][0], spectrum[k][1]) *
                     wwssnVelocityResponse(code, static_cast<double>(k) * df);
        spectrum[k][0] = v.real();
        spectrum[k][1] = v.imag();
    }
    inverse.execute();
    const double inv = 1.0 / static_cast<double>(nfft);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = static_cast<float>(time[i] * inv);
}

WwssnFilter design(int code, double delta, WwssnForm form);

// Designs are asked for again and again with the same few intervals (every trace, every stream
// of a rate): the last few are kept.
WwssnFilter cachedDesign(int code, double delta, WwssnForm form) {
    struct Entry {
        int code;
        double delta;
        WwssnForm form;
        WwssnFilter filter;
    };
    static std::mutex mutex;
    static std::vector<Entry> entries;
    {
        std::lock_guard lock(mutex);
        for (const Entry& e : entries)
            if (e.code == code && e.delta == delta && e.form == form)
                return e.filter;
    }
    WwssnFilter filter = design(code, delta, form);
    std::lock_guard lock(mutex);
    if (entries.size() >= 16)
        entries.erase(entries.begin());
    entries.push_back({code, delta, form, filter});
    return filter;
}

} // namespace

cd wwssnVelocityResponse(int code, double frequencyHz) {
    if (code != WwssnLongPeriod && code != WwssnShortPeriod)
        return 1.0;
    const double norm = std::abs(velocityResponseUnnormalised(code, normalisationFrequency(code)));
    return velocityResponseUnnormalised(code, std::abs(frequencyHz)) / norm;
}

namespace {

WwssnFilter design(int code, double delta, WwssnForm form) {
    WwssnFilter out;

    // H(s) = g s^2 / prod(s - p): the gain from the response at its normalisation frequency,
    // then each pole's residue, and the sampled modes dt r z^k as sections.
    const std::vector<cd> poles = polesOf(code);
    const double f0 = normalisationFrequency(code);
    const cd s0(0.0, kTwoPi * f0);
    cd g = wwssnVelocityResponse(code, f0) / (s0 * s0);
    for (const cd& p : poles)
        g *= s0 - p;
    for (const cd& p : poles) {
        if (p.imag() < 0)
            continue; // with its conjugate
        cd d = 1.0;
        for (const cd& q : poles)
            if (q != p)
                d *= p - q;
        const cd r = delta * g.real() * p * p / d;
        const cd z = std::exp(p * delta);
        if (p.imag() == 0)
            out.sections.push_back({r.real(), 0.0, 0.0, -z.real(), 0.0});
        else
            out.sections.push_back({2.0 * r.real(), -2.0 * (r * std::conj(z)).real(), 0.0,
                                    -2.0 * z.real(), std::norm(z)});
    }

    // The correction: the response cut at Nyquist less the sections' response, back in time.
    const std::size_t bins = kGrid / 2 + 1;
    FftwBuffer<fftw_complex> spectrum(bins);
    FftwBuffer<double> lags(kGrid);
    if (!spectrum || !lags)
        return {};
    const int len = static_cast<int>(kGrid);
    const FftwPlan inverse = planFftw(
        [&] { return fftw_plan_dft_c2r_1d(len, spectrum.data(), lags.data(), FFTW_ESTIMATE); });
    if (!inverse)
        return {};
    double energy = 0; // of the cut response's impulse response, by Parseval
    for (std::size_t k = 0; k < bins; ++k) {
        const double omega = kTwoPi * static_cast<double>(k) / static_cast<double>(kGrid);
        cd t = wwssnVelocityResponse(code, omega / (kTwoPi * delta));
        if (k == bins - 1)
            t = t.real(); // a real signal has a real Nyquist bin
        else if (k == 0)
            t = 0.0;
        cd sectionsResponse = 0.0;
        for (const Biquad& q : out.sections)
            sectionsResponse += sectionResponse(q, omega);
        const cd d = (t - sectionsResponse) / static_cast<double>(kGrid);
        spectrum[k][0] = d.real();
        spectrum[k][1] = d.imag();
        energy += (k == 0 || k == bins - 1 ? 1.0 : 2.0) * std::norm(t);
    }
    energy /= static_cast<double>(kGrid);
    inverse.execute();
    auto c = [&](std::ptrdiff_t lag) {
        return lags[static_cast<std::size_t>((lag + static_cast<std::ptrdiff_t>(kGrid)) %
                                             static_cast<std::ptrdiff_t>(kGrid))];
    };

    // The shortest span of lags whose outside holds less than the allowed energy.
    const bool twoSided = form == WwssnForm::TwoSided;
    double outside = 0;
    for (std::ptrdiff_t k = kMaxLag + 1; k < static_cast<std::ptrdiff_t>(kGrid / 2); ++k)
        outside += c(k) * c(k) + (twoSided ? c(-k) * c(-k) : 0.0);
    std::ptrdiff_t reach = kMaxLag;
    while (reach > kMinLag) {
        const double next =
            outside + c(reach) * c(reach) + (twoSided ? c(-reach) * c(-reach) : 0.0);
        if (next > kTailEnergy * energy)
            break;
        outside = next;
        --reach;
    }
    if (!twoSided) // what the causal form cannot have counts against it too
        for (std::ptrdiff_t k = 1; k < static_cast<std::ptrdiff_t>(kGrid / 2); ++k)
            outside += c(-k) * c(-k);
    out.residual = std::sqrt(outside / energy);
    const std::ptrdiff_t first = twoSided ? -reach : 0;
    out.lead = static_cast<std::size_t>(-first);
    for (std::ptrdiff_t k = first; k <= reach; ++k)
        out.taps.push_back(c(k));

    // Zero-frequency gain exactly zero, as the response has it: whatever the cut left over goes
    // to the tap at lag 0.
    cd dc = 0.0;
    for (const Biquad& q : out.sections)
        dc += sectionResponse(q, 0.0);
    double sum = 0;
    for (double t : out.taps)
        sum += t;
    out.taps[out.lead] -= dc.real() + sum;
    return out;
}

} // namespace

WwssnFilter designWwssnFilter(int code, double delta, WwssnForm form) {
    if ((code != WwssnLongPeriod && code != WwssnShortPeriod) || !(delta > 0) ||
        !std::isfinite(delta))
        return {};
    return cachedDesign(code, delta, form);
}

cd filterResponse(const WwssnFilter& filter, double omega) {
    cd h = 0.0;
    for (const Biquad& q : filter.sections)
        h += sectionResponse(q, omega);
    for (std::size_t j = 0; j < filter.taps.size(); ++j)
        h += filter.taps[j] *
             std::polar(1.0, -omega * (static_cast<double>(j) - static_cast<double>(filter.lead)));
    return h;
}

namespace {

// Applying the filter to a whole trace. The sections' recursions are short but each sample waits
// on the one before, so one pass over a long trace is bound by that wait: the trace is cut into
// kLanes stretches run together from rest, one per vector lane, and the start state each stretch
// missed is added afterwards (its response to no input dies away within the slowest mode's
// decay, a few hundred seconds). Everything goes block by block in place, so no copy of a long
// trace is made.
constexpr std::size_t kLanes = 4;
constexpr std::size_t kMinLane = 1u << 16;
constexpr std::size_t kBlock = 4096;
using State = std::array<double, 2>;
using v4d = double __attribute__((vector_size(32)));

template <std::size_t N>
[[gnu::always_inline]] inline void lanesFixed(const Biquad* q, const double* const* in,
                                              double* const* out, std::size_t m, State* state) {
    v4d b0[N], b1[N], b2[N], a1[N], a2[N], s0[N], s1[N];
    for (std::size_t k = 0; k < N; ++k) {
        b0[k] = v4d{} + q[k].b0;
        b1[k] = v4d{} + q[k].b1;
        b2[k] = v4d{} + q[k].b2;
        a1[k] = v4d{} + q[k].a1;
        a2[k] = v4d{} + q[k].a2;
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            s0[k][lane] = state[lane * N + k][0];
            s1[k][lane] = state[lane * N + k][1];
        }
    }
    for (std::size_t t = 0; t < m; ++t) {
        const v4d x = {in[0][t], in[1][t], in[2][t], in[3][t]};
        v4d y = {};
        for (std::size_t k = 0; k < N; ++k) {
            const v4d o = b0[k] * x + s0[k];
            s0[k] = b1[k] * x - a1[k] * o + s1[k];
            s1[k] = b2[k] * x - a2[k] * o;
            y += o;
        }
        for (std::size_t lane = 0; lane < kLanes; ++lane)
            out[lane][t] = y[lane];
    }
    for (std::size_t lane = 0; lane < kLanes; ++lane)
        for (std::size_t k = 0; k < N; ++k)
            state[lane * N + k] = {s0[k][lane], s1[k][lane]};
}

using LanesKernel = void (*)(const Biquad*, const double* const*, double* const*, std::size_t,
                             State*);

template <std::size_t N>
void lanesPortable(const Biquad* q, const double* const* in, double* const* out, std::size_t m,
                   State* state) {
    lanesFixed<N>(q, in, out, m, state);
}

#if defined(__x86_64__) && defined(__GNUC__)
// Four lanes in one register and fused multiply-adds where the processor has them.
template <std::size_t N>
[[gnu::target("avx2,fma")]] void lanesAvx2(const Biquad* q, const double* const* in,
                                           double* const* out, std::size_t m, State* state) {
    lanesFixed<N>(q, in, out, m, state);
}
#endif

template <std::size_t N> LanesKernel lanesKernel() {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    if (avx2)
        return lanesAvx2<N>;
#endif
    return lanesPortable<N>;
}

LanesKernel lanesKernelFor(std::size_t sections) {
    switch (sections) {
    case 1:
        return lanesKernel<1>();
    case 2:
        return lanesKernel<2>();
    case 3:
        return lanesKernel<3>();
    case 4:
        return lanesKernel<4>();
    default:
        return nullptr;
    }
}

// Adds to out the response of the sections, left in `state`, to no input, for up to n samples;
// `state` becomes what is left of it after them (zero once it has died away).
void addZeroInputResponse(std::span<const Biquad> q, State* state, float* out, std::size_t n) {
    double initial = 0;
    for (std::size_t k = 0; k < q.size(); ++k)
        initial += std::abs(state[k][0]) + std::abs(state[k][1]);
    if (initial == 0)
        return;
    for (std::size_t t = 0; t < n; ++t) {
        double y = 0;
        double left = 0;
        for (std::size_t k = 0; k < q.size(); ++k) {
            const double o = state[k][0];
            state[k][0] = state[k][1] - q[k].a1 * o;
            state[k][1] = -q[k].a2 * o;
            y += o;
            left += std::abs(state[k][0]) + std::abs(state[k][1]);
        }
        out[t] = static_cast<float>(out[t] + y);
        if (left < 1e-14 * initial) {
            for (std::size_t k = 0; k < q.size(); ++k)
                state[k] = {0.0, 0.0};
            return;
        }
    }
}

// One stretch [begin, end) of the trace on its way through the filter.
struct Stretch {
    std::size_t begin = 0, end = 0;
    std::vector<double> before; // the `back` inputs before the next block
    std::vector<double> ahead;  // inputs at end .. end + lead, kept before another stretch
                                // overwrites them
    std::vector<double> buf, out;
};

class WholeTrace {
public:
    WholeTrace(const WwssnFilter& f, std::span<float> x)
        : f_(f), x_(x), lead_(f.lead), back_(f.taps.size() - 1 - f.lead) {}

    Stretch stretch(std::size_t begin, std::size_t end) const {
        Stretch s;
        s.begin = begin;
        s.end = end;
        s.before.resize(back_);
        for (std::size_t t = 0; t < back_; ++t)
            s.before[t] = input(begin + t, back_);
        s.ahead.resize(lead_);
        for (std::size_t t = 0; t < lead_; ++t)
            s.ahead[t] = input(end + t, 0);
        s.buf.resize(back_ + kBlock + lead_);
        s.out.resize(kBlock);
        return s;
    }

    // The block at `at` (m samples) into s.buf, the inputs before it and ahead included.
    void load(Stretch& s, std::size_t at, std::size_t m) const {
        std::copy(s.before.begin(), s.before.end(), s.buf.begin());
        for (std::size_t t = 0; t < m + lead_; ++t) {
            const std::size_t i = at + t;
            s.buf[back_ + t] = i < s.end ? x_[i] : s.ahead[i - s.end];
        }
    }

    // The correction taps added to the sections' output in s.out, the result written back, and
    // the inputs the next block needs before it kept.
    void finish(Stretch& s, std::size_t at, std::size_t m) {
        for (std::size_t j = 0; j < f_.taps.size(); ++j) {
            // Output t takes input t + lead - j, at buf[back + t + lead - j].
            const double w = f_.taps[j];
            const double* in = s.buf.data() + (back_ + lead_ - j);
            for (std::size_t t = 0; t < m; ++t)
                s.out[t] += w * in[t];
        }
        for (std::size_t t = 0; t < m; ++t)
            x_[at + t] = static_cast<float>(s.out[t]);
        std::copy(s.buf.begin() + static_cast<std::ptrdiff_t>(m),
                  s.buf.begin() + static_cast<std::ptrdiff_t>(m + back_), s.before.begin());
    }

    // The input at i - shift, zero outside the trace.
    double input(std::size_t i, std::size_t shift) const {
        return i >= shift && i - shift < x_.size() ? x_[i - shift] : 0.0;
    }

private:
    const WwssnFilter& f_;
    std::span<float> x_;
    std::size_t lead_, back_;
};

} // namespace

void convolveInstrument(std::span<float> x, double delta, int code) {
    if (x.empty())
        return;
    const WwssnFilter filter = designWwssnFilter(code, delta, WwssnForm::TwoSided);
    if (filter.empty())
        return;
    if (!(filter.residual <= kFallbackResidual)) {
        convolveSpectrally(x, delta, code);
        return;
    }
    const std::size_t n = x.size();
    const std::span<const Biquad> q = filter.sections;
    WholeTrace whole(filter, x);
    std::vector<State> carried(q.size(), State{0.0, 0.0}); // the sections' state at `done`
    const LanesKernel kernel = lanesKernelFor(q.size());
    const std::size_t len = kernel && n >= kLanes * kMinLane ? n / kLanes : 0;
    const std::size_t done = kLanes * len;
    // Taken now: the lanes overwrite the inputs before it.
    Stretch rest = whole.stretch(done, n);

    if (len > 0) {
        std::vector<Stretch> lanes;
        for (std::size_t lane = 0; lane < kLanes; ++lane)
            lanes.push_back(whole.stretch(lane * len, (lane + 1) * len));
        std::vector<State> state(kLanes * q.size(), State{0.0, 0.0});
        for (std::size_t b = 0; b < len; b += kBlock) {
            const std::size_t m = std::min(kBlock, len - b);
            const double* in[kLanes];
            double* out[kLanes];
            for (std::size_t lane = 0; lane < kLanes; ++lane) {
                whole.load(lanes[lane], lanes[lane].begin + b, m);
                in[lane] = lanes[lane].buf.data() + (filter.taps.size() - 1 - filter.lead);
                out[lane] = lanes[lane].out.data();
            }
            kernel(q.data(), in, out, m, state.data());
            for (std::size_t lane = 0; lane < kLanes; ++lane)
                whole.finish(lanes[lane], lanes[lane].begin + b, m);
        }
        // The first stretch started where the trace does; each later one is owed the state the
        // one before it ended in.
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            if (lane > 0)
                addZeroInputResponse(q, carried.data(), x.data() + lane * len, len);
            for (std::size_t k = 0; k < q.size(); ++k) {
                carried[k][0] += state[lane * q.size() + k][0];
                carried[k][1] += state[lane * q.size() + k][1];
            }
        }
    }

    // The rest (or all of a short trace) in order, from the state reached.
    ParallelSections sections({q.begin(), q.end()});
    sections.setState(carried);
    const std::size_t back = filter.taps.size() - 1 - filter.lead;
    for (std::size_t at = done; at < n; at += kBlock) {
        const std::size_t m = std::min(kBlock, n - at);
        whole.load(rest, at, m);
        sections.run({rest.buf.data() + back, m}, {rest.out.data(), m});
        whole.finish(rest, at, m);
    }
}

} // namespace sac::dsp
