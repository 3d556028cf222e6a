#pragma once

#include "base/Time.h"
#include "components/sac/SacObject.h"

#include <cmath>
#include <cstdint>
#include <vector>

// Plausible broadband noise: two microseism bands, a slow drift and white noise, from a fixed
// seed so every run sees the same samples.
inline std::vector<float> benchSamples(std::size_t n, double delta, std::uint32_t seed = 1) {
    std::vector<float> x(n);
    std::uint32_t state = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < n; ++i) {
        state = state * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(state >> 8) / 16777216.0 - 0.5);
        const double t = static_cast<double>(i) * delta;
        x[i] =
            static_cast<float>(300 * std::sin(2 * 3.14159265 * t / 7.0) +
                               120 * std::sin(2 * 3.14159265 * t / 15.3) + 0.01 * t + 40 * noise);
    }
    return x;
}

inline SacObject benchTrace(std::size_t n, double delta, std::uint32_t seed = 1) {
    return SacObject::fromSamples(benchSamples(n, delta, seed), delta,
                                  civil::dateOf(2024, 1, 1, 0, 0, 0));
}

struct BenchCase {
    const char* name;
    std::size_t samples;
    double delta;
};

inline constexpr BenchCase kHour40{"1h@40sps", 3600 * 40 + 1, 0.025};
inline constexpr BenchCase kDay100{"1d@100sps", 86400 * 100 + 1, 0.01};
