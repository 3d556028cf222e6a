#pragma once

#include "acquisition/RetrievalCycle.h"
#include "base/Time.h"
#include "channels/ChannelTable.h"
#include "components/sac/SacHeader.h"
#include "processing/LiveChain.h"
#include "processing/ProcessingOptions.h"
#include "store/Segment.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class TraceStore;

// The rows of a streamed monitor, processed as their samples come: each channel keeps a causal
// chain, a piece the store took goes through it at once (costing only its own samples), and what
// comes out is appended to the row. A restart of the chain (a gap, another rate) begins a new
// piece, so gaps stay gaps. A row whose stored samples changed in a way no piece pushed here
// explains (a hole filled behind the newest sample, a poll, a fill) is run again from the store
// at the next frame; so is every row after reset() or renewAll().
//
// A frame holds only the rows that changed since the last one, each scaled to unit RMS over what
// lies in the window; the others are listed as kept. Runs on the owner's thread.
class LiveRows {
public:
    explicit LiveRows(const TraceStore& store);
    ~LiveRows();

    // Forgets every row: the next frame builds each from the store.
    void reset(const ChannelTable& channels, const ProcessingOptions& options);
    void clear();
    void renewAll();
    // Other options run every row again.
    void setOptions(const ProcessingOptions& options);
    void setReadyHook(RetrievalCycle::ReadyHook hook) { hook_ = std::move(hook); }
    // The header the row's traces borrow (the station's place, its units).
    void rememberHeader(int row, const sac::SacHeader& header);

    // A piece the store has just taken for the row; `revisionBefore` is the channel's revision
    // in the store before it took the piece.
    void push(int row, const Segment& piece, std::uint64_t revisionBefore);

    // The rows for the window [from, to]: those changed since the last frame, processed and
    // scaled; the rest kept; rows holding nothing there failed as having nothing yet.
    std::shared_ptr<CycleResult> frame(Time from, Time to);
    // Whether a frame would hold anything new.
    bool changed() const;

    // Output samples held over all rows (for measuring).
    std::size_t heldSamples() const;

private:
    struct Row {
        ChannelId channel;
        QString label;
        std::optional<processing::LiveChain> chain;
        std::vector<Segment> runs; // processed, unscaled, oldest first
        std::optional<sac::SacHeader> header;
        std::optional<Time> end;    // where the chain's next input is due
        std::uint64_t revision = 0; // of the store, as the row last accounted for it
        bool renew = true, changed = true;
    };
    void rebuild(Row& row, Time from, Time to);
    void append(Row& row, std::vector<processing::LiveChain::Run> runs);
    static void trim(Row& row, Time from);
    void build(int index, Row& row, Time from, CycleResult& out) const;

    const TraceStore& store_;
    ProcessingOptions options_;
    std::vector<Row> rows_;
    RetrievalCycle::ReadyHook hook_;
};
