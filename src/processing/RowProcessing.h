#pragma once

#include "base/ChannelId.h"
#include "processing/ProcessingOptions.h"
#include "store/Segment.h"

#include <memory>
#include <vector>

class SacObject;
namespace sac {
class SacHeader;
}

// A row of the display is every piece of one channel held in its window: each piece goes through
// the chain where it lies, and all of them share one unit-RMS factor so the pieces of a row can
// be compared.
namespace processing {

// Pieces with fewer samples than this are too short for the filters to settle: they are only
// detrended and demeaned, then drawn on the row's scale.
inline constexpr std::size_t kShortestFilteredRun = 64;

struct RowPiece {
    std::unique_ptr<SacObject> trace;     // processed and scaled
    std::shared_ptr<const SacObject> raw; // as held, for inspection and export
};

struct Row {
    std::vector<RowPiece> pieces; // oldest first
    int unfiltered = 0;           // pieces too short to filter
};

// The station and channel codes a header leaves undefined, from the channel (the chain picks its
// option set by the component name).
void nameChannel(SacObject& seismogram, const ChannelId& channel);

// Each segment (oldest first) through the chain, then one factor for all: unit RMS over every
// sample of the row. `like`, when given, lends its header to every piece.
Row processRow(const std::vector<Segment>& segments, const ChannelId& channel,
               const ProcessingOptions& options, const sac::SacHeader* like);

} // namespace processing
