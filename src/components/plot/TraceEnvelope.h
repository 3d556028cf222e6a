#pragma once

#include <cstddef>
#include <span>
#include <vector>

// A trace reduced to what a row of pixel columns can show, apart from any widget.
namespace plot {

// The lowest and highest sample of every block of kBlock samples (NaNs ignored), so a column
// that spans many blocks reads a few summaries instead of every sample.
struct BlockSummary {
    static constexpr std::size_t kBlock = 128;
    std::vector<float> low, high;
};
BlockSummary summarise(std::span<const float> samples);

// Per pixel column: the lowest and highest sample that falls in it, the last one (to join the
// next column without a gap) and whether any does.
struct ColumnEnvelope {
    std::vector<float> low, high, last;
    std::vector<bool> present;
};

// The samples x[i] at offset + i * delta seconds, over `width` columns spanning [left, right].
// The summary, when given, must be summarise(x). With `from` and `count`, only those columns
// (count < 0: the rest), exactly as the whole would have them.
ColumnEnvelope columnEnvelope(std::span<const float> x, double delta, double offset, double left,
                              double right, int width, const BlockSummary* summary = nullptr,
                              int from = 0, int count = -1);

// Whether a summary pays off: when a column spans several blocks.
bool summaryPaysOff(std::size_t samples, double delta, double left, double right, int width);

// Index of the first sample at or after time t, clamped to [0, n].
std::size_t sampleIndexAt(double t, double offset, double delta, std::size_t n);

} // namespace plot
