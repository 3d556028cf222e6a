#pragma once

#include "acquisition/RetrievalCycle.h"
#include "base/Time.h"

#include <QHash>
#include <QList>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class SacObject;

// What the seismogram view draws: the pieces of every row, in table order, each with its raw
// copy (for inspection and export) and its table row. The list of traces is shared with the
// view, which draws that very list; it is only ever replaced whole, in one step.
class TraceList {
public:
    using Traces = std::vector<std::unique_ptr<SacObject>>;

    explicit TraceList(std::shared_ptr<Traces> traces);

    void setTraces(std::shared_ptr<Traces> traces) { traces_ = std::move(traces); }
    const std::shared_ptr<Traces>& traces() const { return traces_; }
    const QList<int>& rows() const { return rows_; }
    const SacObject* raw(std::size_t i) const {
        return i < raws_.size() ? raws_[i].get() : nullptr;
    }
    // Pieces of the row too short to filter, drawn unfiltered.
    int unfiltered(int row) const { return unfiltered_.value(row); }
    // Some trace held has samples to draw.
    bool anyDrawn() const;
    // Each trace held with its raw counterpart (either may be null), for saving.
    std::vector<std::pair<const SacObject*, const SacObject*>> shown() const;

    struct Summary {
        std::uint64_t identity = 0, revision = 0;
        std::shared_ptr<const void> prepared;
    };
    struct Applied {
        bool drawn = false;             // some row has samples
        int rowsRetrieved = 0;          // rows with newly processed pieces
        std::vector<Summary> summaries; // made with the traces, for the view to adopt
    };
    // A retrieval's result in place of what is held: rows it processed get their new pieces,
    // rows it left unchanged keep theirs, rows that brought nothing keep their place with an
    // empty trace of their codes and label (a cancelled retrieval's rows are left out). New
    // pieces are referenced to `reference` (kept as they are when it is unknown).
    Applied apply(CycleResult& result, const QStringList& labels, std::optional<Time> reference,
                  Time now);
    // The pieces in another order: `order` lists the positions now held.
    void reorder(const std::vector<std::size_t>& order);

private:
    std::shared_ptr<Traces> traces_;
    std::vector<std::shared_ptr<const SacObject>> raws_;
    QList<int> rows_;
    QHash<int, int> unfiltered_;
};
