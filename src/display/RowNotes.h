#pragma once

#include "acquisition/MonitorSession.h"
#include "components/QuilmRealTimeDisplayView02.h"
#include "events/EventContext.h"

class StationPlaces;
class TraceList;

#include <QHash>

#include <optional>
#include <vector>

// What the seismogram view writes beside each row and in what order it stacks the rows, from
// values: the traces drawn (several pieces may share one row of the list), the earthquake's
// context of each, and each row's health.
namespace rownotes {

struct Trace {
    QString station;    // "NET.STA", empty when the header names none
    int row = -1;       // the row of the channel list it belongs to
    bool held = false;  // a trace object exists
    bool empty = true;  // it has no samples
    int unfiltered = 0; // pieces of its row too short for the filters
};

struct Layout {
    std::vector<std::size_t> order; // the traces, top to bottom
    std::vector<int> viewRows;      // for each trace in that order, the row of the view it is in
    std::vector<QuilmRealTimeDisplayView02::TraceAnnotation> notes; // one per view row
};

// `contexts` has one entry per trace (none without an origin or a place); `rows` the list's
// row states (may be shorter); `originKnown` whether an earthquake is shown at all; by distance
// sorts the rows nearest first (those without one last), else the list's order holds. The pieces
// of one channel stay together in one view row.
Layout arrange(const std::vector<Trace>& traces,
               const std::vector<std::optional<context::RowContext>>& contexts,
               const std::vector<RowState>& rows, bool originKnown, bool placesBusy,
               bool byDistance);

// The earthquake's context of each station, kept from one layout to the next: a stream lays
// the rows out at every frame, and travel times cost far more than the rest of a layout while
// the origin, the model and the stations' places rarely change.
class ContextMemo {
public:
    const std::vector<std::optional<context::RowContext>>&
    contexts(const SeismicOrigin& origin, const QString& model,
             const std::vector<QString>& stations, const QHash<QString, context::Place>& places);
    // How often the contexts were worked out rather than reused.
    int workedOut() const { return workedOut_; }

private:
    std::optional<SeismicOrigin> origin_;
    QString model_;
    std::vector<QString> stations_;
    QHash<QString, context::Place> places_;
    std::vector<std::optional<context::RowContext>> contexts_;
    int workedOut_ = 0;
};

// The same for the traces a list holds, with the earthquake's context worked out from `origin`
// (none: no context), the travel-time model and the stations' places; through `memo`, or one
// shared by every caller without it.
Layout arrange(const TraceList& traces, const std::optional<SeismicOrigin>& origin,
               const QString& model, const StationPlaces& places, const std::vector<RowState>& rows,
               bool byDistance, ContextMemo* memo = nullptr);

} // namespace rownotes
