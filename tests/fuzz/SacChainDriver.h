#pragma once

#include "components/sac/SacObject.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

// Decodes a body as the download does and, when it holds a seismogram, runs every processing
// step on it with the values the settings fields could hand over. The header's USER0..USER3
// words supply odd corners and factors, so the fuzzer reaches them too.
inline void runSacChain(std::span<const std::byte> body) {
    SacObject s;
    if (!s.initWithNSData(body, "fuzz.sac"))
        return;
    if (s.GetSacHeader() && s.GetSacSeis()) {
        if (!s.isSacFile())
            return;
        s.ComputeExtrema();
    }
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
}
