#include "components/sac/SacObject.h"

#include "components/sac/Butterworth.h"
#include "base/Time.h"
#include "components/sac/Decimator.h"
#include "components/sac/SignalOps.h"
#include "components/sac/WwssnInstrument.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

using namespace sac;

namespace {

std::atomic<std::uint64_t> nextIdentity{1};

bool defined(std::int32_t v) {
    return v != kUndefinedInt;
}

// The header's reference time, or nothing when a field is undefined or out of range; two-digit
// years are read as 19xx like SAC and ObsPy do.
std::optional<SacObject::Date> referenceFromHeader(const SacHeader& h) {
    std::int64_t year = h.getInt(word::NZYEAR);
    const std::int32_t jday = h.getInt(word::NZJDAY), hour = h.getInt(word::NZHOUR),
                       minute = h.getInt(word::NZMIN), sec = h.getInt(word::NZSEC),
                       msec = h.getInt(word::NZMSEC);
    if (!defined(static_cast<std::int32_t>(year)) || !defined(jday) || !defined(hour) ||
        !defined(minute) || !defined(sec) || !defined(msec))
        return std::nullopt;
    if (year >= 0 && year <= 99)
        year += 1900;
    if (year < 1700 || year > 2250 || jday < 1 || jday > 366 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || sec < 0 || sec > 60 || msec < 0 || msec > 999)
        return std::nullopt;
    return civil::addSeconds(civil::dateOf(year, 1, 1, hour, minute, sec, msec * 1'000'000),
                             (jday - 1) * 86400.0);
}

double headerBegin(const SacHeader& h) {
    const float b = h.getFloat(word::B);
    if (b == kUndefinedFloat || !std::isfinite(b))
        return 0.0;
    return b;
}

// Reference time, sample count, B and E into a header. SAC keeps whole milliseconds in NZMSEC;
// the rest of the reference goes into B.
void writeTiming(SacHeader& h, SacObject::Date reference, double begin, std::size_t n,
                 double delta) {
    const civil::Fields f = civil::fieldsOf(reference);
    const std::int64_t msec = f.nanosecond / 1'000'000;
    const SacObject::Date nzTime =
        civil::dateOf(f.year, f.month, f.day, f.hour, f.minute, f.second, msec * 1'000'000);
    const double b = begin + civil::secondsBetween(nzTime, reference);
    const std::int64_t jday =
        civil::daysFromCivil(f.year, f.month, f.day) - civil::daysFromCivil(f.year, 1, 1) + 1;
    h.setInt(word::NZYEAR, static_cast<std::int32_t>(f.year));
    h.setInt(word::NZJDAY, static_cast<std::int32_t>(jday));
    h.setInt(word::NZHOUR, f.hour);
    h.setInt(word::NZMIN, f.minute);
    h.setInt(word::NZSEC, f.second);
    h.setInt(word::NZMSEC, static_cast<std::int32_t>(msec));
    h.setInt(word::NPTS, static_cast<std::int32_t>(
                             std::min<std::size_t>(n, std::numeric_limits<std::int32_t>::max())));
    h.setFloat(word::B, static_cast<float>(b));
    h.setFloat(word::E, static_cast<float>(b + (n > 0 ? static_cast<double>(n - 1) : 0.0) * delta));
}

void writeExtrema(SacHeader& h, std::span<const float> x) {
    if (x.empty())
        return;
    // Four independent lanes so the comparisons and additions overlap.
    float lo[4] = {x[0], x[0], x[0], x[0]}, hi[4] = {x[0], x[0], x[0], x[0]};
    double sum[4] = {0, 0, 0, 0};
    std::size_t i = 0;
    for (; i + 4 <= x.size(); i += 4) {
        for (std::size_t k = 0; k < 4; ++k) {
            lo[k] = std::min(lo[k], x[i + k]);
            hi[k] = std::max(hi[k], x[i + k]);
            sum[k] += x[i + k];
        }
    }
    for (; i < x.size(); ++i) {
        lo[0] = std::min(lo[0], x[i]);
        hi[0] = std::max(hi[0], x[i]);
        sum[0] += x[i];
    }
    h.setFloat(word::DEPMIN, std::min(std::min(lo[0], lo[1]), std::min(lo[2], lo[3])));
    h.setFloat(word::DEPMAX, std::max(std::max(hi[0], hi[1]), std::max(hi[2], hi[3])));
    h.setFloat(word::DEPMEN, static_cast<float>((sum[0] + sum[1] + sum[2] + sum[3]) /
                                                static_cast<double>(x.size())));
}

} // namespace

SacObject::SacObject() : identity_(nextIdentity.fetch_add(1)) {}

bool SacObject::initWithNSData(std::span<const std::byte> bytes, std::string withPath) {
    name_ = std::move(withPath);
    header_.reset();
    samples_.clear();
    changed();

    std::optional<SacHeader> h = SacHeader::decode(bytes);
    if (!h)
        return false;
    const std::int32_t npts = h->getInt(word::NPTS);
    if (npts < 0)
        return false;
    // 64-bit arithmetic: the declared count must fit in what actually arrived.
    const std::uint64_t needed = kHeaderBytes + 4ull * static_cast<std::uint64_t>(npts);
    if (bytes.size() < needed)
        return false;

    samples_.resize(static_cast<std::size_t>(npts));
    const std::byte* p = bytes.data() + kHeaderBytes;
    if (!samples_.empty())
        std::memcpy(samples_.data(), p, samples_.size() * sizeof(float));
    if (h->byteOrder() != std::endian::native) {
        for (float& v : samples_)
            v = std::bit_cast<float>(__builtin_bswap32(std::bit_cast<std::uint32_t>(v)));
    }
    // Without a reference the epoch stands in, as ObsPy does, but it is never written back.
    const auto reference = referenceFromHeader(*h);
    reference_ = reference.value_or(Date{});
    referenceDefined_ = reference.has_value();
    begin_ = headerBegin(*h);
    header_ = std::move(h);
    return true;
}

const SacHeader* SacObject::GetSacHeader() const {
    return header_ ? &*header_ : nullptr;
}

const float* SacObject::GetSacSeis() const {
    return samples_.empty() ? nullptr : samples_.data();
}

bool SacObject::isSacFile() const {
    if (!header_)
        return false;
    const std::int32_t version = header_->getInt(word::NVHDR);
    const float delta = header_->getFloat(word::DELTA);
    const std::int32_t npts = header_->getInt(word::NPTS);
    return (version == 6 || version == 7) && header_->getInt(word::LEVEN) == 1 &&
           std::isfinite(delta) && delta > 0 && npts >= 0 &&
           static_cast<std::size_t>(npts) == samples_.size();
}

void SacObject::ComputeExtrema() {
    if (header_)
        writeExtrema(*header_, samples_);
}

std::string SacObject::kcmpnm() const {
    return header_ ? header_->getText(text::KCMPNM) : std::string();
}

double SacObject::delta() const {
    if (!header_)
        return 0.0;
    const float d = header_->getFloat(word::DELTA);
    return std::isfinite(d) && d > 0 ? d : 0.0;
}

SacObject::Date SacObject::startTime() const {
    return civil::addSeconds(reference_, begin_);
}

void SacObject::SubtractLinearTrend() {
    dsp::removeLinearTrend(samples_);
    changed();
}

void SacObject::RemoveMean() {
    dsp::removeMean(samples_);
    changed();
}

void SacObject::Taper(float width) {
    dsp::taperHanning(samples_, width);
    changed();
}

void SacObject::LPBUfilter(float corner, int NPasses, int NPoles) {
    const auto sections = dsp::designButterworth(dsp::FilterBand::LowPass, NPoles, corner, delta());
    dsp::applySections(samples_, sections, NPasses);
    changed();
}

void SacObject::HPBUfilter(float corner, int NPasses, int NPoles) {
    const auto sections =
        dsp::designButterworth(dsp::FilterBand::HighPass, NPoles, corner, delta());
    dsp::applySections(samples_, sections, NPasses);
    changed();
}

void SacObject::ConvolveInstrument(int code) {
    dsp::convolveInstrument(samples_, delta(), code);
    changed();
}

void SacObject::Decimate(int factor) {
    if (factor < 2 || samples_.empty() || !header_ || delta() <= 0)
        return;
    samples_ = dsp::decimate(samples_, factor);
    header_->setFloat(word::DELTA, static_cast<float>(delta() * factor));
    syncTimingIntoHeader();
    changed();
}

void SacObject::Integrate() {
    const double dt = delta();
    if (samples_.size() < 2 || dt <= 0)
        return;
    // SAC's trapezoidal INT: one sample fewer, each the area up to the midpoint between samples.
    double acc = 0;
    for (std::size_t i = 0; i + 1 < samples_.size(); ++i) {
        acc += 0.5 * dt * (static_cast<double>(samples_[i]) + samples_[i + 1]);
        samples_[i] = static_cast<float>(acc);
    }
    samples_.pop_back();
    begin_ += 0.5 * dt;
    syncTimingIntoHeader();
    changed();
}

double SacObject::simpleRMS() const {
    return dsp::rms(samples_);
}

void SacObject::ScaleAmplitudes(float factor) {
    dsp::scale(samples_, factor);
    appliedScale_ *= factor;
    changed();
}

void SacObject::adjustReferenceTimeToNSDate(std::optional<Date> date) {
    if (!date)
        return;
    const Date start = startTime();
    begin_ = civil::secondsBetween(*date, start);
    reference_ = *date;
    referenceDefined_ = true;
    syncTimingIntoHeader();
    changed();
}

void SacObject::setLabelString(std::string label) {
    label_ = std::move(label);
}

void SacObject::syncTimingIntoHeader() {
    if (header_)
        writeTiming(*header_, reference_, begin_, samples_.size(), delta());
}

SacObject SacObject::fromSamples(std::vector<float> samples, double delta, Date reference,
                                 double begin, const sac::SacHeader* like) {
    SacObject s;
    s.header_ = like ? *like : SacHeader::blank();
    s.header_->setFloat(word::DELTA, static_cast<float>(delta));
    if (!like) {
        s.header_->setInt(word::IZTYPE, IB);
        s.header_->setInt(word::IDEP, IUNKN);
    }
    s.samples_ = std::move(samples);
    s.reference_ = reference;
    s.begin_ = begin;
    s.syncTimingIntoHeader();
    s.ComputeExtrema();
    return s;
}

std::vector<std::byte> SacObject::encode(std::endian order) const {
    SacHeader h = header_ ? *header_ : SacHeader::blank();
    if (!header_)
        h.setFloat(word::DELTA, 1.0f);
    const double dt = delta() > 0 ? delta() : 1.0;
    writeTiming(h, reference_, begin_, samples_.size(), dt);
    if (!referenceDefined_) {
        // No reference to write: the NZ fields stay undefined and B, E keep their offsets.
        for (const int w : {word::NZYEAR, word::NZJDAY, word::NZHOUR, word::NZMIN, word::NZSEC,
                            word::NZMSEC})
            h.setInt(w, kUndefinedInt);
        h.setFloat(word::B, static_cast<float>(begin_));
        h.setFloat(word::E, static_cast<float>(
                                begin_ + static_cast<double>(samples_.empty() ? 0 : samples_.size() - 1) * dt));
    }
    h.setInt(word::NVHDR, 6); // no footer follows
    writeExtrema(h, samples_);
    const auto head = h.encode(order);
    std::vector<std::byte> out(head.begin(), head.end());
    out.resize(kHeaderBytes + 4 * samples_.size());
    std::byte* p = out.data() + kHeaderBytes;
    for (float v : samples_) {
        std::uint32_t w = std::bit_cast<std::uint32_t>(v);
        if (order != std::endian::native)
            w = __builtin_bswap32(w);
        std::memcpy(p, &w, 4);
        p += 4;
    }
    return out;
}

double intervalOf(const SacObject& s) {
    const double d = s.delta();
    const double rounded = std::round(d * 1e6) / 1e6;
    return std::abs(rounded - d) < 1e-7 * d ? rounded : d;
}
