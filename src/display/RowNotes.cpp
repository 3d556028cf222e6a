#include "display/RowNotes.h"

#include "acquisition/TraceList.h"
#include "channels/StationLocator.h"
#include "channels/StationPlaces.h"
#include "components/sac/SacObject.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace rownotes {

Layout arrange(const std::vector<Trace>& traces,
               const std::vector<std::optional<context::RowContext>>& contexts,
               const std::vector<RowState>& rows, bool originKnown, bool placesBusy,
               bool byDistance) {
    const std::size_t n = traces.size();
    std::vector<QuilmRealTimeDisplayView02::TraceAnnotation> notes(n);
    std::vector<double> distance(n, std::numeric_limits<double>::infinity());
    std::vector<int> rowOf(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Trace& t = traces[i];
        auto& note = notes[i];
        rowOf[i] = t.row;
        if (i < contexts.size() && contexts[i]) {
            const context::RowContext& c = *contexts[i];
            distance[i] = c.degrees;
            note.note = c.note;
            note.marks = c.marks;
            note.band = c.band;
        } else if (originKnown && t.held && !t.station.isEmpty()) {
            // Shown in the row's tooltip; a row without samples shows its own reason instead.
            note.status = inventory::noPlaceNote(t.station, placesBusy);
        }
        // Each row's health: how late and how complete, dimmed when silent, the reason when empty.
        const RowState* state = t.row >= 0 && static_cast<std::size_t>(t.row) < rows.size()
                                    ? &rows[static_cast<std::size_t>(t.row)]
                                    : nullptr;
        if (state && !state->health.isEmpty())
            note.note = note.note.isEmpty() ? state->health : note.note + u'\n' + state->health;
        const bool empty = !t.held || t.empty;
        note.dimmed = (state && state->silent) || empty;
        if (t.unfiltered > 0)
            note.status =
                t.unfiltered == 1
                    ? QStringLiteral("1 piece too short for the filters, drawn unfiltered")
                    : QStringLiteral("%1 pieces too short for the filters, drawn "
                                     "unfiltered")
                          .arg(t.unfiltered);
        if (empty && t.held)
            note.status = state && !state->failure.isEmpty()
                              ? QStringLiteral("No data: ") + state->failure
                              : QStringLiteral("No data");
    }
    Layout out;
    out.order.resize(n);
    std::iota(out.order.begin(), out.order.end(), 0);
    if (byDistance && originKnown)
        out.order = context::byDistance(distance, rowOf);
    else
        std::stable_sort(out.order.begin(), out.order.end(),
                         [&](std::size_t a, std::size_t b) { return rowOf[a] < rowOf[b]; });
    int previous = std::numeric_limits<int>::min();
    for (const std::size_t k : out.order) {
        if (out.notes.empty() || previous != rowOf[k])
            out.notes.push_back(std::move(notes[k]));
        previous = rowOf[k];
        out.viewRows.push_back(static_cast<int>(out.notes.size()) - 1);
    }
    return out;
}

} // namespace rownotes

namespace rownotes {

const std::vector<std::optional<context::RowContext>>&
ContextMemo::contexts(const SeismicOrigin& origin, const QString& model,
                      const std::vector<QString>& stations,
                      const QHash<QString, context::Place>& places) {
    if (origin_ && *origin_ == origin && model_ == model && stations_ == stations &&
        places_ == places)
        return contexts_;
    contexts_ = context::rowContexts(origin, model, stations, places);
    origin_ = origin;
    model_ = model;
    stations_ = stations;
    places_ = places;
    ++workedOut_;
    return contexts_;
}

Layout arrange(const TraceList& list, const std::optional<SeismicOrigin>& origin,
               const QString& model, const StationPlaces& places, const std::vector<RowState>& rows,
               bool byDistance, ContextMemo* memo) {
    static ContextMemo shared; // the GUI thread's: the only one laying rows out
    if (!memo)
        memo = &shared;
    const std::size_t n = list.traces() ? list.traces()->size() : 0;
    std::vector<Trace> facts(n);
    std::vector<QString> stations(n);
    for (std::size_t i = 0; i < n; ++i) {
        const SacObject* s = (*list.traces())[i].get();
        Trace& f = facts[i];
        f.station = stations[i] = StationPlaces::keyOf(s);
        f.row = list.rows().value(static_cast<qsizetype>(i), -1);
        f.held = s != nullptr;
        f.empty = !s || s->samples().empty();
        f.unfiltered = list.unfiltered(f.row);
    }
    QHash<QString, context::Place> known;
    for (auto it = places.all().begin(); it != places.all().end(); ++it)
        known.insert(it.key(), {it->latitude, it->longitude});
    static const std::vector<std::optional<context::RowContext>> none;
    return arrange(facts, origin ? memo->contexts(*origin, model, stations, known) : none, rows,
                   origin.has_value(), places.busy(), byDistance);
}

} // namespace rownotes
