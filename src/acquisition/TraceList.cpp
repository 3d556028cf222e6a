#include "acquisition/TraceList.h"

#include "components/sac/SacObject.h"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_map>

namespace {

// A row for a channel that brought nothing: no samples, its codes and label, so it keeps its
// place and can say why.
std::unique_ptr<SacObject> emptyRow(const ChannelId& ch, const QString& label, Time reference) {
    auto s = std::make_unique<SacObject>(SacObject::fromSamples({}, 1.0, reference, 0.0, nullptr));
    if (sac::SacHeader* h = s->header()) {
        h->setText(sac::text::KNETWK, ch.network.toStdString());
        h->setText(sac::text::KSTNM, ch.station.toStdString());
        h->setText(sac::text::KHOLE, ch.location.toStdString());
        h->setText(sac::text::KCMPNM, ch.channel.toStdString());
    }
    s->setLabelString(label.toStdString());
    return s;
}

} // namespace

TraceList::TraceList(std::shared_ptr<Traces> traces) : traces_(std::move(traces)) {}

TraceList::Applied TraceList::apply(CycleResult& r, const QStringList& labels,
                                    std::optional<Time> reference, Time now) {
    Applied out;
    Traces& traces = *traces_;
    std::map<int,
             std::vector<std::pair<std::unique_ptr<SacObject>, std::shared_ptr<const SacObject>>>>
        kept;
    // Where each row's pieces are held, found once: a stream keeps hundreds of rows per frame.
    std::unordered_map<int, std::vector<std::size_t>> heldAt;
    for (qsizetype at = 0; at < rows_.size(); ++at)
        heldAt[rows_[at]].push_back(static_cast<std::size_t>(at));
    for (const int row : r.kept)
        if (const auto held = heldAt.find(row); held != heldAt.end())
            for (const std::size_t k : held->second)
                if (k < traces.size() && traces[k])
                    kept[row].emplace_back(std::move(traces[k]),
                                           k < raws_.size() ? raws_[k] : nullptr);
    std::map<int, std::vector<CycleTrace*>> pieces;
    for (CycleTrace& t : r.traces)
        pieces[t.index].push_back(&t);
    std::map<int, const ChannelFailure*> failed;
    for (const ChannelFailure& f : r.failures)
        failed.emplace(f.index, &f);
    std::set<int> rows;
    for (const auto& [row, list] : pieces) {
        rows.insert(row);
        // Rows processed now say afresh how many of their pieces were too short to filter.
        if (const auto n = r.unfiltered.find(row); n != r.unfiltered.end())
            unfiltered_.insert(row, n->second);
        else
            unfiltered_.remove(row);
    }
    for (const auto& [row, list] : kept)
        rows.insert(row);
    for (const auto& [row, failure] : failed)
        rows.insert(row);

    Traces next;
    std::vector<std::shared_ptr<const SacObject>> raws;
    QList<int> order;
    for (const int row : rows) {
        if (const auto k = kept.find(row); k != kept.end()) {
            for (auto& [trace, raw] : k->second) {
                order << row;
                next.push_back(std::move(trace));
                raws.push_back(std::move(raw));
            }
            out.drawn = true;
            continue;
        }
        if (const auto p = pieces.find(row); p != pieces.end()) {
            for (CycleTrace* t : p->second) {
                t->seismogram->adjustReferenceTimeToNSDate(reference);
                t->seismogram->setLabelString(t->label.toStdString());
                if (t->prepared)
                    out.summaries.push_back(
                        {t->seismogram->identity(), t->seismogram->revision(), t->prepared});
                order << row;
                next.push_back(std::move(t->seismogram));
                raws.push_back(std::move(t->raw));
            }
            out.drawn = true;
            ++out.rowsRetrieved;
            continue;
        }
        const ChannelFailure& f = *failed.at(row);
        if (f.failure.kind == AcquisitionFailure::Kind::Cancelled)
            continue;
        order << row;
        next.push_back(emptyRow(f.channel, labels.value(f.index), reference.value_or(now)));
        raws.push_back(nullptr);
    }
    traces = std::move(next); // the same list object: the view keeps drawing it
    raws_ = std::move(raws);
    rows_ = std::move(order);
    return out;
}

void TraceList::reorder(const std::vector<std::size_t>& order) {
    Traces& traces = *traces_;
    Traces next;
    std::vector<std::shared_ptr<const SacObject>> raws;
    QList<int> rows;
    for (const std::size_t k : order) {
        if (k >= traces.size())
            continue;
        next.push_back(std::move(traces[k]));
        raws.push_back(k < raws_.size() ? raws_[k] : nullptr);
        rows << rows_.value(static_cast<qsizetype>(k));
    }
    traces = std::move(next);
    raws_ = std::move(raws);
    rows_ = std::move(rows);
}

bool TraceList::anyDrawn() const {
    return traces_ && std::any_of(traces_->begin(), traces_->end(),
                                  [](const auto& t) { return t && !t->samples().empty(); });
}

std::vector<std::pair<const SacObject*, const SacObject*>> TraceList::shown() const {
    std::vector<std::pair<const SacObject*, const SacObject*>> all;
    for (std::size_t i = 0; traces_ && i < traces_->size(); ++i)
        all.emplace_back((*traces_)[i].get(), raw(i));
    return all;
}
