#pragma once

#include "components/sac/SacObject.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

// What became of one input: refused by the decoder, or the samples it held and what the chain
// left of them.
struct SacChainOutcome {
    bool decoded = false;
    std::size_t samplesIn = 0, samplesOut = 0;
    bool allFinite = true;
};

// Decodes a body as the download does and, when it holds a seismogram, runs every processing
// step on it with the values the settings fields could hand over. The header's USER0..USER3
// words supply odd corners and factors, so the fuzzer reaches them too.
inline SacChainOutcome runSacChain(std::span<const std::byte> body) {
    SacChainOutcome out;
    SacObject s;
    if (!s.initWithNSData(body, "fuzz.sac"))
        return out;
    if (s.GetSacHeader() && s.GetSacSeis()) {
        if (!s.isSacFile())
            return out;
        s.ComputeExtrema();
    }
    out.decoded = true;
    out.samplesIn = s.samples().size();
    const sac::SacHeader* h = s.GetSacHeader();
    const float corner = h ? h->getFloat(40) : 0.05f;
    const float corner2 = h ? h->getFloat(41) : 0.002f;
    const float factorValue = h ? h->getFloat(42) : 2.0f;
    const int factor = std::isfinite(factorValue) && std::abs(factorValue) < 1e9f
                           ? static_cast<int>(factorValue)
                           : std::numeric_limits<int>::min();
    const int poles = h ? h->getInt(80 + 3) % 16 : 2;

    (void)s.kcmpnm();
    s.SubtractLinearTrend();
    s.RemoveMean();
    s.Taper(0.05f);
    s.LPBUfilter(corner, 2, 2);
    s.HPBUfilter(corner2, 2, poles);
    s.LPBUfilter(-10.0f, 2, 2);
    s.ConvolveInstrument(1);
    s.ConvolveInstrument(2);
    s.Decimate(5);
    s.Decimate(2);
    s.Decimate(factor);
    s.SubtractLinearTrend();
    s.RemoveMean();
    s.Integrate();
    const float rms = static_cast<float>(s.simpleRMS());
    s.ScaleAmplitudes(rms == 0.0f ? 0.0f : 1.0f / rms);
    s.adjustReferenceTimeToNSDate(SacObject::Date{});
    (void)s.encode();
    out.samplesOut = s.samples().size();
    for (const float v : s.samples())
        out.allFinite = out.allFinite && std::isfinite(v);
    return out;
}
