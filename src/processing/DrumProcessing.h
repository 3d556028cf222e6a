#pragma once

#include "base/Time.h"
#include "processing/ProcessingOptions.h"
#include "store/Segment.h"

#include <memory>
#include <vector>

// The drum's processing: a long record cut into blocks, each run through the chain with a
// margin of raw samples on both sides, so the joins between blocks are as seamless as one pass
// over the whole record would be, and a new minute re-runs one block, not a day.
namespace drum {

struct Block {
    Time from{}, to{}; // what the block covers
    // Processed (unscaled) samples within [from, to), oldest first.
    std::vector<std::shared_ptr<const Segment>> runs;
    double sumSquares = 0;   // over the runs' samples, for the drum's common scale
    std::size_t count = 0;   // samples counted in sumSquares
};

// Raw samples around a block, as the store holds them (every segment, oldest first): the chain
// runs on every segment long enough to filter (shorter ones are left out), with the option set
// the channel code selects, and keeps what falls in [from, to).
Block process(const std::vector<Segment>& raw, Time from, Time to, const ProcessingOptions& options);

// Raw samples a block asks for on each side, so filter start-up and taper stay outside it.
inline constexpr double kMarginSeconds = 20 * 60;

} // namespace drum
