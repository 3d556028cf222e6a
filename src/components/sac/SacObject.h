#pragma once

#include "components/sac/SacHeader.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// One seismogram: a SAC header and its evenly spaced samples, with the processing operations
// the monitor applies to it. Every operation completes on any object, also on one that holds no
// header or no samples, and on any argument value.
class SacObject {
public:
    using Date = std::chrono::system_clock::time_point;

    SacObject();
    // Copies would share an identity and confuse caches keyed on it; moving is enough.
    SacObject(const SacObject&) = delete;
    SacObject& operator=(const SacObject&) = delete;
    SacObject(SacObject&&) = default;
    SacObject& operator=(SacObject&&) = default;

    // Decodes binary SAC in either byte order (little-endian tried first) and keeps the name.
    // Answers false, holding nothing, for anything that is not a complete SAC file: too short
    // for a header, no known header version, or fewer sample bytes than the header declares.
    bool initWithNSData(std::span<const std::byte> bytes, std::string withPath);

    // Null when no header, resp. no samples, are held.
    const sac::SacHeader* GetSacHeader() const;
    const float* GetSacSeis() const;

    // A header this program can draw: version 6 or 7, evenly spaced, a positive finite sample
    // interval, a non-negative sample count, and the samples present.
    bool isSacFile() const;

    // Stores DEPMIN, DEPMAX and DEPMEN.
    void ComputeExtrema();
    std::string kcmpnm() const;

    void SubtractLinearTrend();
    void RemoveMean();
    void Taper(float width);
    void LPBUfilter(float corner, int NPasses, int NPoles);
    void HPBUfilter(float corner, int NPasses, int NPoles);
    void ConvolveInstrument(int code);
    void Decimate(int factor);
    void Integrate();
    double simpleRMS() const;
    void ScaleAmplitudes(float factor);
    // Sample times become relative to the given instant; absolute times stay. No date keeps the
    // previous reference.
    void adjustReferenceTimeToNSDate(std::optional<Date> date);
    void setLabelString(std::string label);

    // What the display and the tools read.
    const std::string& label() const { return label_; }
    const std::string& name() const { return name_; }
    std::span<const float> samples() const { return samples_; }
    double delta() const;
    // Seconds of the first sample after the reference time (SAC's B), kept in double precision.
    double begin() const { return begin_; }
    Date referenceTime() const { return reference_; }
    Date startTime() const;
    // A process-unique identity and a counter bumped by every change of the samples or timing,
    // so that a view can cache what it derives from them.
    std::uint64_t identity() const { return identity_; }
    std::uint64_t revision() const { return revision_; }

    // Builds a trace from samples (for writers, tests, the demo service and stored samples). With
    // `like`, its header is copied (names, coordinates, units) and the timing and extrema are
    // rewritten for the new samples.
    static SacObject fromSamples(std::vector<float> samples, double delta, Date reference,
                                 double begin = 0.0, const sac::SacHeader* like = nullptr);
    sac::SacHeader* header() { return header_ ? &*header_ : nullptr; }
    // Binary SAC with the header brought up to date (NPTS, DELTA, B, E, extrema, times), always
    // as header version 6: a version 7 input's footer of double-precision copies is not kept,
    // so its header is written as the version it then is. An undefined reference time stays
    // undefined (B keeps the first sample's offset).
    std::vector<std::byte> encode(std::endian order = std::endian::little) const;
    // The product of every factor ScaleAmplitudes applied: what the samples were multiplied by
    // since they were loaded (so 1 / it is the unit-RMS trace's RMS before the scaling).
    double appliedScale() const { return appliedScale_; }
    // Whether the reference time is known (from the header, or given since).
    bool hasReferenceTime() const { return referenceDefined_; }

private:
    void changed() { ++revision_; }
    void syncTimingIntoHeader();

    std::optional<sac::SacHeader> header_;
    std::vector<float> samples_;
    std::string name_;
    std::string label_;
    Date reference_{};
    bool referenceDefined_ = true;
    double appliedScale_ = 1.0;
    double begin_ = 0.0;
    std::uint64_t identity_;
    std::uint64_t revision_ = 0;
};

// SAC keeps the interval in single precision (0.05 is stored as 0.0500000007); summed over an
// hour that drifts by microseconds, so what is derived from a trace takes it rounded to the
// microsecond, as ObsPy does when it reads SAC.
double intervalOf(const SacObject& s);
